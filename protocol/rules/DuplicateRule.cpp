#include "DuplicateRule.h"

#include <cstring>
#include <type_traits>

// Compared as bytes: the record is its wire fields alone, without padding.
static_assert(std::has_unique_object_representations_v<PanelRecord>);

bool SamePanel(const PanelRecord& a, const PanelRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool PanelOrder::operator()(const PanelRecord& a, const PanelRecord& b) const {
    if (const int mac = std::memcmp(a.Mac, b.Mac, sizeof a.Mac); mac != 0) return mac < 0;
    return std::memcmp(&a, &b, sizeof a) < 0;
}
