#pragma once

#include <mutex>

#include "PanelRecord.h"

// The computer's own address that each panel's latest search reply came in by, so that a write
// or card deletion for the panel leaves first by that route. Fixed room: when it is full, the
// oldest panel gives way (its requests then take the routes in their usual order).
class ReplyRoutes {
  public:
    static constexpr int Capacity = 256;
    static constexpr int AddressSize = 20; // dotted-decimal text with its zero, as TUDPR holds it

    // Called on the receiver thread: `via` is where the reply from `record` came in.
    void Remember(const PanelRecord& record, const char* via);
    // Called from any thread: gives the address for `record` (DuplicateRule.h), or "" when none
    // is known.
    void RouteOf(const PanelRecord& record, char (&out)[AddressSize]) const;

  private:
    struct Entry {
        PanelRecord Record;
        char Via[AddressSize];
    };
    mutable std::mutex Lock;
    Entry Entries[Capacity] = {};
    int Count = 0;
    int Oldest = 0;
};
