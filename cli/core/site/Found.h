#pragma once

// What searches bring back: the replies as they came, and what a search is asked to do. Shared
// by the engine, which sends and collects, and the decisions of cli/core, which read them.

#include <array>
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "PanelKeys.h"
#include "PanelRecord.h"

namespace Cli {

using Millis = std::chrono::milliseconds;

// One search reply.
struct FoundPanel {
    PanelRecord Record{};
    std::string Via;    // the local address the reply came to
    std::string Source; // the address it came from
    // How late it came: at least the time since the last search request before it (it answers
    // that request or an older one).
    Millis Late{0};
};

// The replies since the first search of a Search call, in arrival order.
using Replies = std::vector<PanelRecord>;

// One search: a request every `Every` until `Done` holds of the replies (checked on every
// reply), `Requests` have been sent and the last one's `Every` has passed, or `Deadline` (from
// the first request; zero: none) has passed, whichever comes first. A search whose rounds all
// saw the system drop datagrams is not whole: up to `LossRetries` further requests follow, and
// only a round without drops lets Done end it. With `Quiet`, Done ends a round only once no reply
// has come for that long: the replies of one request come as a burst, and its tail counts.
struct SearchPlan {
    Millis Every{250};
    int Requests = 1;
    Millis Deadline{0};
    int LossRetries = 3;
    std::function<bool(const Replies&)> Done;
    Millis Quiet{0};
    // Also the replies that came after the previous search returned: rounds of one search,
    // with no gap between them.
    bool Continue = false;
};

struct Collected {
    std::vector<FoundPanel> Replies; // in arrival order
    int Searches = 0;
    uint64_t Dropped = 0; // datagrams the system dropped meanwhile
    // A round (a request and the wait after it) ended without a datagram dropped by the system:
    // every panel that answered it was heard.
    bool Whole = false;
};

// One entry per panel (DuplicateRule.h: equal records are one panel; panels sharing a MAC stay
// apart), its last reply, in MAC order.
std::vector<FoundPanel> Distinct(const std::vector<FoundPanel>& replies);
std::vector<PanelRecord> RecordsOf(const std::vector<FoundPanel>& panels);

} // namespace Cli
