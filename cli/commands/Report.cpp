#include "Report.h"

#include <algorithm>
#include <ctime>
#include <memory>

#include "Common.h"
#include "ComputerAddresses.h"
#include "commission/HtmlReport.h"
#include "files/WholeFile.h"
#include "plan/PlanFile.h"

namespace Cli {

namespace {

std::string LocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[48];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M (UTC%z)", &local);
    return text;
}

// This computer's addresses but loopback, which the site does not see.
std::vector<std::string> SiteFacingAddresses() {
    std::vector<std::string> addresses;
    for (const auto& a : ComputerAddresses())
        if (a[0] != 127)
            addresses.push_back(std::to_string(a[0]) + "." + std::to_string(a[1]) + "." +
                                std::to_string(a[2]) + "." + std::to_string(a[3]));
    return addresses;
}

// One report line per plan row, with the panel that answered for it, if any, and the row's
// own # notes.
ReportPanel PlannedPanel(const CheckRow& row, const Plan& plan,
                         const std::vector<FoundPanel>& found) {
    ReportPanel panel;
    panel.Result = row.Result;
    panel.Details = row.Details;
    const auto mac = ParseMac(row.Mac);
    std::copy(mac->begin(), mac->end(), panel.Record.Mac);
    panel.Found = false;
    for (const FoundPanel& p : found)
        if (MacOf(p.Record) == *mac && !panel.Found) {
            panel.Record = p.Record;
            panel.Via = p.Via;
            panel.Found = true;
        }
    for (const PlanRow& given : plan.Rows)
        if (given.Line == row.Line && row.Line > 0) panel.Notes = given.Notes;
    return panel;
}

// The report's panels and faults against the plan; false after saying why the plan cannot be
// checked.
bool AddPlanCheck(ReportInput& input, const Plan& plan, const std::string& planPath,
                  const std::vector<FoundPanel>& found) {
    input.PlanName = PlanName(planPath);
    for (const std::string& column : plan.Header)
        if (!column.empty() && column[0] == '#') input.NoteColumns.push_back(column);
    const PlanCheck check = CheckPlan(plan.Rows, RecordsOf(found), Factory());
    for (const PlanError& e : check.Errors)
        Error(Where(input.PlanName, e));
    if (!check.Errors.empty()) return false;
    input.Faults = check.Faults;
    for (const CheckRow& row : check.Rows)
        input.Panels.push_back(PlannedPanel(row, plan, found));
    return true;
}

} // namespace

Command AddReportCommand(CLI::App& app) {
    auto options = std::make_shared<ReportOptions>();
    CLI::App* command = app.add_subcommand("report", "write the site as found into one HTML file");
    command->footer(WithExitCodes(
        "A self-contained HTML file (no external resource) for the handover: date, this\n"
        "computer's addresses, counts by type, every panel with the plan's # notes, the\n"
        "check of each plan row (with PLAN), the site's faults and a picture of the\n"
        "address plan. Prints on A4. The file is replaced whole or not at all. Exit 0\n"
        "when it was written, whatever the site's state (check says that)."));
    command->add_option("PLAN", options->PlanPath, "the plan, a CSV file (optional)")
        ->check(NonEmpty);
    command->add_option("--html", options->HtmlPath, "the HTML file to write")
        ->required()
        ->check(NonEmpty);
    AddSearchOptions(command, options->Search);
    AddQuietFlag(command);
    return {command, [options] { return RunReport(*options); }};
}

int RunReport(const ReportOptions& options) {
    Plan plan;
    if (!options.PlanPath.empty() && !LoadPlan(options.PlanPath, PlanKind::KeyedByMac, plan))
        return ExitRefused;
    Engine engine;
    if (const int code = OpenEngine(engine, NeedNetwork::No)) return code;
    const Site site = SearchSite(engine, options.Search);

    ReportInput input;
    input.Generated = LocalTime();
    input.Version = CALLPANEL_VERSION;
    input.ComputerAddresses = SiteFacingAddresses();
    if (options.PlanPath.empty()) {
        for (const FoundPanel& p : site.Panels)
            input.Panels.push_back({true, p.Record, p.Via, {}, "", ""});
        input.Faults = SiteFaults(RecordsOf(site.Panels), Factory());
    } else if (!AddPlanCheck(input, plan, options.PlanPath, site.Panels)) {
        return ExitRefused;
    }
    std::string error;
    if (!WriteWhole(options.HtmlPath, ReportHtml(input), error)) {
        Error(error);
        return ExitFailed;
    }
    Error("report: " + options.HtmlPath + " (" + std::to_string(site.Panels.size()) + " panel(s))");
    return ExitOk;
}

} // namespace Cli
