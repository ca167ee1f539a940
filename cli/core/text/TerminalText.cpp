#include "text/TerminalText.h"

#include <cstdio>

#include "PanelTexts.h"

namespace {

std::string Hex(const char* format, unsigned value) {
    char text[12];
    std::snprintf(text, sizeof text, format, value);
    return text;
}

char32_t CodePoint(std::string_view character) {
    const auto lead = static_cast<unsigned char>(character[0]);
    char32_t cp = character.size() == 2   ? lead & 0x1F
                  : character.size() == 3 ? lead & 0x0F
                                          : lead & 0x07;
    for (std::size_t k = 1; k < character.size(); ++k)
        cp = cp << 6 | (static_cast<unsigned char>(character[k]) & 0x3F);
    return cp;
}

// Characters a terminal shows as nothing or as a plain blank: a no-break or zero-width space, a
// byte order mark, direction marks and other format characters.
bool Invisible(char32_t cp) {
    const auto in = [cp](char32_t low, char32_t high) { return cp >= low && cp <= high; };
    return cp == 0xA0 || cp == 0xAD || cp == 0x34F || cp == 0x61C || in(0x115F, 0x1160) ||
           in(0x17B4, 0x17B5) || in(0x180B, 0x180E) || in(0x2000, 0x200F) || in(0x2028, 0x202F) ||
           in(0x205F, 0x206F) || cp == 0x3164 || in(0xFE00, 0xFE0F) || cp == 0xFEFF ||
           cp == 0xFFA0 || in(0xFFF9, 0xFFFB) || in(0x1D173, 0x1D17A) || in(0xE0000, 0xE0FFF);
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
        } else if (const char32_t cp = CodePoint(text.substr(at, length)); Invisible(cp)) {
            out += Hex("\\u%04X", unsigned(cp));
            at += length;
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
    const std::size_t length = Utf8LeadLength(c);
    if (length == 1) return c < 0x80 ? 1 : 0;
    if (text.size() < length) return 0;
    // The second byte's range leaves out overlong forms, surrogates and what lies past U+10FFFF.
    const unsigned char low = c == 0xE0 ? 0xA0 : c == 0xF0 ? 0x90 : 0x80;
    const unsigned char high = c == 0xED ? 0x9F : c == 0xF4 ? 0x8F : 0xBF;
    for (std::size_t k = 1; k < length; ++k) {
        const auto t = static_cast<unsigned char>(text[k]);
        if (k == 1 ? (t < low || t > high) : (t < 0x80 || t > 0xBF)) return 0;
    }
    return length;
}
