#include "Commands.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <iostream>
#include <set>
#include <sstream>

#include "BroadcastInterfaces.h"
#include "ComputerAddresses.h"
#include "Console.h"
#include "MessageText.h"
#include "PanelTexts.h"
#include "Plan.h"
#include "PlanFile.h"
#include "Rounds.h"
#include "SearchRounds.h"
#include "SettingsChecks.h"
#include "SiteChecks.h"
#include "TerminalText.h"
#include "UndoPlan.h"

namespace Cli {

namespace {

constexpr const char* Arrow = " \xE2\x86\x92 "; // " → "
// Before writing and when reading back, searches go out this often until every panel wanted has
// answered: one lost datagram costs a quarter second, not a run.
constexpr Millis SearchEvery{250};
// delete-cards cannot be taken back: it listens this long at least for panels sharing the
// identity (one that answers a second late, or whose first replies were lost), and sends the
// request up to DeleteAttempts times until the panel answers.
constexpr Millis DeleteListen{3000};
constexpr int DeleteAttempts = 10;

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

// The first error in writing standard output (a full disk, a closed pipe), 0 while none.
int OutputError = 0;

void Print(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        if (OutputError == 0) OutputError = errno != 0 ? errno : EIO;
}

// A receive buffer other than the default, for trying what a computer with a low limit does.
int ReceiveBufferWanted() {
    const char* text = std::getenv("CALLPANEL_RECEIVE_BUFFER");
    const long bytes = text ? std::strtol(text, nullptr, 10) : 0;
    return bytes > 0 && bytes <= Engine::ReceiveBufferSize ? int(bytes) : Engine::ReceiveBufferSize;
}

// 0, or the exit code after saying why the engine cannot work.
int OpenEngine(Engine& engine) {
    if (!engine.Open(ReceiveBufferWanted())) {
        Error("UDP port 8300 is held by another program (the window or another callpanel); "
              "close it and try again");
        return ExitPortHeld;
    }
    return HaveNetwork() ? ExitOk : ExitFailed;
}

std::string DropText(const Collected& collected, const Engine& engine) {
    return "the system dropped " + std::to_string(collected.Dropped) + " repl" +
           (collected.Dropped == 1 ? "y" : "ies") + " in " + std::to_string(collected.Searches) +
           " search(es): the receive buffer (" + std::to_string(engine.ReceiveRoom()) +
           " bytes) overflowed";
}

constexpr const char* BufferFix =
    "raise the system's limit (sudo sysctl -w net.core.rmem_max=16777216) or run callpanel as "
    "root, which takes 4 MiB whatever the limit";

// A search is whole when a round of it ended with no reply dropped by the system; a write or a
// card deletion on a view that is not could clash with a panel that was never heard. True
// after saying so.
bool RefuseIncompleteView(const Collected& collected, const Engine& engine) {
    if (collected.Whole) return false;
    Error("the search is not whole: " + DropText(collected, engine) +
          " in every round, so panels may be missing; nothing was written: " + BufferFix +
          ", and try again");
    return true;
}

// Drops that a later round made up for cost time and are a warning; drops in every round an
// error, as the list may be short.
void ReportLoss(const Collected& collected, const Engine& engine) {
    if (collected.Dropped == 0) return;
    if (collected.Whole)
        Warn(DropText(collected, engine) +
             "; a later round heard every panel (to avoid the "
             "drops, " +
             BufferFix + ")");
    else
        Error("the list may be short: " + DropText(collected, engine) + " in every round; " +
              BufferFix + ", and search again");
}

// A search of set, apply and delete-cards: a request every SearchEvery until `done` holds of the
// replies (after at least `least` requests), --wait has passed or `requests` have gone out.
Collected SearchFor(Engine& engine, const SearchOptions& search, int requests,
                    const std::function<bool(const Replies&)>& done) {
    const auto start = Clock::now();
    const Millis least = SearchEvery * (std::max(search.Repeat, 1) - 1);
    SearchPlan plan;
    plan.Every = SearchEvery;
    plan.Requests = std::max(requests, search.Repeat);
    plan.Deadline = Millis(search.WaitMs);
    if (done)
        plan.Done = [&](const Replies& replies) {
            return Clock::now() - start >= least && done(replies);
        };
    return engine.Search(plan);
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
          " panels: " + Joined(names, ", ") + "; name one by its MAC; nothing was written");
    exitCode = ExitRefused;
    return nullptr;
}

// The panels found for `set`: searched until the name has answered and a whole round has passed,
// so that another panel with the same name is heard.
Collected FindNamed(Engine& engine, const SearchOptions& search, int requests,
                    const std::string& name) {
    const auto start = Clock::now();
    return SearchFor(engine, search, requests, [&](const Replies& replies) {
        if (Clock::now() - start < SearchEvery) return false;
        std::vector<FoundPanel> panels;
        for (const PanelRecord& r : replies)
            panels.push_back({r, "", ""});
        return !Matching(panels, name).empty();
    });
}

std::string Where(const std::string& path, const PlanError& e) {
    std::string where = path;
    if (e.Line > 0) where += ":" + std::to_string(e.Line);
    if (e.Line > 0 && e.Column > 0) where += ":" + std::to_string(e.Column);
    return where + ": " + e.Text;
}

// At most MessageLineLimit of them, then how many more.
void Errors(const std::vector<std::string>& lines) {
    for (const std::string& line : Limited(lines))
        Error(line);
}

void PlanErrors(const std::vector<PlanError>& errors, const std::string& path) {
    std::vector<std::string> lines;
    for (const PlanError& e : errors)
        lines.push_back(path.empty() ? e.Text : Where(path, e));
    Errors(lines);
}

// Errors and conflicts refuse the command; warnings are said and do not.
bool Refuse(const Changes& changes, const std::string& path) {
    std::vector<std::string> lines;
    for (const PlanError& e : changes.Errors)
        lines.push_back(path.empty() ? e.Text : Where(path, e));
    for (const auto& c : changes.Site.Conflicts)
        lines.push_back("site: " + c);
    Errors(lines);
    std::vector<std::string> warnings;
    for (const auto& w : changes.Site.Warnings)
        warnings.push_back("warning: " + w + " (already so; this command does not change it)");
    if (!Quiet) Errors(warnings);
    if (changes.Refused()) Error("nothing was written");
    return changes.Refused();
}

// Before the first write: the panels' settings now, as a plan that puts them back. False when
// it cannot be saved, and then nothing may be written.
bool SaveUndo(const std::vector<RowChange>& rows, const std::string& named) {
    std::string error, path = named.empty() ? DefaultUndoPath(error) : named;
    if (path.empty() || !SaveUndoPlan(path, UndoPlanText(rows), named.empty(), error)) {
        Error((path.empty() ? "cannot save the undo plan: " + error : error) +
              "; nothing was written (--undo FILE names another place)");
        return false;
    }
    Error("undo plan: " + path + " (callpanel apply " + path + " puts the panels back)");
    return true;
}

// A named undo plan that could not be saved is refused before anything goes on the network.
bool RefuseUndoPath(const std::string& named) {
    std::string error;
    if (named.empty() || UndoPathFree(named, error)) return false;
    Error(error + "; nothing was written");
    return true;
}

// Writes in rounds until every row is verified or `maxRounds` have passed. After a Ctrl+C the
// rows not yet written are skipped and what was written is read back.
void WriteRounds(Engine& engine, Rounds& rounds, const SearchOptions& search, int maxRounds) {
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
                return CreditsWrite(source, current, pending);
            });
            rounds.Wrote(at, replied);
        }
        // Ends once every row written holds, or has answered after a whole round (its last
        // reply counts: an earlier one may answer an older search).
        const auto start = Clock::now();
        SearchOptions readBack = search;
        readBack.Repeat = 1;
        const auto collected = SearchFor(engine, readBack, maxRounds, [&](const Replies& r) {
            return rounds.AllHold(r) ||
                   (Clock::now() - start >= SearchEvery && rounds.AllAnswered(r));
        });
        rounds.ReadBack(RecordsOf(collected.Replies));
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

std::string MacTail(const std::string& text) {
    // The spellings plans take: ':' or '-' between the bytes, a whole MAC or its last three.
    std::string tail = text;
    for (char& c : tail)
        if (c == '-') c = ':';
    if (const auto mac = ParseMac(tail);
        mac && (*mac)[0] == 0x00 && (*mac)[1] == 0x50 && (*mac)[2] == 0x2A)
        return tail.substr(9);
    return tail;
}

int OutputWritten(int exitCode) {
    errno = 0;
    std::cout.flush(); // help and the version, which CLI11 writes there
    if (OutputError == 0 && std::cout.good() && std::fflush(stdout) == 0 && !std::ferror(stdout))
        return exitCode;
    Error(std::string("cannot write the output: ") + std::strerror(OutputError != 0 ? OutputError
                                                                   : errno != 0     ? errno
                                                                                    : EIO));
    return exitCode == ExitOk ? ExitFailed : exitCode;
}

int RunSearch(const SearchOptions& search, Format format) {
    Engine engine;
    if (const int code = OpenEngine(engine)) return code;
    Collected all;
    SearchRounds rounds(search.Repeat);
    for (bool again = true; again;) {
        SearchPlan plan;
        plan.Every = Millis(search.WaitMs);
        plan.LossRetries = 0; // a round with drops is not quiet: the rounds go on anyway
        const Collected collected = engine.Search(plan);
        all.Replies.insert(all.Replies.end(), collected.Replies.begin(), collected.Replies.end());
        all.Searches += collected.Searches;
        all.Dropped += collected.Dropped;
        all.Whole = all.Whole || collected.Whole;
        again = rounds.AskAgain(Distinct(all.Replies).size(), Distinct(collected.Replies).size(),
                                collected.Whole);
    }
    ReportLoss(all, engine);
    const auto found = Distinct(all.Replies);
    Print(Render(PanelTable(found), format));
    if (rounds.StillFinding())
        Error("the list may be short: the last of " + std::to_string(rounds.Done()) +
              " rounds still found new panels; search again with a longer --wait");
    for (const std::string& shared : SharedNames(RecordsOf(found)))
        Warn(shared + ": a request for one reaches all of them");
    if (found.empty()) {
        Error("no panel answered");
        return ExitFailed;
    }
    return ExitOk;
}

int RunSet(const SetOptions& options) {
    for (const auto& [column, value] : options.Changes)
        if (value.empty()) {
            Error("--" + column + " needs a value; nothing was written");
            return ExitRefused;
        }
    if (RefuseUndoPath(options.UndoPath)) return ExitRefused;
    Engine engine;
    if (const int code = OpenEngine(engine)) return code;
    // The first Ctrl+C lets the write in flight finish and skips the rest; the second ends at once.
    CatchInterrupts(ExitInterrupted);
    const Collected collected = FindNamed(engine, options.Search, options.Rounds, options.Panel);
    if (RefuseIncompleteView(collected, engine)) return ExitRefused;
    ReportLoss(collected, engine);
    const auto found = Distinct(collected.Replies);
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
    Changes changes =
        PlanChanges({row}, {current}, tail == options.Changes.end() ? "" : MacTail(tail->second),
                    ComputerAddresses());
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
    if (change.Kind == RowKind::Write && !SaveUndo(changes.Rows, options.UndoPath))
        return ExitRefused;
    if (change.Kind == RowKind::Unchanged) {
        PrintResult(MacText(current.Mac), "unchanged", "nothing sent", options.Output);
        return ExitOk;
    }
    // The report says what the first write sends, from the same computation.
    Rounds rounds(changes.Rows);
    std::string report;
    for (const FieldChange& c : Differences(current, AsReported(rounds.Pending(0)), change.Sets))
        report += c.Field + ": " + TerminalText(c.Old) + Arrow + TerminalText(c.New) + "\n";
    if (options.Output == Format::Table) Print(report);
    WriteRounds(engine, rounds, options.Search, options.Rounds);
    const RowResult result = rounds.Result(0);
    PrintResult(MacText(change.Pending.Mac), result.Result, result.Details, options.Output);
    return Finish(result.Ok);
}

int RunApply(const ApplyOptions& options) {
    if (RefuseUndoPath(options.UndoPath)) return ExitRefused;
    std::string text, problem;
    if (!LoadPlanText(options.PlanPath, text, problem)) {
        Error(problem);
        return ExitRefused;
    }
    const Plan plan = ReadPlan(text);
    if (!plan.Errors.empty()) {
        PlanErrors(plan.Errors, PlanName(options.PlanPath));
        Error("nothing was written");
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
    const auto collected =
        SearchFor(engine, options.Search, options.Rounds, [&](const Replies& replies) {
            std::set<Mac> seen;
            for (const PanelRecord& r : replies)
                if (wanted.count(MacOf(r))) seen.insert(MacOf(r));
            return seen.size() == wanted.size();
        });
    if (!options.DryRun && RefuseIncompleteView(collected, engine)) return ExitRefused;
    ReportLoss(collected, engine);
    const auto found = Distinct(collected.Replies);
    const Changes changes = PlanChanges(plan.Rows, RecordsOf(found), "", ComputerAddresses());
    if (Refuse(changes, PlanName(options.PlanPath))) return ExitRefused;

    if (options.DryRun) {
        Table table;
        const bool asTable = options.Output == Format::Table;
        // A panel that did not answer has no fields to compare: its row says so in the change
        // column (table) or the result column (csv, json), and names no field.
        table.Columns = asTable ? std::vector<std::string>{"mac", "field", "change"}
                                : std::vector<std::string>{"mac", "result", "field", "old", "new"};
        for (const RowChange& r : changes.Rows) {
            if (r.Kind == RowKind::NotFound) {
                table.Rows.push_back(
                    asTable ? std::vector<std::string>{r.Mac, "", "not found"}
                            : std::vector<std::string>{r.Mac, "not found", "", "", ""});
                continue;
            }
            for (const FieldChange& c :
                 Differences(r.Current, AsReported(StagedOver(r, r.Current)), r.Sets))
                table.Rows.push_back(
                    asTable ? std::vector<std::string>{r.Mac, c.Field, c.Old + Arrow + c.New}
                            : std::vector<std::string>{r.Mac, "to write", c.Field, c.Old, c.New});
        }
        Print(Render(table, options.Output));
        // As the real run would end: a row whose panel did not answer fails it.
        return std::any_of(changes.Rows.begin(), changes.Rows.end(),
                           [](const RowChange& r) { return r.Kind == RowKind::NotFound; })
                   ? ExitFailed
                   : ExitOk;
    }

    if (std::any_of(changes.Rows.begin(), changes.Rows.end(),
                    [](const RowChange& r) { return r.Kind == RowKind::Write; }) &&
        !SaveUndo(changes.Rows, options.UndoPath))
        return ExitRefused;
    Rounds rounds(changes.Rows);
    WriteRounds(engine, rounds, options.Search, options.Rounds);

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
    // No early end: every panel sharing the identity must have had its chance to answer.
    SearchOptions listen = search;
    listen.WaitMs = std::max(search.WaitMs, int(DeleteListen.count()));
    const Collected collected =
        SearchFor(engine, listen, int(listen.WaitMs / SearchEvery.count()) + 1, {});
    if (RefuseIncompleteView(collected, engine)) return ExitRefused;
    ReportLoss(collected, engine);
    const auto found = Distinct(collected.Replies);
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
    const PanelRecord target = panel->Record;
    // Only the target's own address answers for it.
    if (!engine.DeleteCards(
            target, [&](const std::string& source) { return CreditsWrite(source, target, target); },
            DeleteAttempts)) {
        Error(name + ": no reply to the card deletion after " + std::to_string(DeleteAttempts) +
              " requests");
        PrintResult(name, "no reply", "", format);
        return ExitFailed;
    }
    PrintResult(name, "Del Success", "", format);
    return ExitOk;
}

} // namespace Cli
