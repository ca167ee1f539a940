#include "text/MessageText.h"

#include "text/TerminalText.h"

std::string Quoted(std::string_view text) {
    std::size_t end = 0;
    for (std::size_t characters = 0; end < text.size() && characters < MessageCellLength;
         ++characters) {
        const std::size_t length = Utf8CharacterLength(text.substr(end));
        end += length == 0 ? 1 : length; // a stray byte counts as one
    }
    std::string quoted(1, '\'');
    quoted.append(TerminalText(text.substr(0, end)));
    if (end == text.size()) return quoted.append(1, '\'');
    return quoted.append("…' (" + std::to_string(text.size()) + " bytes)");
}

std::vector<std::string> Limited(const std::vector<std::string>& lines, std::size_t limit) {
    if (lines.size() <= limit) return lines;
    std::vector<std::string> out(lines.begin(), lines.begin() + std::ptrdiff_t(limit));
    out.push_back("… " + std::to_string(lines.size() - limit) + " more");
    return out;
}
