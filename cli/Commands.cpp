#include "Commands.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <set>
#include <sstream>

#include "BroadcastInterfaces.h"
#include "Console.h"
#include "PanelTexts.h"
#include "Plan.h"
#include "PlanFile.h"
#include "Rounds.h"
#include "SettingsChecks.h"
#include "SiteChecks.h"
#include "TerminalText.h"

namespace Cli {

namespace {

constexpr const char* Arrow = " \xE2\x86\x92 "; // " → "
// Before writing and when reading back, searches go out this often, up to FindSearches of them,
// until every panel wanted has answered: one lost datagram costs a quarter second, not a run.
constexpr Millis SearchEvery{250};
constexpr int FindSearches = 12;

using Clock = std::chrono::steady_clock;

void Error(const std::string& text) {
    std::fprintf(stderr, "callpanel: %s\n", TerminalText(text).c_str()); // panel texts too
}

bool Quiet = false;

void Warn(const std::string& text) {
    if (!Quiet) Error("warning: " + text);
}

// Shown only to a person watching: on a terminal, and not with --quiet.
void Progress(const std::string& text) {
    if (!Quiet && ErrorIsConsole()) ShowProgress(text);
}

// A search with nowhere to go would look like a site without panels.
bool HaveNetwork() {
    if (!CurrentBroadcastRoutes().empty()) return true;
    Error("no network to send on: no interface is up with an IPv4 broadcast address");
    return false;
}

void Print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

// 0, or the exit code after saying why the engine cannot work.
int OpenEngine(Engine& engine) {
    if (!engine.Open()) {
        Error("UDP port 8300 is held by another program (the window or another callpanel); "
              "close it and try again");
        return ExitPortHeld;
    }
    return HaveNetwork() ? ExitOk : ExitFailed;
}

// Says so when the system dropped replies that no later search made up for.
void ReportLoss(const Collected& collected) {
    if (collected.Dropped == 0) return;
    Error("replies were lost: the system dropped " + std::to_string(collected.Dropped) +
          " datagram(s) while collecting, so " + std::to_string(collected.Searches) +
          " searches were sent; if panels are missing, raise net.core.rmem_max (for example "
          "sysctl -w net.core.rmem_max=16777216) and search again");
}

// A burst that filled most of the receive buffer may have overflowed it, even where the system
// does not count what it dropped.
void WarnFullBuffer(std::size_t replies, long room) {
    constexpr long PerReply = 2304; // what one 512-byte datagram takes of the buffer, at most
    if (room == 0 || long(replies) * PerReply < room * 3 / 4) return;
    Warn("replies may have been lost: " + std::to_string(replies) +
         " panels answered, about as many as the receive buffer holds; raise the limit "
         "(sysctl -w net.core.rmem_max=16777216) and search again");
}

// Searches until `answered` holds of the replies, at least `waits` times --wait after the first
// search.
Collected SearchUntil(Engine& engine, const SearchOptions& search,
                      const std::function<bool(const Replies&)>& answered,
                      const std::function<bool(const Replies&)>& done = {}, int waits = 1) {
    const auto start = Clock::now();
    SearchGoal goal;
    goal.Done = done;
    goal.Answered = [&](const Replies& replies) {
        return Clock::now() - start >= Millis(search.WaitMs) * waits && answered(replies);
    };
    const Collected collected = engine.Search(SearchEvery, FindSearches, goal);
    ReportLoss(collected);
    return collected;
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (const auto& part : parts) {
        if (!out.empty()) out += separator;
        out += part;
    }
    return out;
}

// A panel named by its MAC, its current IP address or its identity.
std::vector<const FoundPanel*> Matching(const std::vector<FoundPanel>& found,
                                        const std::string& name) {
    const auto mac = ParseMac(name);
    std::vector<const FoundPanel*> matches;
    for (const FoundPanel& p : found) {
        const auto cells = PanelCells(p.Record, p.Via);
        if ((mac && MacOf(p.Record) == *mac) || cells[4] == name || cells[10] == name)
            matches.push_back(&p);
    }
    return matches;
}

std::string Described(const FoundPanel& p) {
    const auto cells = PanelCells(p.Record, p.Via);
    return cells[0] + " (" + cells[10] + ", " + cells[4] + ")";
}

// The one panel `name` stands for, or the exit code after saying why there is none.
const FoundPanel* FindOne(const std::vector<FoundPanel>& found, const std::string& name,
                          int& exitCode) {
    const auto matches = Matching(found, name);
    if (matches.size() == 1) return matches.front();
    if (matches.empty()) {
        Error("no panel answered as '" + name + "' (" + std::to_string(found.size()) +
              " panel(s) found)");
        exitCode = ExitFailed;
        return nullptr;
    }
    std::vector<std::string> names;
    for (const FoundPanel* p : matches)
        names.push_back(Described(*p));
    Error("'" + name + "' names " + std::to_string(matches.size()) +
          " panels: " + Joined(names, ", ") + "; name one by its MAC");
    exitCode = ExitRefused;
    return nullptr;
}

// The panels found for a command on one panel: searched until the name has answered, and for
// as long as --repeat searches would take, so that another panel with the same name is heard.
std::vector<FoundPanel> FindNamed(Engine& engine, const SearchOptions& search,
                                  const std::string& name) {
    const auto named = [&](const Replies& replies) {
        std::vector<FoundPanel> panels;
        for (const PanelRecord& r : replies)
            panels.push_back({r, "", ""});
        return !Matching(panels, name).empty();
    };
    const auto collected = SearchUntil(engine, search, named, {}, search.Repeat);
    return Distinct(collected.Replies);
}

std::string Where(const std::string& path, const PlanError& e) {
    std::string where = path;
    if (e.Line > 0) where += ":" + std::to_string(e.Line);
    if (e.Line > 0 && e.Column > 0) where += ":" + std::to_string(e.Column);
    return where + ": " + e.Text;
}

// Errors and conflicts refuse the command; warnings are said and do not.
bool Refuse(const Changes& changes, const std::string& path) {
    for (const PlanError& e : changes.Errors)
        Error(path.empty() ? e.Text : Where(path, e));
    for (const auto& c : changes.Site.Conflicts)
        Error("site: " + c);
    for (const auto& w : changes.Site.Warnings)
        Warn(w + " (already so; this command does not change it)");
    return changes.Refused();
}

// Writes in rounds until every row is verified or `rounds` have passed. After a Ctrl+C the rows
// not yet written are skipped and what was written is read back.
void WriteRounds(Engine& engine, Rounds& rounds, const SearchOptions& search, int maxRounds,
                 std::vector<PanelRecord> known) {
    const std::size_t total = rounds.ToWrite().size();
    for (int round = 0; round < maxRounds && !rounds.Finished(); ++round) {
        if (Interrupted()) break;
        const auto todo = rounds.ToWrite();
        for (std::size_t n = 0; n < todo.size(); ++n) {
            const std::size_t at = todo[n];
            if (Interrupted()) {
                rounds.Skip(at);
                continue;
            }
            Progress("round " + std::to_string(round + 1) + ": " +
                     std::to_string(total - todo.size() + n) + " of " + std::to_string(total) +
                     " rows done");
            const PanelRecord current = rounds.Latest(at);
            const PanelRecord pending = rounds.Pending(at);
            const bool replied = engine.Write(current, pending, [&](const std::string& source) {
                return CreditsWrite(source, current, pending, known);
            });
            rounds.Wrote(at, replied);
        }
        const auto collected = SearchUntil(
            engine, search, [&](const Replies& r) { return rounds.AllAnswered(r); },
            [&](const Replies& r) { return rounds.AllHold(r); });
        const Replies replies = RecordsOf(collected.Replies);
        rounds.ReadBack(replies);
        auto latest = Distinct(collected.Replies);
        for (const PanelRecord& r : known)
            if (std::none_of(latest.begin(), latest.end(),
                             [&](const FoundPanel& p) { return MacOf(p.Record) == MacOf(r); }))
                latest.push_back({r, "", ""});
        known = RecordsOf(latest);
    }
    Progress("");
    for (std::size_t at : rounds.ToWrite())
        if (Interrupted()) rounds.Skip(at);
}

// The results of `set` and `delete-cards` in a format for scripts.
void PrintResult(const std::string& mac, const std::string& result, const std::string& details,
                 Format format) {
    if (format == Format::Table) // details may quote what the panel reports
        Print(TerminalText(mac + ": " + result + (details.empty() ? "" : " (" + details + ")")) +
              "\n");
    else
        Print(Render(Table{{"mac", "result", "details"}, {{mac, result, details}}}, format));
}

int Finish(bool ok) {
    if (Interrupted()) return ExitInterrupted;
    return ok ? ExitOk : ExitFailed;
}

} // namespace

void SetQuiet(bool quiet) {
    Quiet = quiet;
}

int RunSearch(const SearchOptions& search, Format format) {
    Engine engine;
    if (const int code = OpenEngine(engine)) return code;
    const Collected collected = engine.Search(Millis(search.WaitMs), search.Repeat);
    ReportLoss(collected);
    const auto found = Distinct(collected.Replies);
    Print(Render(PanelTable(found), format));
    if (collected.Dropped == 0) WarnFullBuffer(found.size(), engine.ReceiveRoom());
    for (const std::string& shared : SharedNames(RecordsOf(found)))
        Warn(shared + ": a request for one reaches all of them");
    if (found.empty()) {
        Error("no panel answered");
        return ExitFailed;
    }
    return ExitOk;
}

int RunSet(const SetOptions& options) {
    Engine engine;
    if (const int code = OpenEngine(engine)) return code;
    // The first Ctrl+C lets the write in flight finish and skips the rest; the second ends at once.
    CatchInterrupts(ExitInterrupted);
    const auto found = FindNamed(engine, options.Search, options.Panel);
    int exitCode = ExitOk;
    const FoundPanel* panel = FindOne(found, options.Panel, exitCode);
    if (panel == nullptr) return exitCode;
    const PanelRecord& current = panel->Record;

    // The options as a plan row over the panel's current settings.
    PlanRow row{0, {}, nullptr};
    for (const auto& [column, value] : options.Changes)
        if (column != "mac") row.Cells[column] = value;
    row.Cells["mac"] = MacText(current.Mac);
    // As in the window, picking "Help Station" sets the facility number to 0.
    if (row.Cells.count("type") != 0 && row.Cells["type"] == "help" &&
        row.Cells.count("facility") == 0)
        row.Cells["facility"] = "0";
    const auto tail = options.Changes.find("mac");
    // Only the named panel: another one with the same MAC is a site problem, not this row's.
    std::vector<PanelRecord> others;
    for (const FoundPanel& p : found)
        if (&p != panel) others.push_back(p.Record);
    std::vector<PanelRecord> site = {current};
    site.insert(site.end(), others.begin(), others.end());
    Changes changes =
        PlanChanges({row}, {current}, tail == options.Changes.end() ? "" : tail->second);
    if (changes.Errors.empty()) {
        // The site checks against every panel found.
        std::vector<SitePanel> panels;
        const RowChange& c = changes.Rows.front();
        SitePanel self{MacText(current.Mac), current,
                       c.Kind == RowKind::Write ? c.Pending : current};
        self.Written = c.Kind == RowKind::Write;
        panels.push_back(self);
        for (const PanelRecord& r : others)
            panels.push_back({MacText(r.Mac) + " (" + Ipv4Text(r.Ip) + ")", r, r});
        changes.Site = CheckSite(panels);
    }
    if (Refuse(changes, "")) return ExitRefused;
    const RowChange& change = changes.Rows.front();
    if (change.Kind == RowKind::Unchanged) {
        PrintResult(MacText(current.Mac), "unchanged", "nothing sent", options.Output);
        return ExitOk;
    }
    std::string report;
    for (const FieldChange& c : Differences(current, AsReported(change.Pending)))
        report += c.Field + ": " + TerminalText(c.Old) + Arrow + TerminalText(c.New) + "\n";
    if (options.Output == Format::Table) Print(report);
    Rounds rounds(changes.Rows);
    WriteRounds(engine, rounds, options.Search, options.Rounds, site);
    const RowResult result = rounds.Result(0);
    PrintResult(MacText(change.Pending.Mac), result.Result, result.Details, options.Output);
    return Finish(result.Ok);
}

int RunApply(const ApplyOptions& options) {
    std::string text, problem;
    if (!LoadPlanText(options.PlanPath, text, problem)) {
        Error(problem);
        return ExitRefused;
    }
    const Plan plan = ReadPlan(text);
    if (!plan.Errors.empty()) {
        for (const PlanError& e : plan.Errors)
            Error(Where(PlanName(options.PlanPath), e));
        return ExitRefused;
    }

    Engine engine;
    if (const int code = OpenEngine(engine)) return code;
    CatchInterrupts(ExitInterrupted);
    // Every panel the plan names is searched for until it answers (or the searches run out).
    std::set<Mac> wanted;
    for (const PlanRow& row : plan.Rows)
        if (const auto it = row.Cells.find("mac"); it != row.Cells.end())
            if (const auto mac = ParseMac(it->second)) wanted.insert(*mac);
    const auto collected = SearchUntil(engine, options.Search, [&](const Replies& replies) {
        std::set<Mac> seen;
        for (const PanelRecord& r : replies)
            if (wanted.count(MacOf(r))) seen.insert(MacOf(r));
        return seen.size() == wanted.size();
    });
    const auto found = Distinct(collected.Replies);
    const Changes changes = PlanChanges(plan.Rows, RecordsOf(found));
    if (Refuse(changes, PlanName(options.PlanPath))) {
        Error("nothing was written");
        return ExitRefused;
    }

    if (options.DryRun) {
        Table table;
        const bool asTable = options.Output == Format::Table;
        table.Columns = asTable ? std::vector<std::string>{"mac", "field", "change"}
                                : std::vector<std::string>{"mac", "field", "old", "new"};
        for (const RowChange& r : changes.Rows) {
            if (r.Kind == RowKind::NotFound) {
                table.Rows.push_back(asTable
                                         ? std::vector<std::string>{r.Mac, "not found", ""}
                                         : std::vector<std::string>{r.Mac, "not found", "", ""});
                continue;
            }
            for (const FieldChange& c : Differences(r.Current, AsReported(r.Pending)))
                table.Rows.push_back(
                    asTable ? std::vector<std::string>{r.Mac, c.Field, c.Old + Arrow + c.New}
                            : std::vector<std::string>{r.Mac, c.Field, c.Old, c.New});
        }
        Print(Render(table, options.Output));
        return ExitOk;
    }

    Rounds rounds(changes.Rows);
    WriteRounds(engine, rounds, options.Search, options.Rounds, RecordsOf(found));

    Table report;
    report.Columns = {"mac", "result", "details"};
    bool allOk = true;
    for (std::size_t at = 0; at < rounds.Size(); ++at) {
        const RowResult result = rounds.Result(at);
        allOk = allOk && result.Ok;
        report.Rows.push_back({rounds.Row(at).Mac, result.Result, result.Details});
    }
    Print(Render(report, options.Output));
    return Finish(allOk);
}

int RunDeleteCards(const std::string& panelName, bool confirmed, const SearchOptions& search,
                   Format format) {
    if (!confirmed) {
        Error("delete-cards deletes every access card of the panel and cannot be undone; "
              "add --yes to do it");
        return ExitRefused;
    }
    Engine engine;
    if (const int code = OpenEngine(engine)) return code;
    const auto found = FindNamed(engine, search, panelName);
    int exitCode = ExitOk;
    const FoundPanel* panel = FindOne(found, panelName, exitCode);
    if (panel == nullptr) return exitCode;
    // The request names the identity: every panel that has it deletes its cards.
    std::vector<std::string> sharing;
    for (const FoundPanel& p : found)
        if (std::memcmp(&p.Record.TypeLetter, &panel->Record.TypeLetter, PanelIdentityLength) == 0)
            sharing.push_back(Described(p));
    if (sharing.size() > 1) {
        Error("refused: " + Joined(sharing, ", ") + " share the identity " +
              FieldText(&panel->Record.TypeLetter, PanelIdentityLength) +
              ", and the card deletion names the identity, so all of them would delete their "
              "cards; give one of them another address first (callpanel set MAC --address ...)");
        return ExitRefused;
    }
    const std::string name = MacText(panel->Record.Mac);
    const auto known = RecordsOf(found);
    const PanelRecord target = panel->Record;
    if (!engine.DeleteCards(target, [&](const std::string& source) {
            return CreditsWrite(source, target, target, known);
        })) {
        Error(name + ": no reply to the card deletion");
        PrintResult(name, "no reply", "", format);
        return ExitFailed;
    }
    PrintResult(name, "Del Success", "", format);
    return ExitOk;
}

} // namespace Cli
