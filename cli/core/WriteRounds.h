#pragma once

// The writes of set and apply over the network: each round writes the rows not yet verified,
// then searches to read them back.

#include "FindPanels.h"
#include "Rounds.h"

namespace Cli {

// Writes in rounds until every row is verified or `maxRounds` have passed. After a Ctrl+C the
// rows not yet written are skipped and what was written is read back.
void WriteRounds(PanelLink& link, Rounds& rounds, const SearchOptions& search, int maxRounds,
                 const RunControl& control);

} // namespace Cli
