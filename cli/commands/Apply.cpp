#include "Apply.h"

#include <algorithm>
#include <memory>

#include "Common.h"
#include "ComputerAddresses.h"
#include "Console.h"
#include "plan/PlanCheck.h"
#include "plan/PlanFile.h"
#include "plan/UndoMerge.h"

namespace Cli {

namespace {

constexpr const char* Arrow = " \xE2\x86\x92 "; // " → "

bool AnyRow(const Changes& changes, RowKind kind) {
    return std::any_of(changes.Rows.begin(), changes.Rows.end(),
                       [kind](const RowChange& r) { return r.Kind == kind; });
}

// What the writes would change, field by field. A panel that did not answer has no fields to
// compare: its row says so in the change column (table) or the result column (csv, json), and
// names no field. Exits as the real run would end: a row whose panel did not answer fails it.
int PrintDryRun(const Changes& changes, Format format) {
    Table table;
    const bool asTable = format == Format::Table;
    table.Columns = asTable ? std::vector<std::string>{"mac", "field", "change"}
                            : std::vector<std::string>{"mac", "result", "field", "old", "new"};
    for (const RowChange& r : changes.Rows) {
        if (r.Kind == RowKind::NotFound) {
            table.Rows.push_back(asTable
                                     ? std::vector<std::string>{r.Mac, "", "not found"}
                                     : std::vector<std::string>{r.Mac, "not found", "", "", ""});
            continue;
        }
        for (const FieldChange& c :
             Differences(r.Current, AsReported(StagedOver(r, r.Current)), r.Sets))
            table.Rows.push_back(
                asTable ? std::vector<std::string>{r.Mac, c.Field, c.Old + Arrow + c.New}
                        : std::vector<std::string>{r.Mac, "to write", c.Field, c.Old, c.New});
    }
    Print(Render(table, format));
    return AnyRow(changes, RowKind::NotFound) ? ExitFailed : ExitOk;
}

// Prints one line per row: what its panel reports after the writes. The rows of an as-built
// plan that no panel has taken yet follow, and they fail the run, because the site is not the
// plan yet.
bool PrintResults(const Rounds& rounds, const Plan& plan, Format format) {
    Table report;
    report.Columns = {"mac", "result", "details"};
    bool allOk = true;
    for (std::size_t at = 0; at < rounds.Size(); ++at) {
        const RowResult result = rounds.Result(at);
        allOk = allOk && result.Ok;
        report.Rows.push_back({rounds.Row(at).Mac, result.Result, result.Details});
    }
    for (const PlanRow& row : plan.Rows)
        if (const auto cell = row.Cells.find("mac");
            cell != row.Cells.end() && cell->second.empty()) {
            report.Rows.push_back({"", NotAssignedYet, "line " + std::to_string(row.Line)});
            allOk = false;
        }
    Print(Render(report, format));
    return allOk;
}

std::vector<MacAddress> PlanMacs(const Plan& plan) {
    std::vector<MacAddress> macs;
    for (const PlanRow& row : plan.Rows)
        if (const auto cell = row.Cells.find("mac"); cell != row.Cells.end())
            if (const auto mac = ParseMac(cell->second)) macs.push_back(*mac);
    return macs;
}

// How messages name the plans: the plan's path, or the undo plans' paths joined by " + " (an
// error about a merged row gives the line of its row in the first of them that has it).
std::string PlansName(const std::vector<std::string>& paths) {
    std::string name;
    for (const std::string& path : paths)
        name.append(name.empty() ? "" : " + ").append(PlanName(path));
    return name;
}

// The plan to apply: the one file, or the undo plans given, read each and taken as one. false
// after saying why not; nothing has been sent then.
bool LoadPlans(const std::vector<std::string>& paths, Plan& plan) {
    std::vector<NamedPlan> plans;
    for (const std::string& path : paths) {
        std::string text, problem;
        if (!LoadPlanText(path, text, problem)) {
            Error(problem);
            return false;
        }
        plans.push_back({PlanName(path), ReadPlan(text)});
        if (!plans.back().Read.Errors.empty()) {
            PlanErrors(plans.back().Read.Errors, PlanName(path));
            Error("nothing was written");
            return false;
        }
    }
    plan = PlanOfFiles(std::move(plans));
    if (plan.Errors.empty()) return true;
    PlanErrors(plan.Errors, "");
    Error("nothing was written");
    return false;
}

} // namespace

Command AddApplyCommand(CLI::App& app) {
    struct Options {
        ApplyOptions Apply;
        std::string Format = "table";
    };
    auto options = std::make_shared<Options>();
    CLI::App* command = app.add_subcommand("apply", "write a site plan (CSV) into its panels");
    command->footer(WithExitCodes(
        "PLAN has the columns of 'search --format csv'. Only mac is needed: it finds the\n"
        "panel and is never changed; a column left out keeps the panel's values.\n"
        "Read-only: version, identity (as exported, or empty) and via. Columns of your own\n"
        "begin with #; any other unknown column is refused. UTF-8 (or UTF-16 with a byte\n"
        "order mark), separated by commas, semicolons or tabs as its header line is, or\n"
        "as an Excel first line sep=; says; at most 4 MiB.\n"
        "The whole plan is checked first (every changed row; IPs, identities, MACs and\n"
        "gateways across the site): a problem the plan would make sends nothing and exits\n"
        "2, one already there is a warning. Rows not yet verified are written and read\n"
        "back in rounds; one line per row: verified, unchanged, differs, no reply, not\n"
        "found or not attempted. Exit 0 only when every row is verified or unchanged\n"
        "(--dry-run too: a panel not found is exit 1). Before the first write the panels'\n"
        "settings are saved as an undo plan, as with set.\n"
        "Several undo plans (a run stopped and started again leaves one a run), given in\n"
        "the order they were made, are applied as one: each panel goes back to what it\n"
        "held before the first of them; plans that disagree about a panel are refused.",
        "  callpanel apply site.csv --dry-run    # what would change; nothing is sent\n"
        "  callpanel apply undo-1.csv undo-2.csv # two runs' undo plans, the earlier first"));
    command
        ->add_option("PLAN", options->Apply.PlanPaths,
                     "the plan, a CSV file (- for standard input); or several undo plans, the "
                     "earliest first")
        ->required()
        ->check(NonEmpty);
    command->add_flag("--dry-run", options->Apply.DryRun, "print what would change, send no write");
    AddUndoOption(command, options->Apply.UndoPath);
    AddAsWrittenFlag(command, options->Apply.AsWritten);
    AddFormatOption(command, options->Format);
    AddDeadlineOptions(command, options->Apply.Search);
    AddRoundsOption(command, options->Apply.Rounds);
    AddQuietFlag(command);
    return {command, [options] {
                options->Apply.Output = FormatNamed(options->Format);
                return RunApply(options->Apply);
            }};
}

int RunApply(const ApplyOptions& options) {
    if (RefuseUndoPath(options.UndoPath)) return ExitRefused;
    Plan plan;
    if (!LoadPlans(options.PlanPaths, plan)) return ExitRefused;

    Engine engine;
    if (const int code = OpenEngine(engine)) return code;
    CatchInterrupts(ExitInterrupted);
    // A panel of the plan that did not answer is absent only once every panel there has surely
    // been heard; so is a clash with a panel outside the plan.
    const Searched searched = SearchUntil(engine, PlanSearch(options.Search, PlanMacs(plan)));
    if (!options.DryRun && RefuseIncompleteView(searched.All, engine)) return ExitRefused;
    ReportLoss(searched.All, engine);
    if (!options.DryRun && !searched.Decided)
        return NotSure("the search heard every panel", searched.Heard, options.Search);
    if (!searched.Decided) Warn("the list may be short: " + LossText(searched.Heard));
    const auto& found = searched.Found;
    const Changes changes =
        PlanChanges(plan.Rows, RecordsOf(found), "", ComputerAddresses(), options.AsWritten);
    if (Refuse(changes, PlansName(options.PlanPaths))) return ExitRefused;
    if (options.DryRun) return PrintDryRun(changes, options.Output);

    if (AnyRow(changes, RowKind::Write) && !SaveUndo(changes.Rows, options.UndoPath))
        return ExitRefused;
    Rounds rounds(changes.Rows, RecordsOf(found));
    const auto readBack =
        WriteRounds(engine, rounds, options.Search, options.Rounds, Control(), searched.Heard);
    const bool allOk = PrintResults(rounds, plan, options.Output);
    return Finish(SiteClean(rounds, found, readBack) && allOk);
}

} // namespace Cli
