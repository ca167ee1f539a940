#include "TypingLimit.h"

#include "PanelTexts.h"

std::string_view FittingInput(std::string_view kept, std::string_view input, int limit) {
    if (limit <= 0) return input;
    long room = long(limit) - long(WireBytes(kept).size());
    std::size_t taken = 0;
    while (taken < input.size()) {
        std::size_t length = Utf8LeadLength(static_cast<unsigned char>(input[taken]));
        if (taken + length > input.size()) length = input.size() - taken;
        const long bytes = long(WireBytes(input.substr(taken, length)).size());
        if (bytes > room) break;
        room -= bytes;
        taken += length;
    }
    return input.substr(0, taken);
}

std::optional<std::string_view> PastedInput(std::string_view kept, std::string_view clipboard,
                                            int limit) {
    const std::string_view line = clipboard.substr(0, clipboard.find_first_of("\r\n"));
    const std::string_view part = FittingInput(kept, line, limit);
    if (part.empty() && !line.empty()) return std::nullopt;
    return part;
}
