#pragma once

// callpanel report: the site as found, written into one self-contained HTML file for the
// handover.

#include <string>

#include "Options.h"

namespace Cli {

struct ReportOptions {
    std::string PlanPath; // empty: the site alone
    std::string HtmlPath;
    SearchOptions Search;
};

Command AddReportCommand(CLI::App& app);
int RunReport(const ReportOptions& options);

} // namespace Cli
