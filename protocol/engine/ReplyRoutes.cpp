#include "ReplyRoutes.h"

#include <cstdio>

#include "DuplicateRule.h"

namespace {

template <int N> void CopyText(char (&out)[N], const char* text) {
    std::snprintf(out, N, "%s", text);
}

} // namespace

void ReplyRoutes::Remember(const PanelRecord& record, const char* via) {
    std::lock_guard<std::mutex> guard(Lock);
    for (int i = 0; i < Count; ++i) {
        if (!SamePanel(Entries[i].Record, record)) continue;
        CopyText(Entries[i].Via, via);
        return;
    }
    int at = Count;
    if (Count < Capacity) {
        ++Count;
    } else {
        at = Oldest;
        Oldest = (Oldest + 1) % Capacity;
    }
    Entries[at].Record = record;
    CopyText(Entries[at].Via, via);
}

void ReplyRoutes::RouteOf(const PanelRecord& record, char (&out)[AddressSize]) const {
    std::lock_guard<std::mutex> guard(Lock);
    for (int i = 0; i < Count; ++i) {
        if (!SamePanel(Entries[i].Record, record)) continue;
        CopyText(out, Entries[i].Via);
        return;
    }
    out[0] = '\0';
}
