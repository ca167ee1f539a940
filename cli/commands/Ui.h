#pragma once

// callpanel ui: the commissioning page in the browser. Its options and its run function.

#include "Options.h"
#include "ui/UiServer.h"

namespace Cli {

Command AddUiCommand(CLI::App& app);
int RunUi(const UiOptions& options);

} // namespace Cli
