#include "TerminalText.h"

#include <cstdio>

namespace {

std::string Hex(const char* format, unsigned value) {
    char text[8];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

} // namespace

std::string TerminalText(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (std::size_t at = 0; at < text.size();) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c >= 0x20 && c < 0x7F) {
            out += char(c);
            ++at;
            continue;
        }
        if (c < 0x80) {
            switch (c) {
            case 0:
                out += "\\0";
                break;
            case '\t':
                out += "\\t";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\r':
                out += "\\r";
                break;
            case 0x1B:
                out += "\\e";
                break;
            default:
                out += Hex("\\x%02X", c);
            }
            ++at;
            continue;
        }
        const std::size_t length = Utf8CharacterLength(text.substr(at));
        if (length == 0) {
            out += Hex("\\x%02X", c);
            ++at;
        } else if (c == 0xC2 && static_cast<unsigned char>(text[at + 1]) < 0xA0) {
            out += Hex("\\u%04X", static_cast<unsigned char>(text[at + 1]));
            at += 2;
        } else {
            out.append(text.substr(at, length));
            at += length;
        }
    }
    return out;
}

std::size_t Utf8CharacterLength(std::string_view text) {
    if (text.empty()) return 0;
    const auto c = static_cast<unsigned char>(text[0]);
    if (c < 0x80) return 1;
    std::size_t length = 0;
    unsigned char low = 0x80, high = 0xBF;
    if (c >= 0xC2 && c <= 0xDF) {
        length = 2;
    } else if (c >= 0xE0 && c <= 0xEF) {
        length = 3;
        if (c == 0xE0) low = 0xA0;
        if (c == 0xED) high = 0x9F;
    } else if (c >= 0xF0 && c <= 0xF4) {
        length = 4;
        if (c == 0xF0) low = 0x90;
        if (c == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (text.size() < length) return 0;
    for (std::size_t k = 1; k < length; ++k) {
        const auto t = static_cast<unsigned char>(text[k]);
        if (k == 1 ? (t < low || t > high) : (t < 0x80 || t > 0xBF)) return 0;
    }
    return length;
}
