#pragma once

// `callpanel ui`: the commissioning page served from this computer. One worker thread owns the
// panel protocol: while nothing else runs it searches the site in rounds, and the page's
// actions (check, report) run on it one at a time, the rounds paused meanwhile. The HTTP
// server's threads only read the state and queue actions, so a page is answered at once
// whatever the panels are doing.

#include <string>

#include "site/FindPanels.h"

namespace Cli {

struct UiOptions {
    std::string Folder;    // the site; empty: the page offers the folders under SitesRoot
    std::string SitesRoot; // empty: DefaultSitesRoot()
    std::string Listen;    // ADDRESS:PORT; empty: 127.0.0.1 on a free port
    bool NoBrowser = false;
    SearchOptions Search;
    int Rounds = 8;
};

// Serves until Ctrl+C; the program's exit code.
int RunUiServer(const UiOptions& options);

} // namespace Cli
