#include "Search.h"

#include <memory>

#include "Common.h"
#include "site/SiteChecks.h"

namespace Cli {

Command AddSearchCommand(CLI::App& app) {
    struct Options {
        SearchOptions Search;
        std::string Format = "table";
    };
    auto options = std::make_shared<Options>();
    CLI::App* command = app.add_subcommand("search", "list every panel that answers");
    command->footer(
        WithExitCodes("One row per panel that answers (panels sharing a MAC get a row each), with\n"
                      "the local address its reply came to (via).\n"
                      "Rounds go on until every panel there has surely been heard, judged by the\n"
                      "share of replies lost in them. Exit 1 when no panel answers, or when the\n"
                      "list may be short (\"about N % of replies lost\").",
                      "  callpanel search\n"
                      "  callpanel search --format csv > site.csv    # a plan to edit, for apply"));
    AddSearchOptions(command, options->Search);
    AddFormatOption(command, options->Format);
    AddQuietFlag(command);
    return {command,
            [options] { return RunSearch(options->Search, FormatNamed(options->Format)); }};
}

int RunSearch(const SearchOptions& search, Format format) {
    Engine engine;
    if (const int code = OpenEngine(engine)) return code;
    const Searched searched = SearchUntil(engine, SiteSearch(search));
    ReportLoss(searched.All, engine);
    Print(Render(PanelTable(searched.Found), format));
    for (const std::string& shared : SharedNames(RecordsOf(searched.Found)))
        Warn(shared);
    if (searched.Found.empty()) {
        Error("no panel answered");
        return ExitFailed;
    }
    if (!searched.Decided) {
        Error("the list may be short: " + LossText(searched.Heard));
        return ExitFailed;
    }
    return ExitOk;
}

} // namespace Cli
