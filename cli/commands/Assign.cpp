#include "Assign.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "Common.h"
#include "ComputerAddresses.h"
#include "Console.h"
#include "PanelTexts.h"
#include "commission/AsBuilt.h"
#include "commission/AssignRun.h"
#include "commission/Commissioning.h"
#include "files/Utf8Files.h"
#include "files/WholeFile.h"
#include "plan/PlanFile.h"
#include "plan/UndoPlan.h"
#include "site/SiteChecks.h"
#include "text/TerminalText.h"

namespace Cli {

namespace {

// Assigner's outcome as the program's exit code.
int ExitOf(const Assigner& assigner) {
    const int outcome = assigner.Outcome();
    return outcome == 2 ? ExitRefused : outcome == 1 ? ExitFailed : ExitOk;
}

// What the run says, on the terminal: rows on standard output, the rest on standard error.
AssignEvents TerminalEvents() {
    AssignEvents events;
    events.Say = [](const std::string& text) { Error(text); };
    events.Row = [](std::size_t, const std::string&, const std::string&, const std::string&,
                    const std::string& line) {
        if (!line.empty()) Print(line + "\n");
    };
    // The status line while waiting says the loss and lateness too, as they are measured; a
    // notable change of them gets a line of its own (Say).
    const auto heard = std::make_shared<std::string>();
    events.Heard = [heard](const std::string& text) { *heard = text; };
    events.Progress = [heard](const std::string& text) {
        if (ErrorIsConsole())
            ShowProgress(text.empty() || heard->empty() ? text : text + "; " + *heard);
    };
    events.Stopped = [] { return Interrupted(); };
    return events;
}

// What a run starts from: the schedule, the rows an earlier run's as-built plan gave, the
// panels found, and where the as-built and undo plans go.
struct Assignment {
    Plan Schedule;
    Subnet NewOn;
    std::string AsBuilt, Undo;
    std::vector<AsBuiltRow> Rows; // per row, what an earlier run recorded
    std::set<MacAddress> Assigned;
};

// The schedule and what an earlier run left; 0, or the exit code after saying why not.
int LoadAssignment(const AssignOptions& options, Assignment& a) {
    if (!LoadPlan(options.SchedulePath, PlanKind::Schedule, a.Schedule)) return ExitRefused;
    const auto newOn = ParseSubnet(options.NewOn.empty() ? FactorySubnet : options.NewOn);
    if (!newOn) {
        Error("--new-on takes a subnet A.B.C.D/N, like 192.168.1.0/24");
        return ExitRefused;
    }
    a.NewOn = *newOn;
    a.AsBuilt = options.AsBuiltPath.empty() ? DefaultAsBuiltPath(options.SchedulePath)
                                            : options.AsBuiltPath;
    // An earlier run's as-built plan: its rows are taken, its panels are not new.
    a.Rows.assign(a.Schedule.Rows.size(), {});
    std::error_code code;
    if (std::filesystem::exists(Utf8Path(a.AsBuilt), code)) {
        Plan built;
        std::string error;
        if (!LoadPlan(a.AsBuilt, PlanKind::AsBuilt, built)) return ExitRefused;
        const auto resumed = ResumedRows(a.Schedule, built, error);
        if (!resumed) {
            Error(a.AsBuilt + ": " + error + "; name another file with --as-built");
            return ExitRefused;
        }
        a.Rows = *resumed;
    }
    // A row being written when a run ended is its panel's too: that panel is not new.
    for (const AsBuiltRow& row : a.Rows)
        if (const auto bytes = ParseMac(row.Mac)) a.Assigned.insert(*bytes);
    return ExitOk;
}

// The schedule against the panels already there, and the undo plan's name; 0, or the exit
// code after saying why nothing may be written.
int CheckAssignment(const AssignOptions& options, Assignment& a,
                    const std::vector<PanelRecord>& others) {
    const auto errors =
        CheckSchedule(a.Schedule.Rows, others, ComputerAddresses(), options.AsWritten);
    for (const PlanError& e : errors)
        Error(Where(PlanName(options.SchedulePath), e));
    if (!errors.empty()) {
        Error("nothing was written");
        return ExitRefused;
    }
    std::string error;
    a.Undo = options.UndoPath;
    if (!a.Undo.empty() && !UndoPathFree(a.Undo, error)) {
        Error(error + "; nothing was written");
        return ExitRefused;
    }
    if (a.Undo.empty()) a.Undo = DefaultUndoPath(error);
    if (a.Undo.empty()) {
        Error("cannot name the undo plan: " + error + "; nothing was written (--undo FILE)");
        return ExitRefused;
    }
    return ExitOk;
}

// Without --watch: the panels --row names take their rows; the other new panels present take
// the rows in MAC order, with --in-mac-order.
int AssignPresent(Assigner& assigner, const AssignOptions& options, const Assignment& a,
                  const std::vector<PanelRecord>& present) {
    std::vector<PanelRecord> found;
    for (const PanelRecord& r : ByMac(present)) {
        if (const auto at = assigner.RowOf(r.Mac)) {
            if (!assigner.Broken()) assigner.Assign(r, *at);
        } else {
            found.push_back(r);
        }
    }
    if (found.empty() && present.empty()) {
        Error("no new panel answered on " + a.NewOn.Text());
        return ExitFailed;
    }
    if (!found.empty() && !options.InMacOrder) {
        Error(std::to_string(found.size()) + " new panel(s) on " + a.NewOn.Text() +
              ": --in-mac-order gives them the rows in MAC order, --watch as they are "
              "powered, --row N=MAC a row to a panel; nothing more was written");
        return ExitRefused;
    }
    std::size_t given = 0;
    for (; given < found.size(); ++given) {
        if (assigner.NoneLeft() || Interrupted() || assigner.Broken()) break;
        assigner.Assign(found[given]);
    }
    if (!assigner.Done())
        Error(std::to_string(a.Schedule.Rows.size() - assigner.Next()) +
              " row(s) still without a panel");
    else if (given < found.size())
        Error("the schedule has no row left for " + std::to_string(found.size() - given) +
              " new panel(s)");
    return ExitOf(assigner);
}

} // namespace

Command AddAssignCommand(CLI::App& app) {
    auto options = std::make_shared<AssignOptions>();
    CLI::App* command =
        app.add_subcommand("assign", "give a schedule's rows to new panels as they are powered");
    command->footer(WithExitCodes(
        "SCHEDULE has a plan's columns without mac, one row per panel in the order they\n"
        "will be powered (columns of your own begin with #). Every row is checked first\n"
        "(as apply checks, and no IP or call address twice, none taken on the site).\n"
        "With --watch it searches every 50 ms; each new panel (on the factory subnet, not\n"
        "yet assigned) that is surely alone or surely powered first (at a doubt of 10^-6)\n"
        "gets the next row, written and read back, one line each: MAC, row, call address,\n"
        "IP, result; the loss and lateness measured show on the status line as they are\n"
        "measured, and in a line at the start and whenever they change notably. New\n"
        "panels whose order is not sure form a group that gets none, nor any panel after\n"
        "it: switch all but one off, or give --row N=MAC (N the row number assign prints)\n"
        "for each. Without --watch the new panels present are assigned only by --row or\n"
        "with --in-mac-order. The as-built plan (the schedule\n"
        "with each row's mac and status) is written whole before each write leaves (the\n"
        "row 'writing') and after it (its result); a run started again, also after a\n"
        "kill, finishes a row left writing on its panel, then goes on. An undo plan is\n"
        "saved as for apply. Ctrl+C ends it: exit 0 when every row written was verified,\n"
        "1 otherwise.",
        "  callpanel assign schedule.csv --watch    # then power the new panels one by one"));
    command->add_option("SCHEDULE", options->SchedulePath, "the schedule, a CSV file")
        ->required()
        ->check(NonEmpty);
    command->add_flag("--watch", options->Watch,
                      "keep searching and assign each new panel as it is powered");
    command->add_flag("--in-mac-order", options->InMacOrder,
                      "new panels answering together take the rows in MAC order");
    command
        ->add_option("--row", options->RowMacs,
                     "N=MAC: row N (as assign prints it) goes to the panel with MAC")
        ->type_name("N=MAC")
        ->allow_extra_args(false);
    command
        ->add_option("--as-built", options->AsBuiltPath,
                     "the as-built plan (default: SCHEDULE's name with -as-built.csv)")
        ->check(NonEmpty);
    command->add_option("--new-on", options->NewOn, "the subnet new panels answer on")
        ->default_str(FactorySubnet)
        ->check(NonEmpty);
    AddUndoOption(command, options->UndoPath);
    AddAsWrittenFlag(command, options->AsWritten);
    AddSearchOptions(command, options->Search);
    AddRoundsOption(command, options->Rounds);
    AddQuietFlag(command);
    return {command, [options] { return RunAssign(*options); }};
}

int RunAssign(const AssignOptions& options) {
    Assignment a;
    if (const int code = LoadAssignment(options, a)) return code;
    std::vector<std::string> macs;
    for (const AsBuiltRow& row : a.Rows)
        macs.push_back(row.Mac);
    std::map<MacAddress, std::size_t> pinned;
    std::string problem;
    if (!PinnedRows(options.RowMacs, macs, a.Assigned, pinned, problem)) {
        Error(problem + "; nothing was written");
        return ExitRefused;
    }
    std::set<MacAddress> pinnedMacs;
    for (const auto& [mac, at] : pinned)
        pinnedMacs.insert(mac);
    NewPanelWatch watch(a.NewOn, a.Assigned, pinnedMacs);

    Engine engine;
    if (const int code = OpenEngine(engine, NeedNetwork::No)) return code;
    CatchInterrupts(ExitInterrupted);
    const Site site = SearchSite(engine, options.Search);
    std::vector<PanelRecord> others, present;
    for (const PanelRecord& r : RecordsOf(site.Panels)) {
        if (watch.IsNew(r))
            present.push_back(r);
        else if (!a.Assigned.count(MacOf(r.Mac)))
            others.push_back(r);
    }
    if (const int code = CheckAssignment(options, a, others)) return code;
    Assigner assigner(engine, a.Schedule, a.Rows, {a.AsBuilt, a.Undo, options.UndoPath.empty()},
                      RecordsOf(site.Panels), ComputerAddresses(), options.Search, options.Rounds,
                      TerminalEvents(), options.AsWritten, site.Heard, pinned);
    const bool unfinished = std::any_of(a.Rows.begin(), a.Rows.end(),
                                        [](const AsBuiltRow& row) { return row.Unfinished(); });
    if (unfinished || !assigner.Done())
        Error("as-built plan: " + a.AsBuilt + "; undo plan: " + a.Undo);
    // A row a killed run was writing goes first: its panel holds it, half of it or nothing.
    if (unfinished) assigner.FinishUnfinished(RecordsOf(site.Panels));
    if (assigner.Broken()) return ExitOf(assigner);
    if (assigner.Done()) {
        Error("every row of the schedule has a panel (" + a.AsBuilt + ")");
        return ExitOf(assigner);
    }
    if (!options.Watch) return AssignPresent(assigner, options, a, present);
    // From this line on the installer, or a script standing in for one, powers the panels.
    Error("watching for new panels on " + a.NewOn.Text() + " (Ctrl+C ends)");
    WatchAndAssign(engine, assigner, watch, a.NewOn, options.InMacOrder, TerminalEvents(),
                   site.Heard);
    return ExitOf(assigner);
}

} // namespace Cli
