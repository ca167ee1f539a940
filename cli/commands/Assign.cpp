#include "Assign.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "ComputerAddresses.h"
#include "Console.h"
#include "PanelTexts.h"
#include "commission/AsBuilt.h"
#include "commission/Commissioning.h"
#include "files/Utf8Files.h"
#include "files/WholeFile.h"
#include "plan/PlanFile.h"
#include "plan/UndoPlan.h"
#include "site/SiteChecks.h"
#include "text/TerminalText.h"

namespace Cli {

namespace {

// The rounds of assign --watch (each a search request every panel answers).
constexpr Millis WatchRound{50};

// --row N=MAC, checked against the rows taken: row N (as assign prints it) goes to the panel
// with the MAC, whatever the order it is powered in.
bool PinnedRows(const std::vector<std::string>& given, const std::vector<std::string>& macs,
                const std::set<MacAddress>& assigned, std::map<MacAddress, std::size_t>& pinned) {
    std::set<std::size_t> rows;
    for (const std::string& text : given) {
        const std::size_t equals = text.find('=');
        const std::string number = text.substr(0, equals);
        const auto mac =
            equals == std::string::npos ? std::nullopt : ParseMac(text.substr(equals + 1));
        std::size_t row = 0;
        const bool digits =
            !number.empty() && number.size() < 7 &&
            std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (digits) row = std::stoul(number);
        std::string problem;
        if (!mac || !digits)
            problem = "takes N=MAC, the row number assign prints and a MAC like 00:50:2A:A8:01:64";
        else if (row < 1 || row > macs.size())
            problem = "the schedule has rows 1 to " + std::to_string(macs.size());
        else if (!macs[row - 1].empty())
            problem = "row " + std::to_string(row) + " already has the panel " + macs[row - 1];
        else if (assigned.count(*mac))
            problem = text.substr(equals + 1) + " already has a row";
        else if (!rows.insert(row - 1).second || !pinned.emplace(*mac, row - 1).second)
            problem = "a row or a MAC given twice";
        if (!problem.empty()) {
            Error("--row " + text + ": " + problem + "; nothing was written");
            return false;
        }
    }
    return true;
}

// One row's write and read-back in rounds, as apply does them. A Ctrl+C meanwhile lets the row
// finish: a panel left half-written would be neither new nor the row's.
// A clash the row made or met (another panel on its IP or call address) fails it.
RowResult WriteRow(Engine& engine, const RowChange& change, const SearchOptions& search,
                   int maxRounds, const std::vector<PanelRecord>& site, const Hearing& heard) {
    Rounds rounds({change}, site);
    const auto readBack = WriteRounds(engine, rounds, search, maxRounds, RunControl{}, heard);
    RowResult result = rounds.Result(0);
    for (const std::string& clash : ClashesAfter(rounds, site, readBack)) {
        Error("site: " + clash);
        result.Ok = false;
    }
    return result;
}

class Assigner {
  public:
    // `site`: the panels found before the first write.
    Assigner(Engine& engine, const AssignOptions& options, const Plan& schedule,
             std::vector<AsBuiltRow> rows, std::string asBuilt, std::string undo,
             std::vector<PanelRecord> site, Hearing heard, std::map<MacAddress, std::size_t> pinned)
        : Net(engine), Options(options), Schedule(schedule), Rows(std::move(rows)),
          AsBuilt(std::move(asBuilt)), Undo(std::move(undo)), Site(std::move(site)),
          Heard(std::move(heard)), Pinned(std::move(pinned)) {
        Rows.resize(Schedule.Rows.size());
    }

    // The next row no panel has taken and no --row keeps for its MAC, or the row count when
    // none is left.
    std::size_t Next() const {
        std::size_t at = 0;
        while (at < Rows.size() && (!Rows[at].Mac.empty() || PinnedRow(at)))
            ++at;
        return at;
    }
    bool Done() const {
        return std::all_of(Rows.begin(), Rows.end(),
                           [](const AsBuiltRow& row) { return !row.Mac.empty(); });
    }
    bool NoneLeft() const { return Next() == Rows.size(); }
    // Row `at` is neither taken nor kept by --row.
    bool Free(std::size_t at) const { return Rows[at].Mac.empty() && !PinnedRow(at); }
    // The row --row keeps for the panel with `mac`, still without a panel.
    std::optional<std::size_t> RowOf(const uint8_t (&mac)[6]) const {
        const auto it = Pinned.find(MacOf(mac));
        if (it == Pinned.end() || !Rows[it->second].Mac.empty()) return std::nullopt;
        return it->second;
    }

    // Gives `panel` the next row (or row `at`); false when it was refused (the row stays next).
    bool Assign(const PanelRecord& panel) { return Give(Next(), panel); }
    bool Assign(const PanelRecord& panel, std::size_t at) { return Give(at, panel); }

    // The rows a killed run left "writing", finished on their panels as they answer now: each
    // is written or found to hold its row already. A panel that did not answer keeps its row.
    void FinishUnfinished(const std::vector<PanelRecord>& found) {
        for (std::size_t at = 0; at < Rows.size() && !Failed; ++at) {
            if (!Rows[at].Unfinished()) continue;
            const auto mac = ParseMac(Rows[at].Mac);
            const auto panel = std::find_if(found.begin(), found.end(), [&](const PanelRecord& r) {
                return mac && std::equal(mac->begin(), mac->end(), r.Mac);
            });
            if (panel == found.end()) {
                Error(Rows[at].Mac + ": row " + std::to_string(at + 1) +
                      " was being written to it when the last run ended, and it did not answer; "
                      "the row stays its, and is finished when the panel answers to a run");
                AllOk = false;
                continue;
            }
            Give(at, *panel);
        }
    }

    bool Broken() const { return Failed; }
    int ExitCode() const {
        if (Refused) return ExitRefused;
        return AllOk && !Failed ? ExitOk : ExitFailed;
    }

  private:
    bool Give(std::size_t at, const PanelRecord& panel) {
        const PlanRow& row = Schedule.Rows[at];
        RowSteps steps;
        steps.SaveUndo = [&](const RowChange& change) {
            Changed.push_back(change);
            std::string error;
            // The first row makes the file as apply makes its own; each further row puts the
            // whole plan in its place. Either is on the disk before the write leaves.
            const bool saved =
                Changed.size() == 1
                    ? SaveUndoPlan(Undo, UndoPlanText(Changed), Options.UndoPath.empty(), error)
                    : WriteWhole(Undo, UndoPlanText(Changed), error, true);
            if (!saved) {
                Error(error + "; nothing was written");
                Changed.pop_back();
            }
            return saved;
        };
        steps.SaveAsBuilt = [&](const std::string& text) {
            std::string error;
            if (WriteWhole(AsBuilt, text, error)) return true;
            Error(error);
            return false;
        };
        steps.Write = [&](const RowChange& change) {
            std::vector<PanelRecord> site = Site;
            site.push_back(panel);
            return WriteRow(Net, change, Options.Search, Options.Rounds, site, Heard);
        };
        std::vector<PlanError> errors;
        const RowOutcome outcome = AssignRow(Schedule, Rows, at, panel, steps, ComputerAddresses(),
                                             errors, Options.AsWritten);
        for (const PlanError& note : outcome.Notes)
            Error("warning: row " + std::to_string(at + 1) + ": " + note.Text);
        if (outcome.Is == RowOutcome::Refused) {
            for (const PlanError& e : errors)
                Error(MacText(panel.Mac) + ": row " + std::to_string(at + 1) + ": " + e.Text);
            // Every later panel would meet the same row.
            Error(MacText(panel.Mac) + ": not assigned; put the row right and start again (the "
                                       "as-built plan keeps the rows done)");
            Refused = Failed = true;
            return false;
        }
        if (outcome.Is == RowOutcome::NotSaved) {
            Failed = true;
            if (Rows[at].Mac.empty()) return false; // nothing was sent
        }
        const RowResult& result = outcome.Result;
        AllOk = AllOk && result.Ok;
        auto cells = PanelCells(AsReported(outcome.Change.Pending), "");
        // The call address as the schedule spells it.
        if (const auto it = row.Cells.find("address"); it != row.Cells.end() && !it->second.empty())
            cells[2] = it->second;
        std::string note;
        if (!row.Notes.empty() && !row.Notes.front().second.empty())
            note = " (" + row.Notes.front().second + ")";
        Print(TerminalText(MacText(panel.Mac) + "  row " + std::to_string(at + 1) + note + "  " +
                           cells[2] + "  " + cells[4] + "  " + result.Result +
                           (result.Details.empty() ? "" : " (" + result.Details + ")")) +
              "\n");
        return true;
    }

    Engine& Net;
    const AssignOptions& Options;
    const Plan& Schedule;
    std::vector<AsBuiltRow> Rows;
    std::string AsBuilt, Undo;
    std::vector<RowChange> Changed;
    std::vector<PanelRecord> Site;
    Hearing Heard;
    std::map<MacAddress, std::size_t> Pinned; // --row: MAC to row
    bool AllOk = true, Failed = false, Refused = false;

    bool PinnedRow(std::size_t at) const {
        return std::any_of(Pinned.begin(), Pinned.end(),
                           [at](const auto& p) { return p.second == at; });
    }
};

std::vector<PanelRecord> ByMac(std::vector<PanelRecord> panels) {
    std::sort(panels.begin(), panels.end(), [](const PanelRecord& a, const PanelRecord& b) {
        return std::lexicographical_compare(a.Mac, a.Mac + 6, b.Mac, b.Mac + 6);
    });
    return panels;
}

std::string MacList(const std::vector<PanelRecord>& panels) {
    std::string out;
    for (const PanelRecord& p : panels)
        out += (out.empty() ? "" : ", ") + MacText(p.Mac);
    return out;
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

// Without --watch: the new panels present take the rows in MAC order, with --in-mac-order.
int AssignPresent(Assigner& assigner, const AssignOptions& options, const Assignment& a,
                  const std::vector<PanelRecord>& present) {
    // The panels --row names take their rows; the others go by MAC order.
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
    return assigner.ExitCode();
}

// With --watch: searches until every row has a panel or Ctrl+C, giving each new panel that
// answers alone the next row.
int WatchAndAssign(Engine& engine, Assigner& assigner, const AssignOptions& options,
                   const Assignment& a, NewPanelWatch& watch, const Site& site) {
    std::string refused; // the last group said, to say it once
    // Short rounds: the powering order rests on rounds missed, and the more rounds a second
    // holds, the sooner a panel's silence is sure.
    watch.LateRounds(int((2 * site.Heard.Lateness() + WatchRound - Millis(1)) / WatchRound));
    watch.Measured(site.Heard.Answered(), site.Heard.MissedReplies());
    const std::size_t rows = a.Schedule.Rows.size();
    // A script powers its panels from here on.
    Error("watching for new panels on " + a.NewOn.Text() + " (Ctrl+C ends)");
    while (!assigner.Done() && !Interrupted() && !assigner.Broken()) {
        if (ErrorIsConsole())
            ShowProgress("waiting for a new panel on " + a.NewOn.Text() + " for row " +
                         std::to_string(assigner.Next() + 1) + " (Ctrl+C ends)");
        SearchPlan plan;
        plan.Every = WatchRound;
        plan.Requests = 1;
        plan.LossRetries = 0;
        plan.Continue = true;
        const Collected round = engine.Search(plan);
        Millis late{0};
        for (const FoundPanel& p : round.Replies)
            late = std::max(late, p.Late);
        watch.LateRounds(int((2 * late + WatchRound - Millis(1)) / WatchRound));
        const auto step = watch.Round(RecordsOf(round.Replies));
        if (ErrorIsConsole()) ShowProgress("");
        std::vector<std::pair<PanelRecord, std::size_t>> take;
        for (const PanelRecord& r : step.New)
            if (const auto at = assigner.RowOf(r.Mac)) take.push_back({r, *at});
        if (step.Take && !assigner.NoneLeft()) {
            take.push_back({*step.Take, assigner.Next()});
        } else if (step.New.size() > 1 && options.InMacOrder) {
            std::size_t next = assigner.Next();
            for (const PanelRecord& r : ByMac(step.New))
                if (!assigner.RowOf(r.Mac) && next < rows) {
                    take.push_back({r, next});
                    while (++next < rows && !assigner.Free(next)) {
                    }
                }
        } else if (step.Group.size() > 1 && MacList(step.Group) != refused) {
            refused = MacList(step.Group);
            Error(
                (step.Group.size() == 2 ? std::string("two") : std::to_string(step.Group.size())) +
                " new panels whose powering order is not sure (" + refused +
                "); none was assigned, nor any powered after them: switch all but one off, "
                "or say which takes which row with --row N=MAC");
        }
        for (const auto& [panel, at] : take) {
            if (assigner.Done() || assigner.Broken()) break;
            assigner.Assign(panel, at);
            watch.Took(panel.Mac); // assigned, or refused: not new again
        }
    }
    return assigner.ExitCode();
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
        "IP, result. New panels whose order is not sure form a group that gets none, nor\n"
        "any panel after it: switch all but one off, or give --row N=MAC (N the row number\n"
        "assign prints) for each. Without --watch the new panels present are assigned\n"
        "only by --row or with --in-mac-order. The as-built plan (the schedule\n"
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
    if (!PinnedRows(options.RowMacs, macs, a.Assigned, pinned)) return ExitRefused;
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
    Assigner assigner(engine, options, a.Schedule, a.Rows, a.AsBuilt, a.Undo,
                      RecordsOf(site.Panels), site.Heard, pinned);
    const bool unfinished = std::any_of(a.Rows.begin(), a.Rows.end(),
                                        [](const AsBuiltRow& row) { return row.Unfinished(); });
    if (unfinished || !assigner.Done())
        Error("as-built plan: " + a.AsBuilt + "; undo plan: " + a.Undo);
    // A row a killed run was writing goes first: its panel holds it, half of it or nothing.
    if (unfinished) assigner.FinishUnfinished(RecordsOf(site.Panels));
    if (assigner.Broken()) return assigner.ExitCode();
    if (assigner.Done()) {
        Error("every row of the schedule has a panel (" + a.AsBuilt + ")");
        return assigner.ExitCode();
    }
    if (!options.Watch) return AssignPresent(assigner, options, a, present);
    return WatchAndAssign(engine, assigner, options, a, watch, site);
}

} // namespace Cli
