#pragma once

// callpanel apply: a site plan (CSV) written into its panels, or shown first with --dry-run.

#include <string>
#include <vector>

#include "Options.h"

namespace Cli {

struct ApplyOptions {
    // One plan; or several undo plans, in the order their runs made them, applied as one.
    std::vector<std::string> PlanPaths;
    bool DryRun = false;
    Format Output = Format::Table;
    SearchOptions Search;
    int Rounds = DefaultRounds;
    std::string UndoPath;
    bool AsWritten = false; // a type and address that read back as another are written
};

Command AddApplyCommand(CLI::App& app);
int RunApply(const ApplyOptions& options);

} // namespace Cli
