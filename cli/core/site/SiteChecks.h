#pragma once

// Checks across a whole site: every panel found and every panel a plan names, before and after
// the command. Only a problem the command would make refuses it; one that is already there and
// that the command does not make worse is a warning, so that a broken site can be put right one
// panel at a time.

#include <string>
#include <vector>

#include "PanelRecord.h"

struct SitePanel {
    std::string Name;     // the panel's MAC text, with its plan line when it has one
    PanelRecord Before{}; // as found (unused for a panel that did not answer)
    PanelRecord After{};  // as found, or as staged (unlocking time a digit)
    bool Found = true;    // false: a plan row for a panel that did not answer
    bool Written = false; // the command writes this panel
    // What After holds of a panel that did not answer: the cells its row gave.
    bool KnowsIp = true, KnowsIdentity = true;
};

struct SiteVerdict {
    std::vector<std::string> Conflicts; // the command would make them: refuse
    std::vector<std::string> Warnings;  // already there, not made worse
};

// Two panels with one IP address, one identity (type letter, address, facility) or one MAC; a
// written panel whose gateway lies outside the segment of its IP and mask (the window's rule).
// A clash is the command's when a panel it writes, or a row for a panel that did not answer,
// takes the shared value anew. Each clash names all its panels, in the order of `panels`.
SiteVerdict CheckSite(const std::vector<SitePanel>& panels);

// The panels found that share a MAC, an identity (both name a panel in requests) or an IP
// address, each with why it matters, for search.
std::vector<std::string> SharedNames(const std::vector<PanelRecord>& found);
