#pragma once

// The writes of set and apply over the network: each round writes the rows not yet verified,
// then searches to read them back.

#include "site/FindPanels.h"
#include "site/Rounds.h"

namespace Cli {

// Late replies are listened for up to this long after the last search before the writes (the
// window listens as long).
inline constexpr Millis ReadBackListen{100};

// Of search replies that came late, those that are no row's panel's: a row's panel answers for
// its row alone, and its late replies are older than the read-back. A panel with a row's MAC
// and neither the row's IP address nor its identity (old or new) is another panel, a MAC twin.
std::vector<PanelRecord> LateOthers(const Rounds& rounds, const std::vector<FoundPanel>& late);

// The rows of `todo` that one round writes: none sharing an IP address (current or new) with
// an earlier one, since a write reply names no panel, only where it came from; the others wait
// for the next round, so a write given up keeps its addresses until its round ends.
std::vector<std::size_t> RoundBatch(const Rounds& rounds, const std::vector<std::size_t>& todo);

// Writes in rounds until every row is verified or `maxRounds` have passed. After a Ctrl+C the
// rows not yet written are skipped and what was written is read back. `hearing`: the loss and
// lateness the search before the writes measured; each read-back begins once replies to the
// searches before its writes, as late as measured, have come, and the last one ends only when
// every panel known has answered it or the rounds that the loss measured needs have passed.
// Returns, oldest first, LateOthers of the replies to searches before the writes that came
// during them, the replies of every read-back in arrival order, and LateOthers of the replies
// that came up to ReadBackListen (longer when the lateness measured asks) after the last search
// before the writes, so that a clash with a panel slower than the searches is named.
std::vector<PanelRecord> WriteRounds(PanelLink& link, Rounds& rounds, const SearchOptions& search,
                                     int maxRounds, const RunControl& control,
                                     Hearing hearing = {});

// The site after the writes: two panels on one IP address, or one identity twice, that the run
// made or met (someone else made meanwhile); those already there before the writes were said
// then. Each names the panels by MAC and IP.
// `found`: the panels before the writes; `readBack`: the replies after them, in arrival order.
// A reply takes the place of a panel with its MAC and its IP or identity; a row's panel that
// answered after its writes is as it last reported.
std::vector<std::string> ClashesAfter(const Rounds& rounds, const std::vector<PanelRecord>& found,
                                      const std::vector<PanelRecord>& readBack);

} // namespace Cli
