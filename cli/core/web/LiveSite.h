#pragma once

// The site as the commissioning page shows it while it is open: every panel heard in the search
// rounds, when it was last heard, and whether it is still there. A panel whose settings change
// (written by this page or another laptop) stays one row; a panel not heard for GoneAfter is
// gone but kept, with the time it was last heard. No sockets: the rounds hand in their replies.

#include <chrono>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "site/Found.h"

struct LivePanel {
    Cli::FoundPanel Panel;
    long long Id = 0;      // stable for the page: a row keeps it while its settings change
    long long HeardMs = 0; // when last heard, milliseconds since the epoch
    bool Online = true;
    long long SinceMs = 0; // when it was first heard after being unheard (or new)
};

class LiveSite {
  public:
    // Unheard this long, a panel is gone: a search round every quarter second at 30 % loss
    // each way misses a present panel twelve rounds running about once in a million.
    static constexpr long long GoneAfterMs = 3000;

    // One round's replies (any order, repeats allowed) at `nowMs`; true when what the page
    // shows changed.
    bool Round(const std::vector<Cli::FoundPanel>& replies, long long nowMs);
    const std::vector<LivePanel>& Panels() const { return Entries; }
    // The records of the panels present, for the site checks.
    std::vector<PanelRecord> Present() const;

  private:
    std::vector<LivePanel> Entries;
    long long NextId = 1;
};

// The page's view of the site: each panel's columns as search prints them, its id, whether it is
// present and `heard`: for a panel present, when it came (the moment it was heard after being
// unheard), for one gone, when it was last heard. Neither moves while nothing else changes, so a
// row is sent to the page again only when the panel changed. Then the faults of the panels
// present, with the MACs of the panels each concerns.
nlohmann::json SiteJson(const LiveSite& site);
