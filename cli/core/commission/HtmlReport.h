#pragma once

// The handover report: one HTML file that holds everything it shows (inline CSS, pictures as
// inline SVG), so that it opens and prints anywhere without a network.

#include <string>
#include <utility>
#include <vector>

#include "PanelRecord.h"
#include "commission/WorkDone.h"
#include "plan/PlanCheck.h"

struct ReportPanel {
    bool Found = true; // false: a plan row whose panel did not answer (Record holds its MAC)
    PanelRecord Record{};
    std::string Via;
    std::vector<std::pair<std::string, std::string>> Notes; // the plan's '#' columns
    std::string Result, Details;                            // the check's, with a plan
};

struct ReportInput {
    std::string Site;      // the site's or building's name
    std::string By;        // who made the report
    std::string Host;      // this computer's name
    std::string Generated; // local date and time
    std::string Version;   // the tool's
    std::vector<std::string> ComputerAddresses;
    std::string PlanName; // empty: no plan
    std::vector<std::string> NoteColumns;
    std::vector<ReportPanel> Panels;
    std::vector<SiteFault> Faults;
    std::vector<ReportRun> Runs; // the work done, from the records the runs left
};

// The owner reads it top down: who, where and when; the problems (every row not as planned and
// every site fault, by the plan's location first); the counts; the work done; then every panel,
// location first, and the address map, four or more /24 grids to a landscape page.
// The location is the plan's '#' column whose name holds "location" (else its first one).

std::string ReportHtml(const ReportInput& input);

// Text as HTML character data or attribute value.
std::string HtmlEscaped(const std::string& text);
