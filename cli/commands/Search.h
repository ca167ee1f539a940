#pragma once

// callpanel search: every panel that answers, as a table, CSV or JSON.

#include "Options.h"

namespace Cli {

Command AddSearchCommand(CLI::App& app);
int RunSearch(const SearchOptions& search, Format format);

} // namespace Cli
