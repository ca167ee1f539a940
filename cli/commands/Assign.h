#pragma once

// callpanel assign: a schedule's rows given to new panels as they are powered.

#include <string>
#include <vector>

#include "Options.h"

namespace Cli {

struct AssignOptions {
    std::string SchedulePath;
    std::string AsBuiltPath; // empty: the schedule's name with -as-built.csv
    std::string NewOn;       // the subnet new panels come on; empty: the factory's
    bool Watch = false;
    bool InMacOrder = false;
    std::vector<std::string> RowMacs; // --row N=MAC
    SearchOptions Search;
    int Rounds = DefaultRounds;
    std::string UndoPath;
    bool AsWritten = false; // a type and address that read back as another are written
};

Command AddAssignCommand(CLI::App& app);
int RunAssign(const AssignOptions& options);

} // namespace Cli
