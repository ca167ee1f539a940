#include "DuplicateRule.h"

#include <cstring>
#include <type_traits>

#include "PanelKeys.h"

// Compared as bytes: the record is its wire fields alone, without padding.
static_assert(std::has_unique_object_representations_v<PanelRecord>);

bool SamePanel(const PanelRecord& a, const PanelRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

bool PanelOrder::operator()(const PanelRecord& a, const PanelRecord& b) const {
    if (const MacAddress first = MacOf(a), second = MacOf(b); first != second)
        return first < second;
    return std::memcmp(&a, &b, sizeof a) < 0;
}
