#pragma once

// The four commands of callpanel. Each returns the program's exit code; results go to standard
// output, problems to standard error.

#include <map>
#include <optional>
#include <string>

#include "site/FindPanels.h"
#include "Output.h"

namespace Cli {

enum ExitCode {
    ExitOk = 0,
    ExitFailed = 1,        // no panel answered, or a write that cannot be confirmed
    ExitRefused = 2,       // bad command line, plan or settings: nothing was written
    ExitPortHeld = 3,      // UDP port 8300 belongs to another program
    ExitInterrupted = 130, // Ctrl+C: the rows not yet written were skipped
};

// Progress on a terminal and warnings off.
void SetQuiet(bool quiet);

// What a command's exit code becomes once its output is out: an output that could not be
// written (a full disk) is said, and a run that went well ends with ExitFailed.
int OutputWritten(int exitCode);

// set --mac: XX:XX:XX or XX-XX-XX, or a whole MAC beginning with 00:50:2A in either spelling, as
// the last three bytes XX:XX:XX; any other text as it is, for the checks to refuse.
std::string MacTail(const std::string& text);

int RunSearch(const SearchOptions& search, Format format);

// Write-and-read-back rounds of set and apply. Once most panels hold their row a round costs
// little, and 8 finish 20 panels at 30 % loss each way in nearly every run.
inline constexpr int DefaultRounds = 8;

struct SetOptions {
    std::string Panel; // a MAC, a current IP address or an identity
    // Plan column name -> new value; "mac" holds the last three bytes, XX:XX:XX.
    std::map<std::string, std::string> Changes;
    SearchOptions Search;
    int Rounds = DefaultRounds;
    Format Output = Format::Table;
    std::string UndoPath; // empty: a new file in the state folder
};
int RunSet(const SetOptions& options);

struct ApplyOptions {
    std::string PlanPath;
    bool DryRun = false;
    Format Output = Format::Table;
    SearchOptions Search;
    int Rounds = DefaultRounds;
    std::string UndoPath;
};
int RunApply(const ApplyOptions& options);

int RunDeleteCards(const std::string& panel, bool confirmed, const SearchOptions& search,
                   Format format);

} // namespace Cli
