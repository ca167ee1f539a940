#include "Report.h"

#include <filesystem>
#include <memory>

#include "Common.h"
#include "commission/HtmlReport.h"
#include "files/Utf8Files.h"
#include "files/WholeFile.h"
#include "plan/PlanFile.h"

namespace Cli {

Command AddReportCommand(CLI::App& app) {
    auto options = std::make_shared<ReportOptions>();
    CLI::App* command = app.add_subcommand("report", "write the site as found into one HTML file");
    command->footer(WithExitCodes(
        "A self-contained HTML file (no external resource) for the handover: the site,\n"
        "who made it, this computer's name and addresses, the date; then the problems\n"
        "(rows not as planned, with PLAN, and the site's faults, by the plan's location),\n"
        "counts by type, the work done (the as-built plans beside PLAN and the undo plans\n"
        "of these panels, with how many panels hold their writes now), every panel with\n"
        "the plan's # notes (the location first) and a map of the addresses. Prints on A4\n"
        "landscape. The file is replaced whole or not at all. Exit 0 when it was written,\n"
        "whatever the site's state (check says that).",
        "  callpanel report site.csv --html handover.html --site \"Block B\""));
    command->add_option("PLAN", options->PlanPath, "the plan, a CSV file (optional)")
        ->check(NonEmpty);
    command->add_option("--html", options->HtmlPath, "the HTML file to write")
        ->required()
        ->check(NonEmpty);
    command
        ->add_option("--site", options->Site,
                     "the site's or building's name (default: the name of the plan's folder), "
                     "or its folder: the report is named by it and its work done is the "
                     "folder's as-built and undo plans")
        ->check(NonEmpty);
    command->add_option("--by", options->By, "who made the report (default: your user name)")
        ->check(NonEmpty);
    AddSearchOptions(command, options->Search);
    AddQuietFlag(command);
    return {command, [options] { return RunReport(*options); }};
}

int RunReport(const ReportOptions& given) {
    ReportOptions options = given;
    // When --site names a folder, the site is that folder: it names the report, and its
    // records are the work done.
    std::error_code code;
    if (!options.Site.empty() && std::filesystem::is_directory(Utf8Path(options.Site), code)) {
        options.SiteFolder = options.Site;
        options.Site = FolderName(options.Site);
    }
    Plan plan;
    if (!options.PlanPath.empty() && !LoadPlan(options.PlanPath, PlanKind::KeyedByMac, plan))
        return ExitRefused;
    Engine engine;
    if (const int code = OpenEngine(engine, NeedNetwork::No)) return code;
    const Site site = SearchSite(engine, options.Search);

    ReportInput input;
    if (!BuildReport(options, plan, site.Panels, input)) return ExitRefused;
    std::string error;
    if (!WriteWhole(options.HtmlPath, ReportHtml(input), error)) {
        Error(error);
        return ExitFailed;
    }
    Error("report: " + options.HtmlPath + " (" + std::to_string(site.Panels.size()) + " panel(s))");
    return ExitOk;
}

} // namespace Cli
