#include "plan/PlanEncoding.h"

#include <algorithm>
#include <cstdint>
#include <cstring>

#include "text/TerminalText.h"

namespace {

constexpr const char* SaveAsUtf8 =
    "save it from the spreadsheet as \"CSV UTF-8\" (or convert it, e.g. iconv -f ";

std::string SaveHint(const char* encoding) {
    return std::string(SaveAsUtf8) + encoding + " -t UTF-8)";
}

int LineAt(std::string_view text, std::size_t at) {
    const auto before = text.substr(0, at);
    return 1 + int(std::count(before.begin(), before.end(), '\n'));
}

// Where the text stops being UTF-8: byte offset of the first bad sequence, or npos.
std::size_t FirstNonUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        // Most of a plan is ASCII: eight bytes at a time while no high bit is set.
        for (std::uint64_t word; at + 8 <= text.size(); at += 8) {
            std::memcpy(&word, text.data() + at, 8);
            if ((word & 0x8080808080808080u) != 0) break;
        }
        if (at >= text.size()) break;
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            ++at;
            continue;
        }
        const std::size_t length = Utf8CharacterLength(text.substr(at));
        if (length == 0) return at;
        at += length;
    }
    return std::string_view::npos;
}

bool IsAsciiLetter(unsigned char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Text a person would write in GBK: every byte above 0x7F leads a pair of two such bytes (GBK
// also has pairs whose second byte is ASCII, but so has every Western word with an accented
// letter: "T\xFCr S\xFCd" would read "T黵 S黡"), at least one pair is a hanzi of GB2312, and
// no pair stands between two Latin letters as the accented letters of "Instala\xE7\xE3o" do.
// Anything else is not taken for GBK: converting it as GBK would change its letters.
bool LooksLikeGbk(std::string_view text) {
    bool hanzi = false;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const auto c = static_cast<unsigned char>(text[at]);
        if (c < 0x80) continue;
        if (c == 0x80 || c == 0xFF || at + 1 >= text.size()) return false;
        const auto t = static_cast<unsigned char>(text[at + 1]);
        if (t < 0x80 || t == 0xFF) return false;
        const bool betweenLetters = at > 0 && at + 2 < text.size() &&
                                    IsAsciiLetter(static_cast<unsigned char>(text[at - 1])) &&
                                    IsAsciiLetter(static_cast<unsigned char>(text[at + 2]));
        if (betweenLetters) return false;
        hanzi = hanzi || (c >= 0xB0 && c <= 0xF7 && t >= 0xA1);
        ++at;
    }
    return hanzi;
}

void AppendUtf8(std::string& out, char32_t cp) {
    if (cp < 0x80) {
        out += char(cp);
    } else if (cp < 0x800) {
        out += char(0xC0 | cp >> 6);
        out += char(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += char(0xE0 | cp >> 12);
        out += char(0x80 | (cp >> 6 & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    } else {
        out += char(0xF0 | cp >> 18);
        out += char(0x80 | (cp >> 12 & 0x3F));
        out += char(0x80 | (cp >> 6 & 0x3F));
        out += char(0x80 | (cp & 0x3F));
    }
}

// UTF-16 after its byte order mark; the line of a broken character, or 0.
int FromUtf16(std::string_view bytes, bool little, std::string& out) {
    const auto unit = [&](std::size_t at) {
        const auto a = static_cast<unsigned char>(bytes[at]);
        const auto b = static_cast<unsigned char>(bytes[at + 1]);
        return char16_t(little ? b << 8 | a : a << 8 | b);
    };
    int line = 1;
    std::size_t at = 0;
    for (; at + 1 < bytes.size(); at += 2) {
        char32_t cp = unit(at);
        if (cp >= 0xDC00 && cp <= 0xDFFF) return line;
        if (cp >= 0xD800 && cp <= 0xDBFF) {
            if (at + 3 >= bytes.size()) return line;
            const char16_t low = unit(at + 2);
            if (low < 0xDC00 || low > 0xDFFF) return line;
            cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
            at += 2;
        }
        if (cp == '\n') ++line;
        AppendUtf8(out, cp);
    }
    return at == bytes.size() ? 0 : line; // An odd byte left over is a broken character.
}

// ASCII with every other byte zero, all on the same side: UTF-16 that lost its mark.
bool LooksLikeUtf16(std::string_view bytes) {
    const std::size_t probe = std::min<std::size_t>(bytes.size(), 64) & ~std::size_t(1);
    std::size_t zeros[2] = {0, 0};
    for (std::size_t at = 0; at < probe; ++at)
        zeros[at % 2] += bytes[at] == '\0' ? 1 : 0;
    const std::size_t all = zeros[0] + zeros[1];
    return probe >= 4 && all * 2 >= probe && (zeros[0] == 0 || zeros[1] == 0);
}

// Control bytes that no spreadsheet writes into a CSV file, more than one in 64 at its start
// (a stray one in a cell is the cell's fault, reported where it is). ESC is left out: terminal
// colours pasted into a cell are text all the same.
bool LooksBinary(std::string_view bytes) {
    const std::size_t probe = std::min<std::size_t>(bytes.size(), 8192);
    std::size_t controls = 0;
    for (std::size_t at = 0; at < probe; ++at) {
        const auto c = static_cast<unsigned char>(bytes[at]);
        controls +=
            (c < 0x20 && c != '\t' && c != '\n' && c != '\r' && c != 0x0C && c != 0x1B) || c == 0x7F
                ? 1
                : 0;
    }
    return controls >= 2 && controls * 64 > probe;
}

bool StartsWith(std::string_view text, std::string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

} // namespace

std::optional<EncodingFault> PlanAsUtf8(std::string_view bytes, std::string& utf8) {
    using namespace std::string_view_literals;
    utf8.clear();
    if (StartsWith(bytes, "\xFF\xFE\0\0"sv) || StartsWith(bytes, "\0\0\xFE\xFF"sv))
        return EncodingFault{1, "the plan is UTF-32 text, not UTF-8 CSV: " + SaveHint("UTF-32")};
    for (const bool little : {true, false}) {
        if (!StartsWith(bytes, little ? "\xFF\xFE"sv : "\xFE\xFF"sv)) continue;
        if (const int line = FromUtf16(bytes.substr(2), little, utf8))
            return EncodingFault{line, std::string("the plan is UTF-16 text with a broken "
                                                   "character (an odd byte or a lone surrogate)")};
        return std::nullopt;
    }
    if (LooksLikeUtf16(bytes))
        return EncodingFault{1, "the plan looks like UTF-16 text without a byte order mark: " +
                                    SaveHint("UTF-16LE")};
    if (LooksBinary(bytes))
        return EncodingFault{1, "the plan is not a text file (a workbook, an archive or a "
                                "program?): save it from the spreadsheet as \"CSV UTF-8\""};
    if (const std::size_t bad = FirstNonUtf8(bytes); bad != std::string_view::npos) {
        // The file is named GBK only when that is sure; the Western guess comes with a question
        // mark, and its conversion fails on a byte Windows-1252 lacks rather than changing it.
        if (LooksLikeGbk(bytes))
            return EncodingFault{LineAt(bytes, bad),
                                 "the plan is not UTF-8 text; it looks like GBK (a Chinese "
                                 "Windows ANSI save): " +
                                     SaveHint("GBK")};
        return EncodingFault{LineAt(bytes, bad),
                             "the plan is not UTF-8 (Windows-1252?), perhaps a Western Windows "
                             "ANSI save: " +
                                 SaveHint("WINDOWS-1252")};
    }
    utf8.assign(bytes);
    return std::nullopt;
}
