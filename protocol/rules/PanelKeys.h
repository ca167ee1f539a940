#pragma once

// The values by which a panel is told apart from another: its MAC as a value of its own, and
// the comparisons of a record's fixed fields. One definition for the window, callpanel, the
// stand-in and the benchmarks, so that every map keyed by MAC orders the same way.

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "PanelRecord.h"

// A panel's MAC as a value that maps and sets can hold. It is ordered byte by byte from the
// first (the order of std::array), which is the order of its text form; PanelTexts.h turns it
// into "00:50:2A:10:00:A5" and back.
using MacAddress = std::array<uint8_t, 6>;

inline MacAddress MacOf(const uint8_t (&bytes)[6]) {
    MacAddress mac;
    std::memcpy(mac.data(), bytes, mac.size());
    return mac;
}

inline MacAddress MacOf(const PanelRecord& record) {
    return MacOf(record.Mac);
}

// Two fixed fields of a record hold the same bytes.
template <std::size_t N> bool Same(const uint8_t (&a)[N], const uint8_t (&b)[N]) {
    return std::memcmp(a, b, N) == 0;
}

// Two records carry the same identity (type letter, call address and facility: the bytes a
// request names its panel by), whatever their other fields.
inline bool SameIdentity(const PanelRecord& a, const PanelRecord& b) {
    return std::memcmp(&a.TypeLetter, &b.TypeLetter, PanelIdentityLength) == 0;
}
