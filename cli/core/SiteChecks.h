#pragma once

// Checks across a whole site: the plan's panels as they would be after the write, and every
// panel found that the plan does not touch, as it is.

#include <string>
#include <vector>

#include "PanelRecord.h"

// Name: the panel's MAC text. Settings: as staged (unlocking time a digit) or as found.
struct SitePanel {
    std::string Name;
    PanelRecord Settings;
};

// Two panels with one IP address; two panels with one identity (type letter, address, facility);
// a gateway outside the segment of IP and mask (the window's same-segment rule). A problem of two
// panels names both; every pair is reported, in the order of `panels`.
std::vector<std::string> SiteProblems(const std::vector<SitePanel>& panels);
