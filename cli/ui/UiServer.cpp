#include "ui/UiServer.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <ctime>
#include <deque>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <thread>

#include <nlohmann/json.hpp>

#ifdef CALLPANEL_QRENCODE
#include <qrencode.h>
#endif

#include "ComputerAddresses.h"
#include "Console.h"
#include "Engine.h"
#include "Messages.h"
#include "PanelTexts.h"
#include "commands/Common.h"
#include "commands/Handover.h"
#include "commission/AsBuilt.h"
#include "commission/AssignRun.h"
#include "commission/Commissioning.h"
#include "commission/HtmlReport.h"
#include "files/Utf8Files.h"
#include "files/WholeFile.h"
#include "plan/PlanCheck.h"
#include "plan/PlanFile.h"
#include "plan/UndoMerge.h"
#include "plan/UndoPlan.h"
#include "site/Hearing.h"
#include "site/WriteRounds.h"
#include "text/LocalTime.h"
#include "text/TerminalText.h"
#include "ui/Secret.h"
#include "web/AddressPlanJson.h"
#include "web/LiveFeed.h"
#include "web/LiveSite.h"
#include "web/SiteFolder.h"
#include "web/UndoPlans.h"
#include "web/WebGuard.h"

// The page, its style and its script, embedded at build time (cli/ui/page/).
extern const char* const UiPageHtml;

namespace Cli {

namespace {

using json = nlohmann::json;
using namespace std::chrono_literals;

long long NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// What the page shows, shared by the worker and the server's threads. Every change bumps
// Version, which wakes the live streams.
class Hub {
  public:
    std::mutex Lock;
    std::condition_variable Changed;
    long long Version = 0;
    bool Stopping = false;
    json Site = {{"panels", json::array()}, {"faults", json::array()}};
    json Check;  // null until a check ran
    json Report; // the last report written
    json Assign; // the schedule's rows and their states, once an assign started
    json Apply;  // the last dry run or apply (batch change, undo)
    // The report's picture of the site's addresses, drawn again whenever the site changes.
    json AddressPlan = AddressPlanJson(LiveSite());
    std::string Busy;
    std::string Folder, Root;
    std::deque<json> Log;
    // The site folder's undo plans, read again only when one changed. The caller holds Lock.
    mutable UndoPlanList Undos;

    // The caller holds Lock. The live stream of the pages that act, or of the view-only ones,
    // brought up to this version of the state: built once for all the pages, each of which then
    // gets what it lacks.
    LiveFeed& FeedOf(bool viewOnly) {
        Fed& fed = viewOnly ? ViewFeed : MainFeed;
        if (fed.From != Version) {
            fed.Feed.Update(Snapshot(viewOnly));
            fed.From = Version;
        }
        return fed.Feed;
    }

    // The caller holds Lock.
    void Bump() {
        ++Version;
        Changed.notify_all();
    }
    // Prints `text` on the terminal and adds it to the page's log.
    void Say(const std::string& text) {
        std::fprintf(stderr, "callpanel: ui: %s\n", TerminalText(text).c_str());
        std::fflush(stderr);
        std::lock_guard<std::mutex> lock(Lock);
        Log.push_back({{"time", LocalTimeText("%H:%M:%S")}, {"text", text}});
        if (Log.size() > 200) Log.pop_front();
        Bump();
    }
    // The caller holds Lock.
    json Snapshot(bool viewOnly) const {
        json files = json::array();
        if (!Folder.empty())
            for (const char* suffix : {".csv", ".html"})
                for (const FolderFile& f : FolderFiles(Folder, suffix))
                    files.push_back({{"name", f.Name},
                                     {"modified", f.Modified},
                                     {"asBuilt", f.AsBuilt},
                                     {"undo", f.Undo}});
        json undoPlans = json::array();
        if (!Folder.empty() && !viewOnly)
            for (const UndoPlanFile& f : Undos.Of(Folder))
                undoPlans.push_back({{"name", f.Name}, {"time", f.Time}, {"rows", f.Rows}});
        json sites = json::array();
        if (!Root.empty() && !viewOnly) {
            std::string error;
            sites = SiteFolders(Root, error);
        }
        return {{"now", NowMs()},        {"viewOnly", viewOnly},
                {"folder", Folder},      {"root", viewOnly ? std::string() : Root},
                {"sites", sites},        {"files", files},
                {"site", Site},          {"check", Check},
                {"report", Report},      {"assign", Assign},
                {"apply", Apply},        {"busy", Busy},
                {"log", json(Log)},      {"addressPlan", AddressPlan},
                {"undoPlans", undoPlans}};
    }

  private:
    struct Fed {
        LiveFeed Feed;
        long long From = -1; // the version of the state it holds
    };
    // A new name for each run: a page left open across a restart gets the state whole.
    const std::string Run = std::to_string(NowMs());
    Fed MainFeed{LiveFeed(Run)}, ViewFeed{LiveFeed(Run)};
};

// The one thread that talks to the panels: search rounds while idle, the page's actions one at
// a time in between.
// The searches of an apply from the page end as `callpanel apply`'s do: as soon as the loss
// and lateness measured make the decision sure, within the same deadline. The site's own rounds
// are short, and a write that rested on them would be refused whenever replies come late.
const SearchOptions WriteSearch{WriteSearchWaitMs, 1};

class Worker {
  public:
    Worker(Engine& engine, Hub& hub, const UiOptions& options)
        : Net(engine), State(hub), Options(options) {}
    ~Worker() { Finish(); }

    void Start() {
        Thread = std::thread([this] { Run(); });
    }
    void Finish() {
        Stop = true;
        if (Thread.joinable()) Thread.join();
    }
    // Queues `action`; false when another one is queued or running.
    bool Queue(const std::string& name, std::function<void()> action) {
        std::lock_guard<std::mutex> lock(JobLock);
        if (Job) return false;
        Job = std::move(action);
        std::lock_guard<std::mutex> hubLock(State.Lock);
        State.Busy = name;
        State.Bump();
        return true;
    }

    // Used by the actions, on the worker thread only.
    Engine& Net;
    LiveSite Live;
    void PublishSite() {
        const json site = SiteJson(Live);
        json plan = AddressPlanJson(Live);
        std::lock_guard<std::mutex> lock(State.Lock);
        State.Site = site;
        State.AddressPlan = std::move(plan);
        State.Bump();
    }

  private:
    void Run() {
        while (!Stop) {
            std::function<void()> job;
            {
                std::lock_guard<std::mutex> lock(JobLock);
                job = Job;
            }
            if (job) {
                job();
                std::lock_guard<std::mutex> lock(JobLock);
                Job = nullptr;
                std::lock_guard<std::mutex> hubLock(State.Lock);
                State.Busy.clear();
                State.Bump();
                continue;
            }
            // Rounds last a quarter second, so that a panel just powered shows on the page
            // within a second.
            SearchPlan plan;
            plan.Every = SearchEvery;
            plan.Requests = 1;
            plan.LossRetries = 0;
            const Collected heard = Net.Search(plan);
            if (Live.Round(heard.Replies, NowMs())) PublishSite();
        }
    }

    Hub& State;
    const UiOptions& Options;
    std::thread Thread;
    std::atomic<bool> Stop{false};
    std::mutex JobLock;
    std::function<void()> Job;
};

// The plan `name` of the site folder, or errors saying why not.
bool LoadFolderPlan(const std::string& folder, const std::string& name, PlanKind kind, Plan& plan,
                    std::vector<std::string>& errors) {
    std::string error, text;
    const std::string path = PathInFolder(folder, name, ".csv", error);
    if (path.empty() || !LoadPlanText(path, text, error)) {
        errors.push_back(error);
        return false;
    }
    plan = ReadPlan(text, kind);
    for (const PlanError& e : plan.Errors)
        errors.push_back(Where(name, e));
    return plan.Errors.empty();
}

// The searches of an action shown on the page as they come: the site stays live while an
// assign watches for new panels.
class TeeLink final : public PanelLink {
  public:
    TeeLink(PanelLink& link, std::function<void(const Collected&)> heard)
        : Link(link), Heard(std::move(heard)) {}
    Collected Search(const SearchPlan& plan) override {
        Collected collected = Link.Search(plan);
        Heard(collected);
        return collected;
    }
    std::size_t WriteAll(const std::vector<PanelWrite>& writes, std::vector<bool>& replied,
                         const std::function<bool(std::size_t)>& next) override {
        return Link.WriteAll(writes, replied, next);
    }
    std::chrono::steady_clock::time_point LastRequest() const override {
        return Link.LastRequest();
    }
    std::vector<FoundPanel> Unread(std::chrono::steady_clock::time_point until) override {
        return Link.Unread(until);
    }

  private:
    PanelLink& Link;
    std::function<void(const Collected&)> Heard;
};

std::vector<Ipv4Bytes> OwnAddresses() {
    std::vector<Ipv4Bytes> own;
    for (const auto& a : ComputerAddresses())
        own.push_back({a[0], a[1], a[2], a[3]});
    return own;
}

// A new file name in the site folder, by the local time: undo-2026-12-08-101500.csv.
std::string NewFolderName(const std::string& folder, const std::string& stem,
                          const std::string& suffix) {
    const std::string base = stem + "-" + LocalTimeText("%Y-%m-%d-%H%M%S");
    for (int n = 1;; ++n) {
        std::string name = base;
        if (n > 1) name.append("-").append(std::to_string(n));
        name.append(suffix);
        std::error_code code;
        if (!std::filesystem::exists(Utf8Path(folder) / Utf8Path(name), code)) return name;
    }
}

class SitePage {
  public:
    SitePage(Engine& engine, const UiOptions& options)
        : Options(options), Work(engine, State, options) {
        State.Folder = options.Folder;
        State.Root = options.Folder.empty()
                         ? (options.SitesRoot.empty() ? DefaultSitesRoot() : options.SitesRoot)
                         : std::string();
    }

    Hub State;
    const UiOptions& Options;
    Worker Work;

    std::string Folder() {
        std::lock_guard<std::mutex> lock(State.Lock);
        return State.Folder;
    }

    std::atomic<bool> StopAssign{false};
    // The panel the person said takes the next row, of new panels answering together.
    std::mutex ChosenLock;
    std::string ChosenMac;
    void Choose(const std::string& mac) {
        std::lock_guard<std::mutex> lock(ChosenLock);
        ChosenMac = mac;
    }

    // The schedule's rows as the page shows them before a run: each row's place, and its panel
    // and state when an earlier run's as-built plan took it.
    static json ScheduleRows(const Plan& schedule, const std::vector<AsBuiltRow>& taken) {
        json rows = json::array();
        for (std::size_t at = 0; at < schedule.Rows.size(); ++at) {
            const PlanRow& row = schedule.Rows[at];
            const auto cell = [&row](const char* column) {
                const auto it = row.Cells.find(column);
                return it == row.Cells.end() ? std::string() : it->second;
            };
            rows.push_back({{"row", at + 1},
                            {"note", row.Notes.empty() ? std::string() : row.Notes.front().second},
                            {"address", cell("address")},
                            {"ip", cell("ip")},
                            {"mac", taken[at].Mac},
                            {"state", taken[at].Mac.empty()    ? "waiting"
                                      : taken[at].Unfinished() ? "writing when the last run ended"
                                                               : "taken before"},
                            {"details", ""}});
        }
        return rows;
    }

    // Reads the schedule `scheduleName` of `folder` and, when an earlier run left one, its
    // as-built plan `builtName`, whose rows are taken and whose panels are not new. False after
    // putting the reasons in `errors`.
    static bool LoadSchedule(const std::string& folder, const std::string& scheduleName,
                             const std::string& builtName, Plan& schedule,
                             std::vector<AsBuiltRow>& taken, std::string& asBuilt,
                             std::vector<std::string>& errors) {
        if (!LoadFolderPlan(folder, scheduleName, PlanKind::Schedule, schedule, errors))
            return false;
        std::string error;
        asBuilt = PathInFolder(folder, builtName, ".csv", error);
        if (asBuilt.empty()) {
            errors = {error};
            return false;
        }
        taken.assign(schedule.Rows.size(), AsBuiltRow());
        std::error_code code;
        if (!std::filesystem::exists(Utf8Path(asBuilt), code)) return true;
        Plan built;
        if (!LoadFolderPlan(folder, builtName, PlanKind::AsBuilt, built, errors)) return false;
        const auto resumed = ResumedRows(schedule, built, error);
        if (!resumed) {
            errors = {builtName + ": " + error};
            return false;
        }
        taken = *resumed;
        return true;
    }

    // How an assign run tells the page what it does: each row's state in `view`, published as
    // it changes, and the person's choice of the panel that takes the next row.
    AssignEvents PageEvents(json& view, const std::function<void()>& publish) {
        AssignEvents events;
        events.Say = [this](const std::string& text) { State.Say("assign: " + text); };
        events.Row = [this, &view, &publish](std::size_t at, const std::string& mac,
                                             const std::string& state, const std::string& details,
                                             const std::string& line) {
            view["rows"][at]["mac"] = mac;
            view["rows"][at]["state"] = state;
            view["rows"][at]["details"] = details;
            view["together"] = json::array();
            publish();
            Choose("");
            if (!line.empty()) State.Say("assign: " + line);
        };
        events.Progress = [&view, &publish](const std::string& text) {
            if (view["waiting"] == text) return;
            view["waiting"] = text;
            publish();
        };
        events.Heard = [&view, &publish](const std::string& text) {
            if (view["heard"] == text) return;
            view["heard"] = text;
            publish();
        };
        events.Stopped = [this] { return StopAssign || Interrupted(); };
        events.Chosen = [this] {
            std::lock_guard<std::mutex> lock(ChosenLock);
            return ChosenMac;
        };
        events.Together = [&view, &publish](const std::vector<PanelRecord>& panels) {
            view["together"] = json::array();
            for (const PanelRecord& p : panels)
                view["together"].push_back(MacText(p.Mac));
            publish();
        };
        return events;
    }

    // An assign run that writes nothing, and why, on the page and in its messages.
    void RefuseAssign(const std::vector<std::string>& errors, json& view,
                      const std::function<void()>& publish) {
        for (const std::string& e : errors) {
            view["errors"].push_back(e);
            State.Say("assign: " + e);
        }
        State.Say("assign: nothing was written");
        view["running"] = false;
        publish();
    }

    // Says how an assign run ended: every row taken, stopped by the person, or ended otherwise.
    void SayAssignEnded(const Assigner& assigner) {
        const int outcome = assigner.Outcome();
        State.Say(std::string("assign ") +
                  (assigner.Done()               ? "done: every row of the schedule has a panel"
                   : StopAssign || Interrupted() ? "stopped"
                                                 : "ended") +
                  (outcome == 0 ? "" : "; a row was not verified or refused (see above)"));
    }

    // The schedule given to new panels as they are powered, as `assign --watch` gives it, each
    // row's state on the page as it changes; until every row is taken or Stop.
    void RunAssign(const std::string& scheduleName, bool inMacOrder) {
        StopAssign = false;
        const std::string folder = Folder();
        json view = {
            {"schedule", scheduleName}, {"rows", json::array()}, {"errors", json::array()},
            {"running", true},          {"waiting", ""},         {"together", json::array()}};
        const std::function<void()> publish = [this, &view] {
            std::lock_guard<std::mutex> lock(State.Lock);
            State.Assign = view;
            State.Bump();
        };
        const auto refuse = [&](const std::vector<std::string>& errors) {
            RefuseAssign(errors, view, publish);
        };
        Plan schedule;
        std::vector<AsBuiltRow> taken;
        std::string asBuilt, error;
        std::vector<std::string> errors;
        const std::string builtName = DefaultAsBuiltPath(scheduleName);
        if (!LoadSchedule(folder, scheduleName, builtName, schedule, taken, asBuilt, errors))
            return refuse(errors);
        view["rows"] = ScheduleRows(schedule, taken);
        publish();
        std::set<MacAddress> assigned;
        // A row being written when a run ended is its panel's too: that panel is not new.
        for (const AsBuiltRow& row : taken)
            if (const auto bytes = ParseMac(row.Mac)) assigned.insert(*bytes);
        const Subnet newOn = *ParseSubnet(FactorySubnet);
        NewPanelWatch watch(newOn, assigned);
        TeeLink link(Work.Net, [this](const Collected& heard) {
            if (Work.Live.Round(heard.Replies, NowMs())) Work.PublishSite();
        });
        const Searched searched = SearchUntil(link, SiteSearch(Options.Search));
        std::vector<PanelRecord> others;
        for (const PanelRecord& r : RecordsOf(searched.Found))
            if (!watch.IsNew(r) && !assigned.count(MacOf(r.Mac))) others.push_back(r);
        const std::vector<Ipv4Bytes> own = OwnAddresses();
        for (const PlanError& e : CheckSchedule(schedule.Rows, others, own))
            errors.push_back(Where(scheduleName, e));
        if (!errors.empty()) return refuse(errors);
        const std::string undoName = NewFolderName(folder, "undo", ".csv");
        const std::string undo = PathInFolder(folder, undoName, ".csv", error);

        const AssignEvents events = PageEvents(view, publish);
        Choose("");
        Assigner assigner(link, schedule, taken, {asBuilt, undo, false}, RecordsOf(searched.Found),
                          own, Options.Search, Options.Rounds, events, false, searched.Heard);
        // A row a killed run was writing goes first: its panel holds it, half of it or nothing.
        assigner.FinishUnfinished(RecordsOf(searched.Found));
        if (!assigner.Done() && !assigner.Broken()) {
            State.Say("assign " + scheduleName + ": as-built plan " + builtName + ", undo plan " +
                      undoName + "; watching for new panels on " + newOn.Text());
            WatchAndAssign(link, assigner, watch, newOn, inMacOrder, events, searched.Heard);
        }
        view["running"] = false;
        view["waiting"] = "";
        publish();
        SayAssignEnded(assigner);
    }

    // An apply run refused: the reasons on the page and in the messages, each begun with
    // `prefix`.
    void RefuseApply(const std::vector<std::string>& errors, const std::string& prefix, bool dryRun,
                     json& view) {
        for (const std::string& e : errors) {
            view["errors"].push_back(e);
            State.Say(prefix + e);
        }
        if (!dryRun) State.Say(prefix + "nothing was written");
    }

    // The plan's errors and the site's conflicts, which refuse the run, into `errors`; the
    // site's warnings, which the run does not change, into the page's `view`.
    static void TakeProblems(const Changes& changes, const std::string& planName,
                             std::vector<std::string>& errors, json& view) {
        for (const PlanError& e : changes.Errors)
            errors.push_back(Where(planName, e));
        for (const auto& c : changes.Site.Conflicts)
            errors.push_back("site: " + c);
        for (const auto& w : changes.Site.Warnings)
            view["warnings"].push_back(w + " (already so; this change does not change it)");
    }

    // What a dry run of `changes` shows: each field a row would write, from what to what, and
    // each row whose panel did not answer.
    static json DryRunRows(const Changes& changes) {
        json rows = json::array();
        for (const RowChange& r : changes.Rows) {
            if (r.Kind == RowKind::NotFound) {
                rows.push_back({{"mac", r.Mac}, {"result", "not found"}});
                continue;
            }
            for (const FieldChange& c :
                 Differences(r.Current, AsReported(StagedOver(r, r.Current)), r.Sets))
                rows.push_back({{"mac", r.Mac},
                                {"result", "to write"},
                                {"field", c.Field},
                                {"old", c.Old},
                                {"new", c.New}});
        }
        return rows;
    }

    // Saves the undo plan of `changes` under a new name in `folder` before anything is written.
    // False after saying why in `error`.
    static bool SaveUndoInFolder(const std::string& folder, const Changes& changes,
                                 std::string& undoName, std::string& error) {
        undoName = NewFolderName(folder, "undo", ".csv");
        const std::string undo = PathInFolder(folder, undoName, ".csv", error);
        return !undo.empty() && SaveUndoPlan(undo, UndoPlanText(changes.Rows), false, error);
    }

    // Puts each row's result in `view`, and each clash the writes left on the site in `view`
    // and the messages (each begun with `prefix`). Returns how many rows were verified or left
    // unchanged.
    int ShowWritten(const Rounds& rounds, const std::vector<PanelRecord>& found,
                    const std::vector<PanelRecord>& readBack, const std::string& prefix,
                    json& view) {
        int ok = 0;
        for (std::size_t at = 0; at < rounds.Size(); ++at) {
            const RowResult result = rounds.Result(at);
            ok += result.Ok ? 1 : 0;
            view["rows"].push_back({{"mac", rounds.Row(at).Mac},
                                    {"result", result.Result},
                                    {"details", result.Details}});
        }
        for (const std::string& clash : ClashesAfter(rounds, found, readBack)) {
            view["errors"].push_back("site after the writes: " + clash);
            State.Say(prefix + "site after the writes: " + clash);
        }
        return ok;
    }

    // The plans `names` of `folder` as `apply` takes them: one plan, or several undo plans as
    // one, earliest first. False after putting the reasons in `errors`, in `apply`'s words.
    bool LoadApplyPlan(const std::string& folder, std::vector<std::string>& names, Plan& plan,
                       std::vector<std::string>& errors) {
        // A request that names no plan is refused as a plan without a name is.
        if (names.empty()) names.push_back("");
        if (names.size() > 1) {
            std::lock_guard<std::mutex> lock(State.Lock);
            names = EarliestFirst(names, State.Undos.Of(folder));
        }
        std::vector<NamedPlan> plans;
        for (const std::string& name : names) {
            plans.push_back({name, Plan()});
            if (!LoadFolderPlan(folder, name, PlanKind::KeyedByMac, plans.back().Read, errors))
                return false;
        }
        plan = PlanOfFiles(std::move(plans));
        for (const PlanError& e : plan.Errors)
            errors.push_back(e.Text); // the merge's errors name the files themselves
        return plan.Errors.empty();
    }

    // The search an apply run needs: its panels, every panel of the site when it writes. Empty
    // after saying why not through `refuse`.
    std::optional<Searched>
    ApplySearch(PanelLink& link, const Plan& plan, bool dryRun,
                const std::function<void(std::vector<std::string>)>& refuse) {
        std::vector<MacAddress> macs;
        for (const PlanRow& row : plan.Rows)
            if (const auto cell = row.Cells.find("mac"); cell != row.Cells.end())
                if (const auto mac = ParseMac(cell->second)) macs.push_back(*mac);
        Searched searched = SearchUntil(link, PlanSearch(WriteSearch, macs));
        if (!dryRun && !searched.All.Whole)
            refuse({"the search is not whole: the system dropped replies in every round, so "
                    "panels may be missing"});
        else if (!dryRun && !searched.Decided)
            refuse({"not sure that the search heard every panel: " + LossText(searched.Heard)});
        else
            return searched;
        return std::nullopt;
    }

    // The writes of `changes`, after saving their undo plan into the folder, each row's result
    // in `view`.
    void WriteApply(PanelLink& link, const Changes& changes, const Searched& searched,
                    const std::string& what, json& view,
                    const std::function<void(std::vector<std::string>)>& refuse) {
        if (std::any_of(changes.Rows.begin(), changes.Rows.end(),
                        [](const RowChange& r) { return r.Kind == RowKind::Write; })) {
            std::string undoName, error;
            if (!SaveUndoInFolder(Folder(), changes, undoName, error)) return refuse({error});
            view["undo"] = undoName;
            State.Say(what + ": undo plan " + undoName);
        }
        Rounds rounds(changes.Rows, RecordsOf(searched.Found));
        const auto readBack =
            WriteRounds(link, rounds, WriteSearch, Options.Rounds,
                        RunControl{[] { return Interrupted(); }, [](const std::string&) {}});
        const int ok = ShowWritten(rounds, RecordsOf(searched.Found), readBack, what + ": ", view);
        State.Say(what + ": " + std::to_string(ok) + " of " + std::to_string(rounds.Size()) +
                  " row(s) verified or unchanged");
    }

    // Plans of the folder as `apply` writes them (`dryRun`: what they would change, as
    // `apply --dry-run` shows it): one plan, or several undo plans as one, as `apply U1 U2`
    // takes them; the undo plan goes into the folder.
    void RunApply(std::vector<std::string> names, bool dryRun) {
        const std::string folder = Folder();
        json view = {{"plan", ""},
                     {"plans", json::array()},
                     {"dryRun", dryRun},
                     {"rows", json::array()},
                     {"errors", json::array()},
                     {"warnings", json::array()},
                     {"undo", ""}};
        const auto publish = [this, &view] {
            std::lock_guard<std::mutex> lock(State.Lock);
            State.Apply = view;
            State.Bump();
        };
        Plan plan;
        std::vector<std::string> errors;
        const bool loaded = LoadApplyPlan(folder, names, plan, errors);
        // Messages name several plans as `apply` does: joined by " + ", the earliest first.
        std::string planName;
        for (const std::string& name : names)
            planName.append(planName.empty() ? "" : " + ").append(name);
        view["plan"] = planName;
        view["plans"] = names;
        const std::string what = (dryRun ? "dry run " : "apply ") + planName;
        const std::function<void(std::vector<std::string>)> refuse =
            [&](std::vector<std::string> reasons) {
                RefuseApply(reasons, what + ": ", dryRun, view);
                publish();
            };
        if (!loaded) return refuse(errors);
        TeeLink link(Work.Net, [this](const Collected& heard) {
            if (Work.Live.Round(heard.Replies, NowMs())) Work.PublishSite();
        });
        const std::optional<Searched> searched = ApplySearch(link, plan, dryRun, refuse);
        if (!searched) return;
        const Changes changes =
            PlanChanges(plan.Rows, RecordsOf(searched->Found), "", OwnAddresses());
        TakeProblems(changes, planName, errors, view);
        if (changes.Refused()) return refuse(errors);
        if (dryRun) {
            view["rows"] = DryRunRows(changes);
            State.Say(what + ": " + std::to_string(view["rows"].size()) +
                      " change(s) shown, nothing written");
        } else {
            WriteApply(link, changes, *searched, what, view, refuse);
        }
        publish();
    }

    // The check of the site against `planName`, as `callpanel check` judges it.
    void RunCheck(const std::string& planName) {
        const std::string folder = Folder();
        Plan plan;
        std::vector<std::string> errors;
        json result = {{"plan", planName}, {"rows", json::array()}, {"errors", json::array()}};
        if (LoadFolderPlan(folder, planName, PlanKind::KeyedByMac, plan, errors)) {
            const Searched searched = SearchUntil(Work.Net, SiteSearch(Options.Search));
            Work.Live.Round(searched.All.Replies, NowMs());
            Work.PublishSite();
            const PlanCheck check =
                CheckPlan(plan.Rows, RecordsOf(searched.Found), *ParseSubnet(FactorySubnet));
            for (const PlanError& e : check.Errors)
                errors.push_back(Where(planName, e));
            static const char* const results[] = {"as planned", "differs", "missing", "extra"};
            int counts[4] = {};
            for (const CheckRow& row : check.Rows) {
                result["rows"].push_back(
                    {{"mac", row.Mac}, {"result", row.Result}, {"details", row.Details}});
                for (int k = 0; k < 4; ++k)
                    if (row.Result == results[k]) ++counts[k];
            }
            for (const SiteFault& fault : check.Faults)
                for (const std::string& mac : fault.Macs)
                    result["rows"].push_back(
                        {{"mac", mac}, {"result", "site fault"}, {"details", fault.Text}});
            const bool whole = searched.Decided;
            if (!whole) result["short"] = "the list may be short: " + LossText(searched.Heard);
            result["passed"] = errors.empty() && check.Passed(false) && whole;
            if (errors.empty())
                State.Say("check " + planName + ": " + std::to_string(counts[0]) + " as planned, " +
                          std::to_string(counts[1]) + " differs, " + std::to_string(counts[2]) +
                          " missing, " + std::to_string(counts[3]) + " extra, " +
                          std::to_string(check.Faults.size()) + " site fault(s)");
        }
        for (const std::string& e : errors) {
            result["errors"].push_back(e);
            State.Say("check: " + e);
        }
        std::lock_guard<std::mutex> lock(State.Lock);
        State.Check = result;
        State.Bump();
    }

    // The handover report written into the site folder, as `callpanel report` writes it.
    void RunReport(const std::string& planName) {
        const std::string folder = Folder();
        Plan plan;
        std::vector<std::string> errors;
        if (!planName.empty() &&
            !LoadFolderPlan(folder, planName, PlanKind::KeyedByMac, plan, errors)) {
            for (const std::string& e : errors)
                State.Say("report: " + e);
            return;
        }
        const Searched searched = SearchUntil(Work.Net, SiteSearch(Options.Search));
        Work.Live.Round(searched.All.Replies, NowMs());
        Work.PublishSite();
        if (!searched.Decided)
            State.Say("report: the list may be short: " + LossText(searched.Heard));
        // The report of `callpanel report`, the site named by its folder; the plan named by its
        // path, beside which the as-built plans of the work done are found.
        ReportOptions report;
        const auto leaf = Utf8Path(folder).filename().u8string();
        report.Site = std::string(leaf.begin(), leaf.end());
        // The work done is the site folder's, whatever folder the page was started in.
        report.SiteFolder = folder;
        std::string error;
        if (!planName.empty()) report.PlanPath = PathInFolder(folder, planName, ".csv", error);
        ReportInput input;
        if (!BuildReport(report, plan, searched.Found, input)) {
            State.Say("report: the plan's rows cannot be checked (the terminal says why)");
            return;
        }
        const std::string name = "report-" + LocalTimeText("%Y-%m-%d-%H%M%S") + ".html";
        const std::string path = PathInFolder(folder, name, ".html", error);
        if (path.empty() || !WriteWhole(path, ReportHtml(input), error)) {
            State.Say("report: " + error);
            return;
        }
        State.Say("report: " + name + " (" + std::to_string(searched.Found.size()) + " panel(s))");
        std::lock_guard<std::mutex> lock(State.Lock);
        State.Report = {{"name", name}, {"serial", State.Version + 1}};
        State.Bump();
    }
};

void SendJson(httplib::Response& res, const json& body, int status = 200) {
    res.status = status;
    res.set_content(body.dump(-1, ' ', false, json::error_handler_t::replace),
                    "application/json; charset=utf-8");
}

void Refuse(httplib::Response& res, int status, const std::string& reason) {
    SendJson(res, {{"error", reason}}, status);
}

// The body of a POST as JSON; an empty body is an empty object.
std::optional<json> BodyOf(const httplib::Request& req) {
    if (req.body.empty()) return json::object();
    json body = json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) return std::nullopt;
    return body;
}

std::string Text(const json& body, const char* key) {
    const auto it = body.find(key);
    return it != body.end() && it->is_string() ? it->get<std::string>() : std::string();
}

// The checks every request passes before any route sees it.
void Guard(httplib::Server& server, const GuardConfig& config, Hub& hub) {
    server.set_payload_max_length(MaxBodyBytes);
    server.set_pre_routing_handler(
        [&config, &hub](const httplib::Request& req, httplib::Response& res) {
            RequestFacts facts;
            facts.Method = req.method;
            facts.Host = req.get_header_value("Host");
            facts.Origin = req.get_header_value("Origin");
            facts.Cookie = req.get_header_value("Cookie");
            facts.HasKey = req.has_param("key");
            facts.Key = req.get_param_value("key");
            if (req.has_header("Content-Length"))
                facts.BodyBytes =
                    std::strtoull(req.get_header_value("Content-Length").c_str(), nullptr, 10);
            const Verdict verdict = Judge(facts, config);
            // Nothing from here on may be cached or framed by another page, and no address leaves
            // the page with the key in it.
            res.set_header("Cache-Control", "no-store");
            res.set_header("X-Content-Type-Options", "nosniff");
            res.set_header("X-Frame-Options", "DENY");
            res.set_header("Referrer-Policy", "no-referrer");
            res.set_header("Content-Security-Policy",
                           "default-src 'none'; script-src 'unsafe-inline'; style-src "
                           "'unsafe-inline'; img-src data:; connect-src 'self'; frame-ancestors "
                           "'none'; form-action 'none'; base-uri 'none'");
            if (verdict.Status != 0) {
                hub.Say(verdict.Reason + " (" + req.method + " " + req.path + " from " +
                        req.remote_addr + ")");
                Refuse(res, verdict.Status, verdict.Reason);
                return httplib::Server::HandlerResponse::Handled;
            }
            if (verdict.SetCookie) res.set_header("Set-Cookie", SecretCookie(config));
            return httplib::Server::HandlerResponse::Unhandled;
        });
}

// The live stream: the state whole when a page connects, then what changed, as it changes, and a
// comment every 15 s, by which a closed tab is noticed and its thread freed. A page that
// reconnects (EventSource does by itself, a second after a lost connection) names the last event
// it had and gets what it missed.
void LiveStream(Hub& hub, bool viewOnly, const httplib::Request& req, httplib::Response& res) {
    struct Sent {
        std::string LastId;
        long long Seen = -1; // the hub's version last looked at
    };
    auto sent = std::make_shared<Sent>();
    sent->LastId = req.get_header_value("Last-Event-ID");
    res.set_chunked_content_provider(
        "text/event-stream", [&hub, viewOnly, sent](std::size_t, httplib::DataSink& sink) {
            std::unique_lock<std::mutex> lock(hub.Lock);
            hub.Changed.wait_for(lock, 15s,
                                 [&] { return hub.Version != sent->Seen || hub.Stopping; });
            if (hub.Stopping) return false;
            std::string data = sent->Seen < 0 ? "retry: 1000\n\n" : "";
            sent->Seen = hub.Version;
            LiveFeed& feed = hub.FeedOf(viewOnly);
            const std::vector<LiveEvent> events = feed.EventsSince(sent->LastId);
            if (!events.empty()) sent->LastId = events.back().Id;
            data += EventStreamText(events);
            lock.unlock();
            if (data.empty()) data = ": still here\n\n";
            return sink.write(data.data(), data.size());
        });
}

void ReadRoutes(httplib::Server& server, SitePage& site, bool viewOnly) {
    server.Get("/", [](const httplib::Request&, httplib::Response& res) {
        res.set_content(UiPageHtml, "text/html; charset=utf-8");
    });
    server.Get("/api/state", [&site, viewOnly](const httplib::Request&, httplib::Response& res) {
        std::lock_guard<std::mutex> lock(site.State.Lock);
        SendJson(res, site.State.Snapshot(viewOnly));
    });
    server.Get("/api/events",
               [&site, viewOnly](const httplib::Request& req, httplib::Response& res) {
                   LiveStream(site.State, viewOnly, req, res);
               });
    // The reports written into the site folder, to print.
    server.Get(R"(/files/([^/]+))", [&site](const httplib::Request& req, httplib::Response& res) {
        std::string error, text;
        const std::string path = PathInFolder(site.Folder(), req.matches[1], ".html", error);
        std::FILE* file = path.empty() ? nullptr : OpenUtf8File(path, "rb");
        if (!file) return Refuse(res, 404, error.empty() ? "no such report" : error);
        char buffer[65536];
        for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, file)) > 0;)
            text.append(buffer, n);
        std::fclose(file);
        res.set_content(text, "text/html; charset=utf-8");
    });
}

// Of new panels answering together, the one the person says was powered first: it takes the
// next row.
void ChooseFirst(SitePage& site, const httplib::Request& req, httplib::Response& res) {
    const auto body = BodyOf(req);
    if (!body) return Refuse(res, 400, "the request is not a JSON object");
    const std::string mac = Text(*body, "mac");
    const auto bytes = ParseMac(mac);
    if (!bytes) return Refuse(res, 400, "'" + mac + "' is no MAC");
    uint8_t raw[6];
    std::copy(bytes->begin(), bytes->end(), raw);
    site.Choose(MacText(raw));
    site.State.Say(MacText(raw) + " takes the next row");
    SendJson(res, {{"chosen", MacText(raw)}});
}

// A schedule or plan saved into the site folder: uploaded, or made by the batch change. Never
// over a file that is there.
void SaveFile(SitePage& site, const httplib::Request& req, httplib::Response& res) {
    const auto body = BodyOf(req);
    if (!body) return Refuse(res, 400, "the request is not a JSON object");
    const std::string folder = site.Folder();
    if (folder.empty()) return Refuse(res, 409, "open a site first");
    const std::string name = Text(*body, "name"), text = Text(*body, "text");
    std::string error;
    const std::string path = PathInFolder(folder, name, ".csv", error);
    if (path.empty()) return Refuse(res, 400, error);
    // Written as the commands write their files: whole or not at all, never over another.
    WholeFileWay way;
    way.MustBeNew = true;
    const WholeFileWritten written = WriteWholeFile(path, text, error, way);
    if (written == WholeFileWritten::NameTaken)
        return Refuse(res, 409, "'" + name + "' is there already; name it otherwise");
    if (written != WholeFileWritten::Done) return Refuse(res, 500, error);
    site.State.Say("saved " + name + " (" + std::to_string(text.size()) + " bytes)");
    {
        std::lock_guard<std::mutex> lock(site.State.Lock);
        site.State.Bump();
    }
    SendJson(res, {{"name", name}});
}

// Opens a site folder under the sites' root, made when `create` says so.
void OpenSite(SitePage& site, const httplib::Request& req, httplib::Response& res) {
    const auto body = BodyOf(req);
    if (!body) return Refuse(res, 400, "the request is not a JSON object");
    std::string root;
    {
        std::lock_guard<std::mutex> lock(site.State.Lock);
        root = site.State.Root;
    }
    if (root.empty()) return Refuse(res, 409, "this page serves one site folder");
    const std::string name = Text(*body, "name");
    std::string error;
    if (!PlainName(name, "", error)) return Refuse(res, 400, error);
    const std::string path = PathInFolder(root, name, "", error);
    if (path.empty()) return Refuse(res, 400, error);
    std::error_code code;
    const bool create = body->value("create", false);
    // A new site is a folder made now: a name already there (a folder, a file) is another
    // site's or something else, and is refused rather than taken over.
    if (create && std::filesystem::exists(std::filesystem::symlink_status(Utf8Path(path), code)))
        return Refuse(res, 409, "'" + name + "' is there already; name the new site otherwise");
    if (create) std::filesystem::create_directory(Utf8Path(path), code);
    if (code || !std::filesystem::is_directory(Utf8Path(path), code))
        return Refuse(res, 404,
                      "'" + name + "': no such site" + (code ? " (" + code.message() + ")" : ""));
    {
        std::lock_guard<std::mutex> lock(site.State.Lock);
        site.State.Folder = path;
        site.State.Check = nullptr;
        site.State.Report = nullptr;
        site.State.Bump();
    }
    site.State.Say(std::string(create ? "new site " : "site ") + name);
    SendJson(res, {{"folder", path}});
}

void ActionRoutes(httplib::Server& server, SitePage& site) {
    // Queues `action` with the request's JSON body, once a site folder is open.
    const auto post = [&server, &site](const char* path, const char* name,
                                       std::function<void(const json&)> action) {
        server.Post(
            path, [&site, name, action](const httplib::Request& req, httplib::Response& res) {
                const auto body = BodyOf(req);
                if (!body) return Refuse(res, 400, "the request is not a JSON object");
                if (site.Folder().empty()) return Refuse(res, 409, "open a site first");
                const json given = *body;
                // A name outside the site folder is refused here, before anything is
                // queued.
                std::string error, plan = Text(given, "schedule");
                std::vector<std::string> plans;
                if (!plan.empty() && !PlainName(plan, ".csv", error))
                    return Refuse(res, 400, error);
                if (!RequestedPlans(given, plans, error)) return Refuse(res, 400, error);
                for (const std::string& name : plans)
                    plan.append(plan.empty() ? "" : " + ").append(name);
                site.State.Say(std::string(name) + (plan.empty() ? "" : " " + plan) + ": started");
                if (!site.Work.Queue(name, [action, given] { action(given); }))
                    return Refuse(res, 409, "busy: one action at a time");
                SendJson(res, {{"queued", name}}, 202);
            });
    };
    post("/api/check", "check", [&site](const json& body) { site.RunCheck(Text(body, "plan")); });
    post("/api/report", "report",
         [&site](const json& body) { site.RunReport(Text(body, "plan")); });
    post("/api/assign", "assign", [&site](const json& body) {
        site.RunAssign(Text(body, "schedule"), body.value("inMacOrder", false));
    });
    post("/api/apply", "apply", [&site](const json& body) {
        std::vector<std::string> plans;
        std::string error; // the names were checked before the action was queued
        RequestedPlans(body, plans, error);
        site.RunApply(plans, body.value("dryRun", true));
    });
    // Stop: the assign takes no new panel; a row being written finishes.
    server.Post("/api/stop", [&site](const httplib::Request&, httplib::Response& res) {
        site.StopAssign = true;
        site.State.Say("stop asked");
        SendJson(res, {{"stopping", true}});
    });
    server.Post("/api/choose", [&site](const httplib::Request& req, httplib::Response& res) {
        ChooseFirst(site, req, res);
    });
    server.Post("/api/file", [&site](const httplib::Request& req, httplib::Response& res) {
        SaveFile(site, req, res);
    });
    server.Post("/api/site", [&site](const httplib::Request& req, httplib::Response& res) {
        OpenSite(site, req, res);
    });
}

void PrintQr(const std::string& text) {
#ifdef CALLPANEL_QRENCODE
    QRcode* code = QRcode_encodeString(text.c_str(), 0, QR_ECLEVEL_L, QR_MODE_8, 1);
    if (!code) return;
    const int width = code->width, quiet = 2;
    const auto dark = [&](int x, int y) {
        return x >= 0 && y >= 0 && x < width && y < width && (code->data[y * width + x] & 1) != 0;
    };
    // Two rows of modules per line of text: light on dark reads best on a dark terminal too,
    // so the code is drawn as light blocks where modules are light.
    std::string out;
    for (int y = -quiet; y < width + quiet; y += 2) {
        for (int x = -quiet; x < width + quiet; ++x) {
            const bool top = !dark(x, y), bottom = !dark(x, y + 1);
            out += top && bottom ? "\u2588" : top ? "\u2580" : bottom ? "\u2584" : " ";
        }
        out += "\n";
    }
    QRcode_free(code);
    std::fputs(out.c_str(), stdout);
#else
    (void)text;
#endif
}

// Where a running page leaves its address for a second `callpanel ui` of the same user.
std::string RunningFile() {
#ifdef _WIN32
    const std::string base = Utf8Environment("LOCALAPPDATA");
    return base.empty() ? std::string() : base + "\\callpanel\\ui-address";
#else
    std::string base = Utf8Environment("XDG_STATE_HOME");
    if (base.empty() && !Utf8Environment("HOME").empty())
        base = Utf8Environment("HOME") + "/.local/state";
    return base.empty() ? std::string() : base + "/callpanel/ui-address";
#endif
}

// The page of a `callpanel ui` already running for this user, when it still answers.
std::string RunningPage() {
    const std::string file = RunningFile();
    std::FILE* in = file.empty() ? nullptr : OpenUtf8File(file, "rb");
    if (!in) return {};
    char line[256] = {};
    const bool read = std::fgets(line, sizeof line, in) != nullptr;
    std::fclose(in);
    std::string url = read ? line : "";
    while (!url.empty() && (url.back() == '\n' || url.back() == '\r'))
        url.pop_back();
    const std::string prefix = "http://127.0.0.1:";
    if (url.rfind(prefix, 0) != 0) return {};
    const int port = std::atoi(url.c_str() + prefix.size());
    const std::size_t query = url.find("/?");
    if (port <= 0 || query == std::string::npos) return {};
    httplib::Client client("127.0.0.1", port);
    client.set_connection_timeout(1);
    client.set_read_timeout(2);
    const auto answer = client.Get("/api/state" + url.substr(query + 1));
    return answer && answer->status == 200 ? url : std::string();
}

struct Listener {
    std::string Address;
    int Port = 0;
};
std::optional<Listener> ParseListen(const std::string& text) {
    const std::size_t colon = text.rfind(':');
    if (colon == std::string::npos) return std::nullopt;
    Listener l{text.substr(0, colon), std::atoi(text.c_str() + colon + 1)};
    const auto ip = ParseSubnet(l.Address + "/32");
    if (!ip || l.Port <= 0 || l.Port > 65535 ||
        text.find_first_not_of("0123456789", colon + 1) != std::string::npos)
        return std::nullopt;
    return l;
}

} // namespace

namespace {

// The address to listen on that --listen gives, or none after saying why --listen or --folder
// is refused.
std::optional<Listener> ListenerOf(const UiOptions& options) {
    std::optional<Listener> listen = Listener{"127.0.0.1", 0};
    if (!options.Listen.empty()) listen = ParseListen(options.Listen);
    if (!listen) {
        std::fprintf(stderr, "callpanel: --listen takes ADDRESS:PORT, like 127.0.0.1:8080\n");
        return std::nullopt;
    }
    if (!options.Folder.empty()) {
        std::error_code code;
        if (!std::filesystem::is_directory(Utf8Path(options.Folder), code)) {
            std::fprintf(stderr, "callpanel: %s: no such folder\n",
                         TerminalText(options.Folder).c_str());
            return std::nullopt;
        }
    }
    return listen;
}

// When the panels' port is held: a second `callpanel ui` of the same user shows the page that
// holds it, anything else is told to close the program that holds it. Returns the exit code.
int PortHeldExit(const UiOptions& options) {
    const std::string running = RunningPage();
    if (!running.empty()) {
        std::printf("callpanel: open %s\n", running.c_str());
        std::fflush(stdout);
        if (!options.NoBrowser) OpenInBrowser(running);
        return ExitOk;
    }
    std::fprintf(stderr, "callpanel: UDP port 8300 is held by another program (the window "
                         "or another callpanel); close it and try again\n");
    return ExitPortHeld;
}

// Prints the page's address (and the view-only page's with its QR code, when `viewUrl` is
// given) and leaves it for a second `callpanel ui`. Returns the file it was left in, if any.
std::string AnnouncePage(const std::string& url, const std::string& viewUrl) {
    std::printf("callpanel: open %s\n", url.c_str());
    if (!viewUrl.empty()) {
        std::printf("callpanel: view-only page for a phone: %s\n", viewUrl.c_str());
        PrintQr(viewUrl);
    }
    std::fflush(stdout);
    const std::string running = RunningFile();
    if (!running.empty()) {
        std::error_code code;
        std::filesystem::create_directories(Utf8Path(running).parent_path(), code);
        std::string error;
        WriteWhole(running, url + "\n", error, true);
    }
    return running;
}

// Binds the page that acts: on --listen's address when it is a loopback one (on any free port
// when it gives none), on loopback otherwise, since a page that writes panels is for this
// computer alone. Returns the port, or 0 or less after saying that it cannot listen.
int BindMainPage(httplib::Server& main, const Listener& listen, bool loopbackOnly,
                 const std::string& listenText) {
    const int port =
        loopbackOnly
            ? (listen.Port
                   ? (main.bind_to_port(listen.Address.c_str(), listen.Port) ? listen.Port : -1)
                   : main.bind_to_any_port(listen.Address))
            : main.bind_to_any_port("127.0.0.1");
    if (port <= 0) std::fprintf(stderr, "callpanel: cannot listen on %s\n", listenText.c_str());
    return port;
}

// Ends the page's streams and work, then the servers.
void StopServing(SitePage& site, httplib::Server& main, httplib::Server& view) {
    site.State.Say("Ctrl+C: ending");
    {
        std::lock_guard<std::mutex> lock(site.State.Lock);
        site.State.Stopping = true;
        site.State.Changed.notify_all();
    }
    site.Work.Finish();
    main.stop();
    view.stop();
}

} // namespace

int RunUiServer(const UiOptions& options) {
    const std::optional<Listener> listen = ListenerOf(options);
    if (!listen) return ExitRefused;
    const bool loopbackOnly = listen->Address.rfind("127.", 0) == 0;
    Engine engine;
    if (!engine.Open()) return PortHeldExit(options);
    const std::string secret = NewSecret(), viewSecret = NewSecret();
    if (secret.empty() || viewSecret.empty()) {
        std::fprintf(stderr, "callpanel: the system's random source failed; no page served\n");
        return ExitFailed;
    }
    CatchInterrupts(ExitInterrupted);

    SitePage site(engine, options);
    // Each live page holds a thread for its stream: room for many pages and their requests.
    const auto pool = [] { return new httplib::ThreadPool(64); };
    httplib::Server main, view;
    main.new_task_queue = pool;
    view.new_task_queue = pool;
    const int port = BindMainPage(main, *listen, loopbackOnly, options.Listen);
    if (port <= 0) return ExitFailed;
    const std::string mainHost =
        (loopbackOnly ? listen->Address : "127.0.0.1") + ":" + std::to_string(port);
    const GuardConfig mainGuard{mainHost, secret, false};
    Guard(main, mainGuard, site.State);
    ReadRoutes(main, site, false);
    ActionRoutes(main, site);
    std::optional<GuardConfig> viewGuard;
    if (!loopbackOnly) {
        if (!view.bind_to_port(listen->Address.c_str(), listen->Port)) {
            std::fprintf(stderr, "callpanel: cannot listen on %s\n", options.Listen.c_str());
            return ExitFailed;
        }
        viewGuard = GuardConfig{options.Listen, viewSecret, true};
        Guard(view, *viewGuard, site.State);
        ReadRoutes(view, site, true);
    }
    std::thread mainThread([&] { main.listen_after_bind(); });
    std::thread viewThread([&] {
        if (viewGuard) view.listen_after_bind();
    });
    site.Work.Start();

    const std::string url = "http://" + mainHost + "/?key=" + secret;
    const std::string running = AnnouncePage(
        url, viewGuard ? "http://" + options.Listen + "/?key=" + viewSecret : std::string());
    if (!options.NoBrowser && !OpenInBrowser(url))
        site.State.Say("could not open a browser: open the address above");

    while (!Interrupted())
        std::this_thread::sleep_for(100ms);
    StopServing(site, main, view);
    mainThread.join();
    viewThread.join();
    std::error_code ignored;
    if (!running.empty()) std::filesystem::remove(Utf8Path(running), ignored);
    return ExitInterrupted;
}

} // namespace Cli
