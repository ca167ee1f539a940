#include "Check.h"

#include <memory>

#include "Common.h"
#include "plan/PlanFile.h"

namespace Cli {

Command AddCheckCommand(CLI::App& app) {
    struct Options {
        CheckOptions Check;
        std::string Format = "table";
    };
    auto options = std::make_shared<Options>();
    CLI::App* command = app.add_subcommand("check", "compare the site with its plan (CSV)");
    command->footer(WithExitCodes(
        "One line per plan row: as planned, differs (field: on the site -> in the plan) or\n"
        "missing; one per panel the plan does not name: extra. Then the faults of the\n"
        "site, one line per panel concerned (result \"site fault\"): two panels on one IP,\n"
        "one call address twice, a gateway outside the panel's subnet, a server it cannot\n"
        "reach, panels left on the factory subnet 192.168.1.0/24. Writes nothing.\n"
        "Exit 0 only when every row is as planned, nothing is extra (or --ignore-extra)\n"
        "and the site has no fault; 1 otherwise; 2 for a plan that cannot be read.\n"
        "A row's type is judged as it reads back (a flat camera's address ending in\n"
        "000000 is a villa camera's). With --format json, details is a list of objects\n"
        "with field, on_site and in_plan.",
        "  callpanel check site.csv\n"
        "  callpanel check site.csv --ignore-extra --format json"));
    command
        ->add_option("PLAN", options->Check.PlanPath, "the plan, a CSV file; - for standard input")
        ->required()
        ->check(NonEmpty);
    command->add_flag("--ignore-extra", options->Check.IgnoreExtra,
                      "panels the plan does not name do not fail the check");
    AddSearchOptions(command, options->Check.Search);
    AddFormatOption(command, options->Format);
    AddQuietFlag(command);
    return {command, [options] {
                options->Check.Output = FormatNamed(options->Format);
                return RunCheck(options->Check);
            }};
}

int RunCheck(const CheckOptions& options) {
    Plan plan;
    if (!LoadPlan(options.PlanPath, PlanKind::KeyedByMac, plan)) return ExitRefused;
    Engine engine;
    if (const int code = OpenEngine(engine, NeedNetwork::No)) return code;
    const Site site = SearchSite(engine, options.Search);
    const PlanCheck check = CheckPlan(plan.Rows, RecordsOf(site.Panels), Factory());
    for (const PlanError& e : check.Errors)
        Error(Where(PlanName(options.PlanPath), e));
    if (!check.Errors.empty()) return ExitRefused;

    Table table;
    table.Columns = {"mac", "result", "details"};
    // JSON gives each field apart, as the dry run of apply does, in the words of the check.
    const std::vector<std::string> keys{"field", "on_site", "in_plan"};
    for (const CheckRow& row : check.Rows) {
        table.Rows.push_back({row.Mac, row.Result, row.Details});
        std::vector<std::vector<std::string>> items;
        for (const CheckDetail& item : row.Items)
            items.push_back({item.Field, item.OnSite, item.InPlan});
        table.Json.push_back({{"details", JsonObjects(keys, items)}});
    }
    // Each fault is listed once per panel it concerns, so that a script finds it by the MAC.
    for (const SiteFault& fault : check.Faults)
        for (const std::string& mac : fault.Macs) {
            table.Rows.push_back({mac, "site fault", fault.Text});
            table.Json.push_back({{"details", JsonObjects(keys, {{"site", fault.Text, ""}})}});
        }
    Print(Render(table, options.Output));
    return check.Passed(options.IgnoreExtra) && !site.MayBeShort ? ExitOk : ExitFailed;
}

} // namespace Cli
