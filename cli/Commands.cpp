#include "Commands.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <set>
#include <sstream>

#include "PanelTexts.h"
#include "Plan.h"
#include "PlanFile.h"
#include "SettingsChecks.h"
#include "SiteChecks.h"
#include "TerminalText.h"

namespace Cli {

namespace {

// mac .. unlock: the columns a write can change, PanelColumns[0] to [8].
constexpr int WritableColumns = 9;
constexpr const char* Arrow = " \xE2\x86\x92 "; // " → "

void Error(const std::string& text) {
    std::fprintf(stderr, "callpanel: %s\n", TerminalText(text).c_str()); // panel texts too
}

void Print(const std::string& text) {
    std::fputs(text.c_str(), stdout);
    std::fflush(stdout);
}

bool OpenEngine(Engine& engine) {
    if (engine.Open()) return true;
    Error("UDP port 8300 is held by another program (the window or another callpanel); "
          "close it and try again");
    return false;
}

std::vector<FoundPanel> SearchAll(Engine& engine, const SearchOptions& search,
                                  const std::set<Mac>& expect = {}) {
    return engine.Search(Millis(search.WaitMs), search.Repeat, expect);
}

// What the panel reports once it holds the staged settings: seconds instead of the digit.
PanelRecord AsReported(const PanelRecord& pending) {
    PanelRecord reported = pending;
    reported.UnlockTime = static_cast<uint8_t>(pending.UnlockTime - '0');
    return reported;
}

struct Change {
    std::string Field, Old, New;
};

// The writable fields in which two records read differently.
std::vector<Change> Differences(const PanelRecord& from, const PanelRecord& to) {
    const auto a = PanelCells(from, "");
    const auto b = PanelCells(to, "");
    std::vector<Change> changes;
    for (int c = 0; c < WritableColumns; ++c)
        if (a[c] != b[c]) changes.push_back({PanelColumns[c], a[c], b[c]});
    return changes;
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (const auto& part : parts) {
        if (!out.empty()) out += separator;
        out += part;
    }
    return out;
}

struct Outcome {
    std::string Result, Details;
    bool Ok = false;
};

// The verdict on one written panel from its write reply and the search after the writes.
Outcome Verify(bool replied, const PanelRecord& pending, const std::map<Mac, FoundPanel>& now) {
    const auto it = now.find(MacOf(pending));
    const bool holds = it != now.end() && ReportsStaged(it->second.Record, pending);
    if (!replied) {
        std::string details = "the write was not answered; ";
        if (it == now.end())
            details += "not seen in the search after it";
        else if (holds)
            details += "the panel now reports what was written";
        else
            details += "the panel still differs";
        return {"no reply", details};
    }
    if (it == now.end()) return {"no reply", "answered the write, not the search after it"};
    if (holds) return {"verified", "", true};
    std::vector<std::string> fields;
    for (const Change& c : Differences(AsReported(pending), it->second.Record))
        fields.push_back(c.Field + " " + c.New + " (wrote " + c.Old + ")");
    if (fields.empty()) fields.push_back("identity bytes");
    return {"differs", Joined(fields, ", ")};
}

std::map<Mac, FoundPanel> ByMac(const std::vector<FoundPanel>& panels) {
    std::map<Mac, FoundPanel> byMac;
    for (const FoundPanel& p : panels)
        byMac.emplace(MacOf(p.Record), p);
    return byMac;
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
    for (const FoundPanel* p : matches) {
        const auto cells = PanelCells(p->Record, p->Via);
        names.push_back(cells[0] + " (" + cells[10] + ", " + cells[4] + ")");
    }
    Error("'" + name + "' names " + std::to_string(matches.size()) +
          " panels: " + Joined(names, ", ") + "; name one by its MAC");
    exitCode = ExitRefused;
    return nullptr;
}

std::vector<SitePanel> SiteWith(const std::vector<FoundPanel>& found,
                                const std::map<Mac, PanelRecord>& staged) {
    std::vector<SitePanel> site;
    for (const auto& [mac, record] : staged)
        site.push_back({MacText(record.Mac), record});
    for (const FoundPanel& p : found)
        if (staged.count(MacOf(p.Record)) == 0) site.push_back({MacText(p.Record.Mac), p.Record});
    return site;
}

// Stages checked texts over the current record. The first three MAC bytes are the panel's own:
// the window's fixed 00:50:2A would change the key of a panel that has other ones.
std::optional<PanelRecord> Stage(const SettingsTexts& texts, const PanelRecord& current,
                                 std::string& error) {
    PanelRecord pending = current;
    try {
        StageSettings(texts, pending);
    } catch (const ConvertError& e) {
        error = e.what();
        return std::nullopt;
    }
    std::copy(current.Mac, current.Mac + 3, pending.Mac);
    return pending;
}

std::string Where(const std::string& path, const PlanError& e) {
    std::string where = path + ":" + std::to_string(e.Line);
    if (e.Column > 0) where += ":" + std::to_string(e.Column);
    return where + ": " + e.Text;
}

} // namespace

int RunSearch(const SearchOptions& search, Format format) {
    Engine engine;
    if (!OpenEngine(engine)) return ExitPortHeld;
    const auto found = SearchAll(engine, search);
    Print(Render(PanelTable(found), format));
    if (found.empty()) {
        Error("no panel answered");
        return ExitFailed;
    }
    return ExitOk;
}

int RunSet(const SetOptions& options) {
    Engine engine;
    if (!OpenEngine(engine)) return ExitPortHeld;
    const auto found = SearchAll(engine, options.Search);
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
    std::vector<PlanError> errors;
    auto texts = RowSettings(row, current, errors);
    if (texts && options.Changes.count("mac") != 0) {
        const std::string& bytes = options.Changes.at("mac");
        const auto full = ParseMac("00:00:00:" + bytes);
        if (!full || bytes.size() != 8) {
            errors.push_back({0, 0, "--mac takes the last three bytes as XX:XX:XX"});
        } else {
            for (int i = 0; i < 3; ++i)
                texts->Mac[i] = bytes.substr(3 * i, 2);
        }
    }
    std::string error;
    std::optional<PanelRecord> pending;
    if (texts && errors.empty()) pending = Stage(*texts, current, error);
    if (!error.empty()) errors.push_back({0, 0, error});
    if (!errors.empty()) {
        for (const PlanError& e : errors)
            Error(e.Text);
        return ExitRefused;
    }
    const auto problems = SiteProblems(SiteWith(found, {{MacOf(current), *pending}}));
    if (!problems.empty()) {
        for (const auto& p : problems)
            Error(p);
        return ExitRefused;
    }

    const auto changes = Differences(current, AsReported(*pending));
    std::string report;
    for (const Change& c : changes)
        report += c.Field + ": " + c.Old + Arrow + c.New + "\n";
    if (changes.empty() && ReportsStaged(current, *pending)) {
        Print(MacText(current.Mac) + ": unchanged, nothing sent\n");
        return ExitOk;
    }
    Print(report);
    const bool replied = engine.Write(current, *pending);
    const auto now = ByMac(SearchAll(engine, options.Search, {MacOf(*pending)}));
    const Outcome outcome = Verify(replied, *pending, now);
    Print(MacText(pending->Mac) + ": " + outcome.Result +
          (outcome.Details.empty() ? "" : " (" + outcome.Details + ")") + "\n");
    return outcome.Ok ? ExitOk : ExitFailed;
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
    if (!OpenEngine(engine)) return ExitPortHeld;
    const auto found = SearchAll(engine, options.Search);
    const auto byMac = ByMac(found);

    struct RowState {
        std::string Mac;
        const FoundPanel* Panel = nullptr;
        PanelRecord Pending{};
        bool Changed = false;
        Outcome Result;
    };
    std::vector<RowState> rows;
    std::vector<PlanError> errors;
    std::map<Mac, PanelRecord> staged;
    for (const PlanRow& row : plan.Rows) {
        RowState state;
        const auto cell = row.Cells.find("mac");
        state.Mac = cell == row.Cells.end() ? "" : cell->second;
        const auto mac = ParseMac(state.Mac);
        if (mac) {
            const auto it = byMac.find(*mac);
            if (it != byMac.end()) state.Panel = &it->second;
        }
        // A row for a panel that did not answer is still checked, over empty settings.
        PanelRecord current = state.Panel ? state.Panel->Record : PanelRecord{};
        if (!state.Panel && mac) std::copy(mac->begin(), mac->end(), current.Mac);
        const auto texts = RowSettings(row, current, errors);
        if (texts && mac) {
            std::string error;
            const auto pending = Stage(*texts, current, error);
            if (!pending) {
                errors.push_back({row.Line, 0, error});
            } else if (state.Panel) {
                state.Pending = *pending;
                state.Changed = !ReportsStaged(current, *pending);
                staged[*mac] = *pending;
            }
        }
        rows.push_back(std::move(state));
    }
    const auto problems = SiteProblems(SiteWith(found, staged));
    if (!errors.empty() || !problems.empty()) {
        for (const PlanError& e : errors)
            Error(Where(PlanName(options.PlanPath), e));
        for (const auto& p : problems)
            Error("site: " + p);
        Error("nothing was written");
        return ExitRefused;
    }

    if (options.DryRun) {
        Table table;
        const bool asTable = options.Output == Format::Table;
        table.Columns = asTable ? std::vector<std::string>{"mac", "field", "change"}
                                : std::vector<std::string>{"mac", "field", "old", "new"};
        for (const RowState& r : rows) {
            if (!r.Panel) {
                table.Rows.push_back(asTable
                                         ? std::vector<std::string>{r.Mac, "not found", ""}
                                         : std::vector<std::string>{r.Mac, "not found", "", ""});
                continue;
            }
            for (const Change& c : Differences(r.Panel->Record, AsReported(r.Pending)))
                table.Rows.push_back(
                    asTable ? std::vector<std::string>{r.Mac, c.Field, c.Old + Arrow + c.New}
                            : std::vector<std::string>{r.Mac, c.Field, c.Old, c.New});
        }
        Print(Render(table, options.Output));
        return ExitOk;
    }

    // One write at a time: a write reply does not say which panel sent it.
    std::set<Mac> written;
    std::vector<bool> replied(rows.size(), false);
    for (size_t i = 0; i < rows.size(); ++i) {
        if (!rows[i].Panel || !rows[i].Changed) continue;
        replied[i] = engine.Write(rows[i].Panel->Record, rows[i].Pending);
        written.insert(MacOf(rows[i].Pending));
    }
    std::map<Mac, FoundPanel> now;
    if (!written.empty()) now = ByMac(SearchAll(engine, options.Search, written));

    Table report;
    report.Columns = {"mac", "result", "details"};
    bool allOk = true;
    for (size_t i = 0; i < rows.size(); ++i) {
        RowState& r = rows[i];
        if (!r.Panel)
            r.Result = {"not found", "did not answer the search before the writes"};
        else if (!r.Changed)
            r.Result = {"unchanged", "", true};
        else
            r.Result = Verify(replied[i], r.Pending, now);
        allOk = allOk && r.Result.Ok;
        report.Rows.push_back({r.Mac, r.Result.Result, r.Result.Details});
    }
    Print(Render(report, options.Output));
    return allOk ? ExitOk : ExitFailed;
}

int RunDeleteCards(const std::string& panelName, bool confirmed, const SearchOptions& search) {
    if (!confirmed) {
        Error("delete-cards deletes every access card of the panel and cannot be undone; "
              "add --yes to do it");
        return ExitRefused;
    }
    Engine engine;
    if (!OpenEngine(engine)) return ExitPortHeld;
    const auto found = SearchAll(engine, search);
    int exitCode = ExitOk;
    const FoundPanel* panel = FindOne(found, panelName, exitCode);
    if (panel == nullptr) return exitCode;
    const std::string name = MacText(panel->Record.Mac);
    if (!engine.DeleteCards(panel->Record)) {
        Error(name + ": no reply to the card deletion");
        return ExitFailed;
    }
    Print(name + ": Del Success\n");
    return ExitOk;
}

} // namespace Cli
