#include "Options.h"

namespace Cli {

const char* const ExitCodesFooter =
    "Exit codes: 0 done; 1 no panel answered, no network, a write not confirmed, a clash on the\n"
    "site after the writes, or a list that may be short; 2 bad command line, plan or settings,\n"
    "a conflict it would make, replies dropped by the system in every search round, or not\n"
    "sure by --wait (nothing written); 3 UDP port 8300 held by another program; 130\n"
    "stopped by Ctrl+C (a second one ends at once).";

std::string WithExitCodes(const std::string& explanation, const std::string& examples) {
    return explanation + "\n\nExamples:\n" + examples +
           "\n\nExit codes: see callpanel --help (or man callpanel).";
}

const CLI::Validator NonEmpty(
    [](std::string& value) { return value.empty() ? std::string("needs a value") : std::string(); },
    "", "NonEmpty");

void AddSearchOptions(CLI::App* command, SearchOptions& search) {
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

void AddDeadlineOptions(CLI::App* command, SearchOptions& search) {
    search = {WriteSearchWaitMs, 1};
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

void AddAsWrittenFlag(CLI::App* command, bool& flag) {
    command->add_flag("--as-written", flag,
                      "write a type and call address that read back as another (a flat "
                      "camera's address ending in 000000 reads back as a villa camera) as "
                      "given, and say what they read back as");
}

void AddUndoOption(CLI::App* command, std::string& path) {
#ifdef _WIN32
    const char* folder = "%LOCALAPPDATA%\\callpanel";
#else
    const char* folder = "$XDG_STATE_HOME/callpanel";
#endif
    command
        ->add_option("--undo", path,
                     std::string("a new file for the undo plan, never one that exists (default: a "
                                 "new file in ") +
                         folder + ")")
        ->check(NonEmpty);
}

void AddQuietFlag(CLI::App* command) {
    command->add_flag_callback(
        "--quiet", [] { SetQuiet(true); }, "no warnings, no progress on a terminal");
}

Format FormatNamed(const std::string& name) {
    return ParseFormat(name).value_or(Format::Table);
}

} // namespace Cli
