#include "Set.h"

#include <memory>

#include "Common.h"
#include "ComputerAddresses.h"
#include "Console.h"
#include "PanelTexts.h"
#include "site/SiteChecks.h"
#include "text/TerminalText.h"

namespace Cli {

namespace {

constexpr const char* Arrow = " \xE2\x86\x92 "; // " → "

// The options of set that name a field, and the plan column each one fills.
struct FieldOption {
    const char* Option;
    const char* Column;
    const char* Help;
};
constexpr FieldOption FieldOptions[] = {
    {"--type", "type", "flat, villa or help"},
    {"--address", "address", "call address: 10 characters (flat), 4 (villa, help)"},
    {"--facility", "facility", "facility number, 0 or 1"},
    {"--mac", "mac", "last three MAC bytes, XX:XX:XX or XX-XX-XX (or 00:50:2A:XX:XX:XX)"},
    {"--ip", "ip", "IP address A.B.C.D"},
    {"--mask", "mask", "subnet mask A.B.C.D"},
    {"--gateway", "gateway", "gateway A.B.C.D, in the segment of IP and mask"},
    {"--server", "server", "server address A.B.C.D"},
    {"--unlock", "unlock", "door unlocking time in seconds, 1 to 9 (0 to 9 for villa, help)"},
};

// The options as a plan row over the panel's current settings, checked as apply checks a row
// and then against every other panel found.
Changes SetChanges(const SetOptions& options, const FoundPanel& panel,
                   const std::vector<FoundPanel>& found) {
    const PanelRecord& current = panel.Record;
    PlanRow row{0, {}, nullptr};
    for (const auto& [column, value] : options.Changes)
        if (column != "mac") row.Cells[column] = value;
    row.Cells["mac"] = MacText(current.Mac);
    // As in the window, picking "Help Station" sets the facility number to 0.
    if (row.Cells.count("type") != 0 && row.Cells["type"] == "help" &&
        row.Cells.count("facility") == 0)
        row.Cells["facility"] = "0";
    const auto tail = options.Changes.find("mac");
    Changes changes =
        PlanChanges({row}, {current}, tail == options.Changes.end() ? "" : MacTail(tail->second),
                    ComputerAddresses(), options.AsWritten);
    if (!changes.Errors.empty()) return changes;
    // Only the named panel is judged as this row's: another one with the same MAC is a problem
    // of the site, not of the row.
    const RowChange& c = changes.Rows.front();
    SitePanel self{MacText(current.Mac), current, c.Kind == RowKind::Write ? c.Pending : current};
    self.Written = c.Kind == RowKind::Write;
    std::vector<SitePanel> panels{self};
    for (const FoundPanel& p : found)
        if (&p != &panel)
            panels.push_back(
                {MacText(p.Record.Mac) + " (" + Ipv4Text(p.Record.Ip) + ")", p.Record, p.Record});
    changes.Site = CheckSite(panels);
    return changes;
}

} // namespace

Command AddSetCommand(CLI::App& app) {
    struct Options {
        SetOptions Set;
        std::map<std::string, std::string> Values;
        std::string Format = "table";
    };
    auto options = std::make_shared<Options>();
    CLI::App* command = app.add_subcommand("set", "write new settings into one panel");
    command->footer(WithExitCodes(
        "Options not given keep the panel's values. The window's checks run first, then\n"
        "the site checks against every panel found. Written and read back in rounds until\n"
        "the panel reports what was written (exit 0) or --rounds have passed. Before the\n"
        "first write the panel's settings are saved as an undo plan for 'apply', and its\n"
        "path is printed; when it cannot be saved, nothing is written.",
        "  callpanel set 00:50:2A:10:00:A5 --ip 10.83.0.21 --gateway 10.83.0.1\n"
        "  callpanel set 10.83.0.21 --unlock 5    # the panel by its current IP"));
    command
        ->add_option("PANEL", options->Set.Panel, "the panel's MAC, current IP address or identity")
        ->required()
        ->check(NonEmpty);
    for (const FieldOption& f : FieldOptions)
        command->add_option(f.Option, options->Values[f.Column], f.Help);
    AddUndoOption(command, options->Set.UndoPath);
    AddAsWrittenFlag(command, options->Set.AsWritten);
    AddDeadlineOptions(command, options->Set.Search);
    AddRoundsOption(command, options->Set.Rounds);
    AddFormatOption(command, options->Format);
    AddQuietFlag(command);
    return {command, [options, command] {
                // Only the fields given change; an option given as "" is refused by RunSet.
                for (const FieldOption& f : FieldOptions)
                    if (command->count(f.Option) > 0)
                        options->Set.Changes[f.Column] = options->Values[f.Column];
                options->Set.Output = FormatNamed(options->Format);
                return RunSet(options->Set);
            }};
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
    int exitCode = ExitOk;
    const FoundPanel* panel = OnePanel(searched, options.Panel, exitCode);
    if (panel == nullptr) return exitCode;
    if (!searched.Decided)
        return NotSure("no other panel answers as '" + options.Panel +
                           "' or holds what it is to take",
                       searched.Heard, options.Search);
    const PanelRecord& current = panel->Record;
    const Changes changes = SetChanges(options, *panel, searched.Found);
    if (Refuse(changes, "")) return ExitRefused;
    const RowChange& change = changes.Rows.front();
    if (change.Kind == RowKind::Write && !SaveUndo(changes.Rows, options.UndoPath))
        return ExitRefused;
    if (change.Kind == RowKind::Unchanged) {
        PrintResult(MacText(current.Mac), "unchanged", "nothing sent", options.Output);
        return ExitOk;
    }
    // The report says what the first write sends, from the same computation.
    Rounds rounds(changes.Rows, RecordsOf(searched.Found));
    std::string report;
    for (const FieldChange& c : Differences(current, AsReported(rounds.Pending(0)), change.Sets))
        report += c.Field + ": " + TerminalText(c.Old) + Arrow + TerminalText(c.New) + "\n";
    if (options.Output == Format::Table) Print(report);
    const auto readBack =
        WriteRounds(engine, rounds, options.Search, options.Rounds, Control(), searched.Heard);
    const RowResult result = rounds.Result(0);
    PrintResult(MacText(change.Pending.Mac), result.Result, result.Details, options.Output);
    return Finish(result.Ok && SiteClean(rounds, searched.Found, readBack));
}

} // namespace Cli
