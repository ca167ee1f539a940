#pragma once

// The handover report's contents as `report` and the commissioning page both build them: who
// made it, on which computer, the site as found, the check against the plan and the work done
// from the site's as-built and undo plans. Both use this one builder, so that the page and the
// command write the same report.

#include <string>
#include <vector>

#include "Options.h"
#include "commission/HtmlReport.h"
#include "plan/Plan.h"
#include "site/Found.h"

namespace Cli {

struct ReportOptions {
    std::string PlanPath; // empty: the site alone
    std::string HtmlPath;
    std::string Site; // empty: the plan's folder's name (the current folder's without a plan)
    // The site's folder, whose as-built and undo plans are the work done (WorkDoneFolders).
    // When it is empty, the plan's folder holds them, or the current folder without a plan.
    std::string SiteFolder;
    std::string By; // empty: the user's name
    SearchOptions Search;
};

// The report of the panels `found`, as `report` writes it (the commissioning page's too), with
// the check of `plan` when options.PlanPath names one; false after saying why the plan's rows
// cannot be checked.
bool BuildReport(const ReportOptions& options, const Plan& plan,
                 const std::vector<FoundPanel>& found, ReportInput& input);
// A folder's own name, however its path is written ("Block A/", "."), from its absolute path.
std::string FolderName(const std::string& folder);

} // namespace Cli
