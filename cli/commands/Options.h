#pragma once

// The command line's shared pieces: how a command is added to the program and run, the exit
// codes, and the options several commands take in the same words.

#include <CLI/CLI.hpp>
#include <functional>
#include <string>

#include "Messages.h"
#include "site/FindPanels.h"

namespace Cli {

// The program's exit codes, which ExitCodesFooter explains to the user.
enum ExitCode {
    ExitOk = 0,
    ExitFailed = 1,        // no panel answered, or a write that cannot be confirmed
    ExitRefused = 2,       // bad command line, plan or settings: nothing was written
    ExitPortHeld = 3,      // UDP port 8300 belongs to another program
    ExitInterrupted = 130, // Ctrl+C: the rows not yet written were skipped
};

// The rounds of writing and reading back that set, apply and assign take unless --rounds says
// otherwise. Once most panels hold their row a round costs little, and 8 rounds finish 20 panels
// at 30 % loss each way in nearly every run.
inline constexpr int DefaultRounds = 8;

// One command of the program, as its Add function made it.
struct Command {
    CLI::App* Parsed = nullptr; // the subcommand; true once the command line named it
    std::function<int()> Run;   // runs it with the options parsed; returns the exit code
};

// The exit codes, said once: at the foot of the program's help (and in the manual page).
extern const char* const ExitCodesFooter;
// A command's footer: its own explanation, its examples (one command line each, indented), then
// one line that says where the exit codes are.
std::string WithExitCodes(const std::string& explanation, const std::string& examples);

// "" given for a value is no value: an error, not the default.
extern const CLI::Validator NonEmpty;

// --wait and --repeat of the commands that search until the list is whole.
void AddSearchOptions(CLI::App* command, SearchOptions& search);
// --wait and --repeat of the commands whose search ends as soon as its decision is sure.
void AddDeadlineOptions(CLI::App* command, SearchOptions& search);
void AddRoundsOption(CLI::App* command, int& rounds);
void AddFormatOption(CLI::App* command, std::string& format);
void AddUndoOption(CLI::App* command, std::string& path);
// --as-written: a type and call address that read back as another are written as given, and
// said (set, apply, assign).
void AddAsWrittenFlag(CLI::App* command, bool& flag);
// --quiet: no warnings, no progress line.
void AddQuietFlag(CLI::App* command);

// The --format named; the option's check has already refused any other name.
Format FormatNamed(const std::string& name);

} // namespace Cli
