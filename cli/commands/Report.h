#pragma once

// callpanel report: the site as found, written into one self-contained HTML file for the
// handover.

#include "Handover.h"
#include "Options.h"

namespace Cli {

Command AddReportCommand(CLI::App& app);
int RunReport(const ReportOptions& options);

} // namespace Cli
