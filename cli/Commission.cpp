#include "Commission.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include <algorithm>
#include <chrono>
#include <filesystem>

#include "commission/Commissioning.h"
#include "ComputerAddresses.h"
#include "Console.h"
#include "Engine.h"
#include "site/FindPanels.h"
#include "site/Hearing.h"
#include "commission/HtmlReport.h"
#include "PanelTexts.h"
#include "plan/Plan.h"
#include "plan/PlanCheck.h"
#include "plan/PlanFile.h"
#include "site/Rounds.h"
#include "text/TerminalText.h"
#include "plan/UndoPlan.h"
#include "files/Utf8Files.h"
#include "files/WholeFile.h"
#include "site/WriteRounds.h"

namespace Cli {

namespace {

void Error(const std::string& text) {
    std::fprintf(stderr, "callpanel: %s\n", TerminalText(text).c_str());
}

// A short write shows in OutputWritten through the stream's error flag.
void Print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

int OpenEngine(Engine& engine) {
    if (!engine.Open()) {
        Error("UDP port 8300 is held by another program (the window or another callpanel); "
              "close it and try again");
        return ExitPortHeld;
    }
    return ExitOk;
}

struct Site {
    std::vector<FoundPanel> Panels;
    bool MayBeShort = false;
};

// Every panel that answers, searched as `search` searches: until the list is surely whole,
// by the loss measured; a panel of the plan is missing only then.
Site SearchSite(Engine& engine, const SearchOptions& search) {
    const Searched searched = SearchUntil(engine, SiteSearch(search));
    Site site{searched.Found, !searched.Decided};
    if (site.MayBeShort) Error("the list may be short: " + LossText(searched.Heard));
    return site;
}

std::string Where(const std::string& name, const PlanError& e) {
    std::string where = name;
    if (e.Line > 0) where.append(":").append(std::to_string(e.Line));
    if (e.Line > 0 && e.Column > 0) where.append(":").append(std::to_string(e.Column));
    return where.append(": ").append(e.Text);
}

// The plan at `path`, or false after saying what is wrong with it.
bool LoadPlan(const std::string& path, PlanKind kind, Plan& plan) {
    std::string text, problem;
    if (!LoadPlanText(path, text, problem)) {
        Error(problem);
        return false;
    }
    plan = ReadPlan(text, kind);
    for (const PlanError& e : plan.Errors)
        Error(Where(PlanName(path), e));
    return plan.Errors.empty();
}

Subnet Factory() {
    return *ParseSubnet(FactorySubnet);
}

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

} // namespace

int RunCheck(const CheckOptions& options) {
    Plan plan;
    if (!LoadPlan(options.PlanPath, PlanKind::KeyedByMac, plan)) return ExitRefused;
    Engine engine;
    if (const int code = OpenEngine(engine)) return code;
    const Site site = SearchSite(engine, options.Search);
    const PlanCheck check = CheckPlan(plan.Rows, RecordsOf(site.Panels), Factory());
    for (const PlanError& e : check.Errors)
        Error(Where(PlanName(options.PlanPath), e));
    if (!check.Errors.empty()) return ExitRefused;

    Table table;
    table.Columns = {"mac", "result", "details"};
    for (const CheckRow& row : check.Rows)
        table.Rows.push_back({row.Mac, row.Result, row.Details});
    // A fault once per panel it concerns, so that a script finds it by the MAC.
    for (const SiteFault& fault : check.Faults)
        for (const std::string& mac : fault.Macs)
            table.Rows.push_back({mac, "site fault", fault.Text});
    Print(Render(table, options.Output));
    return check.Passed(options.IgnoreExtra) && !site.MayBeShort ? ExitOk : ExitFailed;
}

int RunReport(const ReportOptions& options) {
    Plan plan;
    if (!options.PlanPath.empty() && !LoadPlan(options.PlanPath, PlanKind::KeyedByMac, plan))
        return ExitRefused;
    Engine engine;
    if (const int code = OpenEngine(engine)) return code;
    const Site site = SearchSite(engine, options.Search);
    const auto records = RecordsOf(site.Panels);

    ReportInput input;
    input.Generated = LocalTime();
    input.Version = CALLPANEL_VERSION;
    for (const auto& a : ComputerAddresses())
        if (a[0] != 127) // the site sees only the others
            input.ComputerAddresses.push_back(std::to_string(a[0]) + "." + std::to_string(a[1]) +
                                              "." + std::to_string(a[2]) + "." +
                                              std::to_string(a[3]));
    if (options.PlanPath.empty()) {
        for (const FoundPanel& p : site.Panels)
            input.Panels.push_back({true, p.Record, p.Via, {}, "", ""});
        input.Faults = SiteFaults(records, Factory());
    } else {
        input.PlanName = PlanName(options.PlanPath);
        for (const std::string& column : plan.Header)
            if (!column.empty() && column[0] == '#') input.NoteColumns.push_back(column);
        const PlanCheck check = CheckPlan(plan.Rows, records, Factory());
        for (const PlanError& e : check.Errors)
            Error(Where(input.PlanName, e));
        if (!check.Errors.empty()) return ExitRefused;
        input.Faults = check.Faults;
        for (const CheckRow& row : check.Rows) {
            ReportPanel panel;
            panel.Result = row.Result;
            panel.Details = row.Details;
            const auto mac = ParseMac(row.Mac);
            std::copy(mac->begin(), mac->end(), panel.Record.Mac);
            panel.Found = false;
            for (const FoundPanel& p : site.Panels)
                if (MacOf(p.Record) == *mac && !panel.Found) {
                    panel.Record = p.Record;
                    panel.Via = p.Via;
                    panel.Found = true;
                }
            for (const PlanRow& given : plan.Rows)
                if (given.Line == row.Line && row.Line > 0) panel.Notes = given.Notes;
            input.Panels.push_back(std::move(panel));
        }
    }
    std::string error;
    if (!WriteWhole(options.HtmlPath, ReportHtml(input), error)) {
        Error(error);
        return ExitFailed;
    }
    Error("report: " + options.HtmlPath + " (" + std::to_string(site.Panels.size()) + " panel(s))");
    return ExitOk;
}

namespace {

constexpr Millis Every = SearchEvery;

// One row's write and read-back in rounds, as apply does them. A Ctrl+C meanwhile lets the row
// finish: a panel left half-written would be neither new nor the row's.
// A clash the row made or met (another panel on its IP or call address) fails it.
RowResult WriteRow(Engine& engine, const RowChange& change, const SearchOptions& search,
                   int maxRounds, const std::vector<PanelRecord>& site) {
    Rounds rounds({change});
    const auto readBack = WriteRounds(engine, rounds, search, maxRounds, RunControl{});
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
             std::vector<std::string> macs, std::string asBuilt, std::string undo,
             std::vector<PanelRecord> site)
        : Net(engine), Options(options), Schedule(schedule), Macs(std::move(macs)),
          AsBuilt(std::move(asBuilt)), Undo(std::move(undo)), Site(std::move(site)) {
        Macs.resize(Schedule.Rows.size());
    }

    // The next row no panel has taken, or the row count when none is left.
    std::size_t Next() const {
        std::size_t at = 0;
        while (at < Macs.size() && !Macs[at].empty())
            ++at;
        return at;
    }
    bool Done() const { return Next() == Macs.size(); }

    // Gives `panel` the next row; false when it was refused (the row stays next).
    bool Assign(const PanelRecord& panel) {
        const std::size_t at = Next();
        const PlanRow& row = Schedule.Rows[at];
        const Changes changes =
            PlanChanges({RowForPanel(row, panel.Mac)}, {panel}, "", ComputerAddresses());
        if (!changes.Errors.empty() || changes.Rows.empty()) {
            for (const PlanError& e : changes.Errors)
                Error(MacText(panel.Mac) + ": row " + std::to_string(at + 1) + ": " + e.Text);
            // Every later panel would meet the same row.
            Error(MacText(panel.Mac) + ": not assigned; put the row right and start again (the "
                                       "as-built plan keeps the rows done)");
            Refused = Failed = true;
            return false;
        }
        const RowChange& change = changes.Rows.front();
        RowResult result{"unchanged", "", true};
        if (change.Kind == RowKind::Write) {
            Changed.push_back(change);
            std::string error;
            // The first row makes the file as apply makes its own; each further row puts the
            // whole plan in its place.
            const bool saved =
                Changed.size() == 1
                    ? SaveUndoPlan(Undo, UndoPlanText(Changed), Options.UndoPath.empty(), error)
                    : WriteWhole(Undo, UndoPlanText(Changed), error, true);
            if (!saved) {
                Error(error + "; nothing was written");
                Changed.pop_back();
                Failed = true;
                return false;
            }
            std::vector<PanelRecord> site = Site;
            site.push_back(panel);
            result = WriteRow(Net, change, Options.Search, Options.Rounds, site);
        }
        Macs[at] = MacText(panel.Mac);
        std::string error;
        if (!WriteWhole(AsBuilt, AsBuiltText(Schedule, Macs), error)) {
            Error(error);
            Failed = true;
        }
        AllOk = AllOk && result.Ok;
        auto cells = PanelCells(AsReported(change.Pending), "");
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
    bool Broken() const { return Failed; }
    int ExitCode() const {
        if (Refused) return ExitRefused;
        return AllOk && !Failed ? ExitOk : ExitFailed;
    }

  private:
    Engine& Net;
    const AssignOptions& Options;
    const Plan& Schedule;
    std::vector<std::string> Macs;
    std::string AsBuilt, Undo;
    std::vector<RowChange> Changed;
    std::vector<PanelRecord> Site;
    bool AllOk = true, Failed = false, Refused = false;
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

} // namespace

int RunAssign(const AssignOptions& options) {
    Plan schedule;
    if (!LoadPlan(options.SchedulePath, PlanKind::Schedule, schedule)) return ExitRefused;
    const auto newOn = ParseSubnet(options.NewOn.empty() ? FactorySubnet : options.NewOn);
    if (!newOn) {
        Error("--new-on takes a subnet A.B.C.D/N, like 192.168.1.0/24");
        return ExitRefused;
    }
    const std::string asBuilt = options.AsBuiltPath.empty()
                                    ? DefaultAsBuiltPath(options.SchedulePath)
                                    : options.AsBuiltPath;
    // An earlier run's as-built plan: its rows are taken, its panels are not new.
    std::vector<std::string> macs(schedule.Rows.size());
    std::error_code code;
    if (std::filesystem::exists(Utf8Path(asBuilt), code)) {
        Plan built;
        std::string error;
        if (!LoadPlan(asBuilt, PlanKind::AsBuilt, built)) return ExitRefused;
        const auto resumed = ResumedMacs(schedule, built, error);
        if (!resumed) {
            Error(asBuilt + ": " + error + "; name another file with --as-built");
            return ExitRefused;
        }
        macs = *resumed;
    }
    std::set<MacKey> assigned;
    for (const std::string& mac : macs)
        if (const auto bytes = ParseMac(mac)) assigned.insert(*bytes);
    NewPanelWatch watch(*newOn, assigned);

    Engine engine;
    if (const int code = OpenEngine(engine)) return code;
    CatchInterrupts(ExitInterrupted);
    const Site site = SearchSite(engine, options.Search);
    std::vector<PanelRecord> others, present;
    for (const PanelRecord& r : RecordsOf(site.Panels)) {
        if (watch.IsNew(r))
            present.push_back(r);
        else if (!assigned.count(NewPanelWatch::Key(r.Mac)))
            others.push_back(r);
    }
    const auto errors = CheckSchedule(schedule.Rows, others, ComputerAddresses());
    for (const PlanError& e : errors)
        Error(Where(PlanName(options.SchedulePath), e));
    if (!errors.empty()) {
        Error("nothing was written");
        return ExitRefused;
    }
    std::string undo = options.UndoPath, error;
    if (!undo.empty() && !UndoPathFree(undo, error)) {
        Error(error + "; nothing was written");
        return ExitRefused;
    }
    if (undo.empty()) undo = DefaultUndoPath(error);
    if (undo.empty()) {
        Error("cannot name the undo plan: " + error + "; nothing was written (--undo FILE)");
        return ExitRefused;
    }
    Assigner assigner(engine, options, schedule, macs, asBuilt, undo, RecordsOf(site.Panels));
    if (assigner.Done()) {
        Error("every row of the schedule has a panel (" + asBuilt + ")");
        return ExitOk;
    }
    Error("as-built plan: " + asBuilt + "; undo plan: " + undo);

    if (!options.Watch) {
        const auto found = ByMac(present);
        if (found.empty()) {
            Error("no new panel answered on " + newOn->Text());
            return ExitFailed;
        }
        if (!options.InMacOrder) {
            Error(std::to_string(found.size()) + " new panel(s) on " + newOn->Text() +
                  ": --in-mac-order gives them the rows in MAC order, --watch as they are "
                  "powered; nothing was written");
            return ExitRefused;
        }
        std::size_t given = 0;
        for (; given < found.size(); ++given) {
            if (assigner.Done() || Interrupted() || assigner.Broken()) break;
            assigner.Assign(found[given]);
        }
        if (!assigner.Done())
            Error(std::to_string(schedule.Rows.size() - assigner.Next()) +
                  " row(s) still without a panel");
        else if (given < found.size())
            Error("the schedule has no row left for " + std::to_string(found.size() - given) +
                  " new panel(s)");
        return assigner.ExitCode();
    }

    std::string refused; // the last "at once" said, to say it once
    // A script powers its panels from here on.
    Error("watching for new panels on " + newOn->Text() + " (Ctrl+C ends)");
    while (!assigner.Done() && !Interrupted() && !assigner.Broken()) {
        if (ErrorIsConsole())
            ShowProgress("waiting for a new panel on " + newOn->Text() + " for row " +
                         std::to_string(assigner.Next() + 1) + " (Ctrl+C ends)");
        SearchPlan plan;
        plan.Every = Every;
        plan.Requests = 1;
        plan.LossRetries = 0;
        const auto step = watch.Round(RecordsOf(engine.Search(plan).Replies));
        if (ErrorIsConsole()) ShowProgress("");
        std::vector<PanelRecord> take;
        if (step.Take) {
            take.push_back(*step.Take);
        } else if (step.New.size() > 1 && options.InMacOrder) {
            take = ByMac(step.New);
        } else if (step.New.size() > 1 && MacList(step.New) != refused) {
            refused = MacList(step.New);
            Error((step.New.size() == 2 ? std::string("two") : std::to_string(step.New.size())) +
                  " new panels at once: power them one at a time (" + refused +
                  "); none was assigned");
        }
        for (const PanelRecord& panel : take) {
            if (assigner.Done() || assigner.Broken()) break;
            assigner.Assign(panel);
            watch.Took(panel.Mac); // assigned, or refused: not new again
        }
    }
    return assigner.ExitCode();
}

} // namespace Cli
