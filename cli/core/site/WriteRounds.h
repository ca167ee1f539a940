#pragma once

// The writes of set and apply over the network: each round writes the rows not yet verified,
// then searches to read them back.

#include "site/FindPanels.h"
#include "site/Rounds.h"

namespace Cli {

// Late replies are listened for up to this long after the last search before the writes (the
// window listens as long).
inline constexpr Millis ReadBackListen{100};

// Of search replies that came late, those of panels that are no row's: a row's panel answers
// for its row alone, and its late replies are older than the read-back.
std::vector<PanelRecord> LateOthers(const Rounds& rounds, const std::vector<FoundPanel>& late);

// Writes in rounds until every row is verified or `maxRounds` have passed. After a Ctrl+C the
// rows not yet written are skipped and what was written is read back. Returns the replies of
// every read-back, in arrival order, then LateOthers of the replies that came during the writes
// or up to ReadBackListen after the last search before them, so that a clash with a panel slower
// than the searches is named.
std::vector<PanelRecord> WriteRounds(PanelLink& link, Rounds& rounds, const SearchOptions& search,
                                     int maxRounds, const RunControl& control);

// The site after the writes: two panels on one IP address, or one identity twice, that the run
// made or met (someone else made meanwhile); those already there before the writes were said
// then. Each names the panels by MAC and IP.
// `found`: the panels before the writes; `readBack`: the replies after them, in arrival order.
// A reply takes the place of a panel with its MAC and its IP or identity; a row's panel that
// answered after its writes is as it last reported.
std::vector<std::string> ClashesAfter(const Rounds& rounds, const std::vector<PanelRecord>& found,
                                      const std::vector<PanelRecord>& readBack);

} // namespace Cli
