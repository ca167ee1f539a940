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
#include "text/MessageText.h"
#include "PanelTexts.h"
#include "plan/Plan.h"
#include "plan/PlanFile.h"
#include "SettingsChecks.h"
#include "site/SiteChecks.h"
#include "text/TerminalText.h"
#include "plan/UndoPlan.h"
#include "site/WriteRounds.h"

namespace Cli {

namespace {

constexpr const char* Arrow = " \xE2\x86\x92 "; // " → "
// delete-cards sends the request up to DeleteAttempts times until the panel answers.
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

// The one panel `name` stands for, or the exit code after saying why there is none.
const FoundPanel* OnePanel(const Searched& searched, const std::string& name, int& exitCode) {
    const NamedPanel named = FindOne(searched.Found, name);
    if (named.Outcome == NamedPanel::One) return named.Panel;
    // Nobody answering as the name is no risk, but the loss may explain it.
    const bool lossy = named.Outcome == NamedPanel::None && !searched.Decided;
    Error(named.Error +
          (lossy ? ": " + LossText(searched.Heard) + "; try --wait " +
                       std::to_string(WaitNeededMs(searched.Heard, int(SearchEvery.count())))
                 : ""));
    exitCode = named.Outcome == NamedPanel::None ? ExitFailed : ExitRefused;
    return nullptr;
}

// A decision that rests on silence which the deadline cut short: refused, with the loss
// measured and the --wait that it needs.
int NotSure(const std::string& what, const Hearing& heard, const SearchOptions& search,
            const char* outcome = "nothing was written") {
    const int wait = std::max(WaitNeededMs(heard, int(SearchEvery.count())), search.WaitMs * 2);
    Error("not sure that " + what + ": " + LossText(heard) + "; try --wait " +
          std::to_string(wait));
    Error(outcome);
    return ExitRefused;
}

// Ctrl+C and the progress line, for the writes.
RunControl Control() {
    return {[] { return Interrupted(); }, [](const std::string& text) { Progress(text); }};
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

// The results of `set` and `delete-cards` in a format for scripts.
void PrintResult(const std::string& mac, const std::string& result, const std::string& details,
                 Format format) {
    if (format == Format::Table) // details may quote what the panel reports
        Print(TerminalText(mac + ": " + result + (details.empty() ? "" : " (" + details + ")")) +
              "\n");
    else
        Print(Render(Table{{"mac", "result", "details"}, {{mac, result, details}}}, format));
}

// The clashes on the site after the writes, said; true when there are none.
bool SiteClean(const Rounds& rounds, const std::vector<FoundPanel>& found,
               const std::vector<PanelRecord>& readBack) {
    const auto clashes = ClashesAfter(rounds, RecordsOf(found), readBack);
    for (const std::string& clash : Limited(clashes))
        Error("site after the writes: " + clash);
    return clashes.empty();
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

int RunSet(const SetOptions& options) {
    for (const auto& [column, value] : options.Changes)
        if (value.empty()) {
            Error("--" + column + " needs a value; nothing was written");
            return ExitRefused;
        }
    if (RefuseUndoPath(options.UndoPath)) return ExitRefused;
    Engine engine;
    if (const int code = OpenEngine(engine)) return code;
    // The first Ctrl+C lets the writes in flight finish and skips the rest; the second ends at
    // once.
    CatchInterrupts(ExitInterrupted);
    const Searched searched = SearchUntil(engine, NameSearch(options.Search, options.Panel));
    if (RefuseIncompleteView(searched.All, engine)) return ExitRefused;
    ReportLoss(searched.All, engine);
    const auto& found = searched.Found;
    int exitCode = ExitOk;
    const FoundPanel* panel = OnePanel(searched, options.Panel, exitCode);
    if (panel == nullptr) return exitCode;
    if (!searched.Decided)
        return NotSure("no other panel answers as '" + options.Panel +
                           "' or holds what it is to take",
                       searched.Heard, options.Search);
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
    Rounds rounds(changes.Rows, RecordsOf(found));
    std::string report;
    for (const FieldChange& c : Differences(current, AsReported(rounds.Pending(0)), change.Sets))
        report += c.Field + ": " + TerminalText(c.Old) + Arrow + TerminalText(c.New) + "\n";
    if (options.Output == Format::Table) Print(report);
    const auto readBack = WriteRounds(engine, rounds, options.Search, options.Rounds, Control());
    const RowResult result = rounds.Result(0);
    PrintResult(MacText(change.Pending.Mac), result.Result, result.Details, options.Output);
    return Finish(result.Ok && SiteClean(rounds, found, readBack));
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
    // A panel of the plan that did not answer is absent only once every panel there has surely
    // been heard; so is a clash with a panel outside the plan.
    std::vector<Mac> macs;
    for (const PlanRow& row : plan.Rows)
        if (const auto cell = row.Cells.find("mac"); cell != row.Cells.end())
            if (const auto mac = ParseMac(cell->second)) macs.push_back(*mac);
    const Searched searched = SearchUntil(engine, PlanSearch(options.Search, macs));
    if (!options.DryRun && RefuseIncompleteView(searched.All, engine)) return ExitRefused;
    ReportLoss(searched.All, engine);
    if (!options.DryRun && !searched.Decided)
        return NotSure("the search heard every panel", searched.Heard, options.Search);
    if (!searched.Decided) Warn("the list may be short: " + LossText(searched.Heard));
    const auto& found = searched.Found;
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
    Rounds rounds(changes.Rows, RecordsOf(found));
    const auto readBack = WriteRounds(engine, rounds, options.Search, options.Rounds, Control());

    Table report;
    report.Columns = {"mac", "result", "details"};
    bool allOk = true;
    for (std::size_t at = 0; at < rounds.Size(); ++at) {
        const RowResult result = rounds.Result(at);
        allOk = allOk && result.Ok;
        report.Rows.push_back({rounds.Row(at).Mac, result.Result, result.Details});
    }
    Print(Render(report, options.Output));
    return Finish(SiteClean(rounds, found, readBack) && allOk);
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
    // Whole rounds, counted, then a listen for late replies: a panel sharing the identity may
    // answer later or through more loss than the one named.
    const Searched searched = SearchUntil(engine, CardSearch(search, panelName));
    if (RefuseIncompleteView(searched.All, engine)) return ExitRefused;
    ReportLoss(searched.All, engine);
    const auto& found = searched.Found;
    int exitCode = ExitOk;
    const FoundPanel* panel = OnePanel(searched, panelName, exitCode);
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
    if (!searched.Decided) {
        return NotSure("no other panel shares the identity of '" + panelName + "'", searched.Heard,
                       search, "no card was deleted");
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
