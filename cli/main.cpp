// callpanel: finds the call panels on every network of this computer and sets them up, one by
// one or a whole site from a CSV plan, with the window's own protocol engine and checks. Each
// command lives in commands/, with its options and its run function; this file only puts them
// together and starts the one the command line names.

#include <CLI/CLI.hpp>
#include <clocale>
#include <cstdio>
#include <string>
#include <vector>

#include "Console.h"
#include "commands/Apply.h"
#include "commands/Assign.h"
#include "commands/Check.h"
#include "commands/DeleteCards.h"
#include "commands/Report.h"
#include "commands/Search.h"
#include "commands/Set.h"
#include "commands/Suggest.h"
#include "commands/Ui.h"
#include "text/TerminalText.h"

namespace {

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
    // Set before the subcommands are added, because they take the setting over: /path and
    // C:/path are paths, not options.
    app.allow_windows_style_options(false);
    app.footer(Cli::ExitCodesFooter);
    app.set_version_flag("--version", "callpanel " CALLPANEL_VERSION);
    app.require_subcommand(1);
    const std::vector<Cli::Command> commands = {
        Cli::AddSearchCommand(app),      Cli::AddSetCommand(app),   Cli::AddApplyCommand(app),
        Cli::AddDeleteCardsCommand(app), Cli::AddCheckCommand(app), Cli::AddReportCommand(app),
        Cli::AddAssignCommand(app),      Cli::AddUiCommand(app)};

    // Windows' own way to ask for help, and a double click in Explorer, which gives no arguments.
    if (argc < 2 || std::string(argv[1]) == "/?") {
        std::fputs(app.help().c_str(), stdout);
        Cli::ExplainWhenStartedAlone();
        return argc < 2 ? Cli::ExitRefused : Cli::ExitOk;
    }
    if (Cli::RefuseUnknown(app, commands, argc, argv)) return Cli::ExitRefused;
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return Cli::OutputWritten(
            ParseFailed(app, e)); // CLI11 ends --help and --version this way too.
    }
    for (const Cli::Command& command : commands)
        if (*command.Parsed) return Cli::OutputWritten(command.Run());
    return Cli::ExitRefused; // require_subcommand(1) leaves no other way here
}
