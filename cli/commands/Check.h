#pragma once

// callpanel check: the site compared with its plan, row by row, and the site's own faults.

#include <string>

#include "Options.h"

namespace Cli {

struct CheckOptions {
    std::string PlanPath;
    bool IgnoreExtra = false;
    Format Output = Format::Table;
    SearchOptions Search;
};

Command AddCheckCommand(CLI::App& app);
int RunCheck(const CheckOptions& options);

} // namespace Cli
