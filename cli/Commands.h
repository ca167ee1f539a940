#pragma once

// The four commands of callpanel. Each returns the program's exit code; results go to standard
// output, problems to standard error.

#include <map>
#include <optional>
#include <string>

#include "Engine.h"
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

struct SearchOptions {
    int WaitMs = 500;
    int Repeat = 2;
};
// The deadline of each search of set, apply and delete-cards; they end sooner once every panel
// they need has answered.
inline constexpr int WriteSearchWaitMs = 3000;

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
};
int RunSet(const SetOptions& options);

struct ApplyOptions {
    std::string PlanPath;
    bool DryRun = false;
    Format Output = Format::Table;
    SearchOptions Search;
    int Rounds = DefaultRounds;
};
int RunApply(const ApplyOptions& options);

int RunDeleteCards(const std::string& panel, bool confirmed, const SearchOptions& search,
                   Format format);

} // namespace Cli
