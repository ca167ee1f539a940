// callpanel: finds the call panels on every network of this computer and sets them up, one by
// one or a whole site from a CSV plan, with the window's own protocol engine and checks.

#include <CLI/CLI.hpp>
#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <map>
#include <string>

#include "Commands.h"
#include "Commission.h"
#include "Console.h"
#include "plan/PlanCheck.h"
#include "text/TerminalText.h"

namespace {

const char* const Footer =
    "Exit codes: 0 done; 1 no panel answered, no network, a write not confirmed, a clash on the\n"
    "site after the writes, or a list that may be short; 2 bad command line, plan or settings,\n"
    "a conflict it would make, replies dropped by the system in every search round, or not\n"
    "sure by --wait (nothing written); 3 UDP port 8300 held by another program; 130\n"
    "stopped by Ctrl+C (a second one ends at once).";

void AddSearchOptions(CLI::App* command, Cli::SearchOptions& search) {
    command->add_option("--wait", search.WaitMs, "milliseconds of collecting replies per round")
        ->check(CLI::Range(1, 60000))
        ->capture_default_str();
    command
        ->add_option("--repeat", search.Repeat,
                     "rounds at least; more while new panels answer (a panel answering twice "
                     "is one)")
        ->check(CLI::Range(1, 100))
        ->capture_default_str();
}

// The searches of set, apply and delete-cards end once the loss measured makes them sure.
void AddDeadlineOptions(CLI::App* command, Cli::SearchOptions& search) {
    search = {Cli::WriteSearchWaitMs, 1};
    command
        ->add_option("--wait", search.WaitMs,
                     "milliseconds the search before the writes may take at most; it ends as "
                     "soon as the loss measured makes its decision sure")
        ->check(CLI::Range(1, 60000))
        ->capture_default_str();
    command->add_option("--repeat", search.Repeat, "requests the first search sends at least")
        ->check(CLI::Range(1, 100))
        ->capture_default_str();
}

// "" given for a value is no value: an error, not the default.
const CLI::Validator NonEmpty(
    [](std::string& value) { return value.empty() ? std::string("needs a value") : std::string(); },
    "", "NonEmpty");

void AddRoundsOption(CLI::App* command, int& rounds) {
    command
        ->add_option("--rounds", rounds,
                     "rounds of writing the rows not yet verified and reading back")
        ->check(CLI::Range(1, 100))
        ->capture_default_str();
}

void AddFormatOption(CLI::App* command, std::string& format) {
    command->add_option("--format", format, "output: table, csv or json")
        ->check(CLI::IsMember({"table", "csv", "json"}))
        ->capture_default_str();
}

// CLI11 would say only that an argument was not expected, or that a command is required.
bool UnknownCommand(char** argv, const CLI::App& app) {
    if (argv[1][0] == '-') {
        const std::string option = argv[1];
        if (option == "-h" || option == "--help" || option == "--version") return false;
        std::fprintf(stderr,
                     "callpanel: unknown option '%s' before the command (callpanel --help)\n",
                     TerminalText(option).c_str());
        return true;
    }
    for (const CLI::App* command : app.get_subcommands({}))
        if (command->get_name() == argv[1]) return false;
    std::fprintf(stderr,
                 "callpanel: unknown command '%s'; the commands are search, set, apply, "
                 "delete-cards, check, report and assign (callpanel --help)\n",
                 TerminalText(argv[1]).c_str());
    return true;
}

// Help and the version go to standard output as CLI11 writes them; an error carries the
// program's name like every other error, and where to find help.
int ParseFailed(const CLI::App& app, const CLI::ParseError& e) {
    if (e.get_exit_code() == 0) return app.exit(e);
    std::string command;
    for (const CLI::App* sub : app.get_subcommands())
        command = " " + sub->get_name();
    std::fprintf(stderr,
                 "callpanel: %s\ncallpanel: run 'callpanel%s --help' for more information\n",
                 TerminalText(e.what()).c_str(), command.c_str());
    return Cli::ExitRefused;
}

} // namespace

int main(int argc, char** argv) {
    std::setlocale(LC_ALL, "");
    Cli::PrepareConsole();
    std::vector<std::string> arguments = Cli::Utf8Arguments(argc, argv);
    std::vector<char*> pointers;
    for (std::string& a : arguments)
        pointers.push_back(a.data());
    argc = static_cast<int>(pointers.size());
    argv = pointers.data();
    CLI::App app{"Finds and sets up call panels over UDP port 8300, on every network.",
                 "callpanel"};
    // Before the subcommands, which take it over: /path and C:/path are paths, not options.
    app.allow_windows_style_options(false);
    app.footer(Footer);
    app.set_version_flag("--version", "callpanel " CALLPANEL_VERSION);
    app.require_subcommand(1);

    Cli::SearchOptions search;
    std::string format = "table";

    auto* searchCommand = app.add_subcommand("search", "list every panel that answers");
    searchCommand->footer(
        std::string("One row per panel that answers (panels sharing a MAC get a row each), with\n"
                    "the local address its reply came to (via).\n"
                    "Rounds go on until every panel there has surely been heard, judged by the\n"
                    "share of replies lost in them. Exit 1 when no panel answers, or when the\n"
                    "list may be short (\"about N % of replies lost\").\n\n") +
        Footer);
    AddSearchOptions(searchCommand, search);
    AddFormatOption(searchCommand, format);

    Cli::SetOptions set;
    auto* setCommand = app.add_subcommand("set", "write new settings into one panel");
    setCommand->footer(
        std::string(
            "Options not given keep the panel's values. The window's checks run first, then\n"
            "the site checks against every panel found. Written and read back in rounds until\n"
            "the panel reports what was written (exit 0) or --rounds have passed. Before the\n"
            "first write the panel's settings are saved as an undo plan for 'apply', and its\n"
            "path is printed; when it cannot be saved, nothing is written.\n\n") +
        Footer);
    setCommand->add_option("PANEL", set.Panel, "the panel's MAC, current IP address or identity")
        ->required()
        ->check(NonEmpty);
    struct Field {
        const char* Option;
        const char* Column;
        const char* Help;
    };
    static const Field fields[] = {
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
    std::map<std::string, std::string> values;
    for (const Field& f : fields)
        setCommand->add_option(f.Option, values[f.Column], f.Help);
    const auto addUndoOption = [](CLI::App* command, std::string& path) {
#ifdef _WIN32
        const char* folder = "%LOCALAPPDATA%\\callpanel";
#else
        const char* folder = "$XDG_STATE_HOME/callpanel";
#endif
        command
            ->add_option(
                "--undo", path,
                std::string("a new file for the undo plan, never one that exists (default: a "
                            "new file in ") +
                    folder + ")")
            ->check(NonEmpty);
    };
    addUndoOption(setCommand, set.UndoPath);
    AddDeadlineOptions(setCommand, set.Search);
    AddRoundsOption(setCommand, set.Rounds);
    AddFormatOption(setCommand, format);

    Cli::ApplyOptions apply;
    auto* applyCommand = app.add_subcommand("apply", "write a site plan (CSV) into its panels");
    applyCommand->footer(
        std::string(
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
            "settings are saved as an undo plan, as with set.\n\n") +
        Footer);
    applyCommand->add_option("PLAN", apply.PlanPath, "the plan, a CSV file; - for standard input")
        ->required()
        ->check(NonEmpty);
    applyCommand->add_flag("--dry-run", apply.DryRun, "print what would change, send no write");
    addUndoOption(applyCommand, apply.UndoPath);
    AddFormatOption(applyCommand, format);
    AddDeadlineOptions(applyCommand, apply.Search);
    AddRoundsOption(applyCommand, apply.Rounds);

    std::string deletePanel;
    bool confirmed = false;
    auto* deleteCommand =
        app.add_subcommand("delete-cards", "tell one panel to delete all its access cards");
    deleteCommand->footer(
        std::string(
            "Searches at least 16 times, every 60 ms (what 40 % loss each way needs), more\n"
            "while the loss measured is worse, then listens 1.5 s for late replies, for\n"
            "panels sharing the identity; refused (exit 2) when --wait comes first. Sends\n"
            "the request until the panel answers (up to 10 times); exit 0 on \"Del\n"
            "Success\", 1 without a reply. Refused (exit 2) when other panels found share\n"
            "the panel's identity (all would delete), or when the system dropped replies\n"
            "in every search round (a panel may be missing).\n\n") +
        Footer);
    deleteCommand->add_option("PANEL", deletePanel, "the panel's MAC, current IP or identity")
        ->required()
        ->check(NonEmpty);
    deleteCommand->add_flag("--yes", confirmed, "really delete the cards");
    Cli::SearchOptions deleteSearch;
    AddDeadlineOptions(deleteCommand, deleteSearch);
    AddFormatOption(deleteCommand, format);
    Cli::CheckOptions check;
    auto* checkCommand = app.add_subcommand("check", "compare the site with its plan (CSV)");
    checkCommand->footer(
        std::string(
            "One line per plan row: as planned, differs (field: on the site -> in the plan) or\n"
            "missing; one per panel the plan does not name: extra. Then the faults of the\n"
            "site, one line per panel concerned (result \"site fault\"): two panels on one IP,\n"
            "one call address twice, a gateway outside the panel's subnet, a server it cannot\n"
            "reach, panels left on the factory subnet 192.168.1.0/24. Writes nothing.\n"
            "Exit 0 only when every row is as planned, nothing is extra (or --ignore-extra)\n"
            "and the site has no fault; 1 otherwise; 2 for a plan that cannot be read.\n\n") +
        Footer);
    checkCommand->add_option("PLAN", check.PlanPath, "the plan, a CSV file; - for standard input")
        ->required()
        ->check(NonEmpty);
    checkCommand->add_flag("--ignore-extra", check.IgnoreExtra,
                           "panels the plan does not name do not fail the check");
    AddSearchOptions(checkCommand, check.Search);
    AddFormatOption(checkCommand, format);

    Cli::ReportOptions report;
    auto* reportCommand =
        app.add_subcommand("report", "write the site as found into one HTML file");
    reportCommand->footer(
        std::string(
            "A self-contained HTML file (no external resource) for the handover: date, this\n"
            "computer's addresses, counts by type, every panel with the plan's # notes, the\n"
            "check of each plan row (with PLAN), the site's faults and a picture of the\n"
            "address plan. Prints on A4. The file is replaced whole or not at all. Exit 0\n"
            "when it was written, whatever the site's state (check says that).\n\n") +
        Footer);
    reportCommand->add_option("PLAN", report.PlanPath, "the plan, a CSV file (optional)")
        ->check(NonEmpty);
    reportCommand->add_option("--html", report.HtmlPath, "the HTML file to write")
        ->required()
        ->check(NonEmpty);
    AddSearchOptions(reportCommand, report.Search);

    Cli::AssignOptions assign;
    auto* assignCommand =
        app.add_subcommand("assign", "give a schedule's rows to new panels as they are powered");
    assignCommand->footer(
        std::string(
            "SCHEDULE has a plan's columns without mac, one row per panel in the order they\n"
            "will be powered (columns of your own begin with #). Every row is checked first\n"
            "(as apply checks, and no IP or call address twice, none taken on the site).\n"
            "With --watch it searches every 250 ms; each new panel (on the factory subnet, not\n"
            "yet assigned) that answers alone gets the next row, written and read back, one\n"
            "line each: MAC, row, call address, IP, result. Two new panels at once get none:\n"
            "power them one at a time (or --in-mac-order). Without --watch the new panels\n"
            "present are assigned only with --in-mac-order. After every row the as-built\n"
            "plan (the schedule with each row's mac) is written whole; a run started again\n"
            "goes on from it. An undo plan is saved as for apply. Ctrl+C ends it: exit 0\n"
            "when every row written was verified, 1 otherwise.\n\n") +
        Footer);
    assignCommand->add_option("SCHEDULE", assign.SchedulePath, "the schedule, a CSV file")
        ->required()
        ->check(NonEmpty);
    assignCommand->add_flag("--watch", assign.Watch,
                            "keep searching and assign each new panel as it is powered");
    assignCommand->add_flag("--in-mac-order", assign.InMacOrder,
                            "new panels answering together take the rows in MAC order");
    assignCommand
        ->add_option("--as-built", assign.AsBuiltPath,
                     "the as-built plan (default: SCHEDULE's name with -as-built.csv)")
        ->check(NonEmpty);
    assignCommand->add_option("--new-on", assign.NewOn, "the subnet new panels answer on")
        ->default_str(FactorySubnet)
        ->check(NonEmpty);
    addUndoOption(assignCommand, assign.UndoPath);
    AddSearchOptions(assignCommand, assign.Search);
    AddRoundsOption(assignCommand, assign.Rounds);

    bool quiet = false;
    for (CLI::App* command : {searchCommand, setCommand, applyCommand, deleteCommand, checkCommand,
                              reportCommand, assignCommand})
        command->add_flag("--quiet", quiet, "no warnings, no progress on a terminal");

    // Windows' own way to ask for help, and a double click in Explorer, which gives no arguments.
    if (argc < 2 || std::string(argv[1]) == "/?") {
        std::fputs(app.help().c_str(), stdout);
        Cli::ExplainWhenStartedAlone();
        return argc < 2 ? Cli::ExitRefused : Cli::ExitOk;
    }
    if (UnknownCommand(argv, app)) return Cli::ExitRefused;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return Cli::OutputWritten(ParseFailed(app, e)); // --help and --version too
    }

    const Cli::Format output = Cli::ParseFormat(format).value_or(Cli::Format::Table);
    Cli::SetQuiet(quiet);
    if (*searchCommand) return Cli::OutputWritten(Cli::RunSearch(search, output));
    if (*setCommand) {
        for (const Field& f : fields)
            if (setCommand->count(f.Option) > 0) set.Changes[f.Column] = values[f.Column];
        set.Output = output;
        return Cli::OutputWritten(Cli::RunSet(set));
    }
    if (*applyCommand) {
        apply.Output = output;
        return Cli::OutputWritten(Cli::RunApply(apply));
    }
    if (*checkCommand) {
        check.Output = output;
        return Cli::OutputWritten(Cli::RunCheck(check));
    }
    if (*reportCommand) return Cli::OutputWritten(Cli::RunReport(report));
    if (*assignCommand) return Cli::OutputWritten(Cli::RunAssign(assign));
    return Cli::OutputWritten(Cli::RunDeleteCards(deletePanel, confirmed, deleteSearch, output));
}
