// The strict GBK converter against one table, on every system it is built for: iconv on Linux
// (ctest gbk_codec), code page 936 on Windows (run under wine by e2e_callpanel_wine), so both
// builds show and write panel texts alike. Prints each disagreement; exit 1 when there is one.
#include "GbkCodec.h"

#include <cstdio>
#include <optional>
#include <string>

namespace {

struct Case {
    const char* Name;
    std::string Gbk;  // the bytes on the wire
    std::string Utf8; // the same text as UTF-8
    bool Decodes;     // GBK -> UTF-8 gives Utf8
    bool Encodes;     // UTF-8 -> GBK gives Gbk
};

using namespace std::string_literals;

const Case Cases[] = {
    {"empty", "", "", true, true},
    {"ASCII", "H1083000012", "H1083000012", true, true},
    {"song", "1\xCB\xCE", "1\xE5\xAE\x8B", true, true},
    {"full-width exclamation", "\xA3\xA1", "\xEF\xBC\x81", true, true},
    {"first GBK code", "\x81\x40", "\xE4\xB8\x82", true, true},
    {"middle dot", "\xA1\xA4", "\xC2\xB7", true, true},
    {"em dash", "\xA1\xAA", "\xE2\x80\x94", true, true},
    {"ideographic space", "\xA1\xA1", "\xE3\x80\x80", true, true},
    {"zero byte inside", "a\0b"s, "a\0b"s, true, true},
    {"lead byte at the end", "a\xCB", "", false, false},
    {"0xFF alone", "\xFF", "", false, false},
    {"0x7F is no trail byte", "\x81\x7F", "", false, false},
    {"0xFF is no trail byte", "\x81\xFF", "", false, false},
    {"user-defined AAA1", "\xAA\xA1", "\xEE\x80\x80", false, false},
    {"user-defined F8A1", "\xF8\xA1", "\xEE\x88\xB4", false, false},
    {"user-defined A140", "\xA1\x40", "\xEE\x93\x86", false, false},
    {"euro sign", "\x80", "\xE2\x82\xAC", true, true},
    {"Thai, no GBK form", "", "a\xE0\xB8\x81", false, false},
    {"replacement character", "", "\xEF\xBF\xBD", false, false},
    {"cut UTF-8", "", "2\xC3", false, false},
    {"overlong UTF-8", "", "\xC0\xAF", false, false},
    {"UTF-8 surrogate", "", "\xED\xA0\x80", false, false},
};

std::string Shown(const std::optional<std::string>& text) {
    if (!text) return "(refused)";
    std::string hex;
    char byte[4];
    for (unsigned char c : *text) {
        std::snprintf(byte, sizeof byte, "%02X ", c);
        hex += byte;
    }
    return hex.empty() ? "(empty)" : hex;
}

} // namespace

int main() {
    int failures = 0;
    const auto check = [&](const char* name, const char* way, const std::optional<std::string>& got,
                           const std::optional<std::string>& want) {
        if (got == want) return;
        ++failures;
        std::printf("FAIL %s, %s: %s, expected %s\n", name, way, Shown(got).c_str(),
                    Shown(want).c_str());
    };
    int count = 0;
    for (const Case& c : Cases) {
        if (!c.Gbk.empty() || c.Decodes) {
            check(c.Name, "decode", GbkDecodeStrict(c.Gbk),
                  c.Decodes ? std::optional(c.Utf8) : std::nullopt);
            ++count;
        }
        if (!c.Utf8.empty() || c.Encodes) {
            check(c.Name, "encode", GbkEncodeStrict(c.Utf8),
                  c.Encodes ? std::optional(c.Gbk) : std::nullopt);
            ++count;
        }
    }
    std::printf("%d of %d GBK checks passed\n", count - failures, count);
    return failures == 0 ? 0 : 1;
}
