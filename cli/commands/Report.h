#pragma once

// callpanel report: the site as found, written into one self-contained HTML file for the
// handover.

#include <string>

#include "Options.h"

namespace Cli {

struct ReportOptions {
    std::string PlanPath; // empty: the site alone
    std::string HtmlPath;
    std::string Site; // empty: the plan's folder's name (the current folder's without a plan)
    std::string By;   // empty: the user's name
    SearchOptions Search;
};

Command AddReportCommand(CLI::App& app);
int RunReport(const ReportOptions& options);

} // namespace Cli
