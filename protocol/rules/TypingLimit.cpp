#include "TypingLimit.h"

#include "PanelTexts.h"

namespace {

// Bytes of the UTF-8 character that begins with `lead`; a stray byte counts alone.
std::size_t CharacterLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2) return 2;
    return 1;
}

} // namespace

std::string_view FittingInput(std::string_view kept, std::string_view input, int limit) {
    if (limit <= 0) return input;
    long room = long(limit) - long(WireBytes(kept).size());
    std::size_t taken = 0;
    while (taken < input.size()) {
        std::size_t length = CharacterLength(static_cast<unsigned char>(input[taken]));
        if (taken + length > input.size()) length = input.size() - taken;
        const long bytes = long(WireBytes(input.substr(taken, length)).size());
        if (bytes > room) break;
        room -= bytes;
        taken += length;
    }
    return input.substr(0, taken);
}
