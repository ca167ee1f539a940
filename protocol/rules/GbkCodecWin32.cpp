// GBK through Windows' code page 936, held to what glibc's GBK accepts: code page 936 also maps
// the user-defined area (to private-use characters), which is no GBK character, so both
// directions refuse it here.

#include "GbkCodec.h"

#include <windows.h>

namespace {

constexpr UINT Gbk = 936;

bool InRange(unsigned value, unsigned low, unsigned high) {
    return value >= low && value <= high;
}

// A two-byte code of the three user-defined blocks.
bool UserDefined(unsigned lead, unsigned trail) {
    return (InRange(lead, 0xAA, 0xAF) && InRange(trail, 0xA1, 0xFE)) ||
           (InRange(lead, 0xF8, 0xFE) && InRange(trail, 0xA1, 0xFE)) ||
           (InRange(lead, 0xA1, 0xA7) && InRange(trail, 0x40, 0xA0));
}

// The byte structure of GBK, before the code page judges the characters.
bool WellFormedGbk(std::string_view gbk) {
    for (size_t i = 0; i < gbk.size(); ++i) {
        const auto lead = static_cast<unsigned char>(gbk[i]);
        if (lead <= 0x80) continue; // 0x80 is the euro sign

        if (!InRange(lead, 0x81, 0xFE) || i + 1 == gbk.size()) return false;
        const auto trail = static_cast<unsigned char>(gbk[++i]);
        if (trail == 0x7F || !InRange(trail, 0x40, 0xFE) || UserDefined(lead, trail)) return false;
    }
    return true;
}

bool PrivateUse(wchar_t c) {
    return c >= 0xE000 && c <= 0xF8FF;
}

std::optional<std::wstring> Wide(UINT codePage, std::string_view bytes) {
    if (bytes.empty()) return std::wstring();
    const int size = static_cast<int>(bytes.size());
    const int n =
        MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, nullptr, 0);
    if (n <= 0) return std::nullopt;
    std::wstring wide(static_cast<size_t>(n), L'\0');
    if (MultiByteToWideChar(codePage, MB_ERR_INVALID_CHARS, bytes.data(), size, wide.data(), n) !=
        n)
        return std::nullopt;
    for (wchar_t c : wide)
        if (PrivateUse(c)) return std::nullopt;
    return wide;
}

} // namespace

std::optional<std::string> GbkDecodeStrict(std::string_view gbk) {
    if (!WellFormedGbk(gbk)) return std::nullopt;
    const std::optional<std::wstring> wide = Wide(Gbk, gbk);
    if (!wide) return std::nullopt;
    if (wide->empty()) return std::string();
    const int size = static_cast<int>(wide->size());
    const int n = WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide->data(), size, nullptr, 0,
                                      nullptr, nullptr);
    if (n <= 0) return std::nullopt;
    std::string utf8(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, WC_ERR_INVALID_CHARS, wide->data(), size, utf8.data(), n, nullptr,
                        nullptr);
    return utf8;
}

std::optional<std::string> GbkEncodeStrict(std::string_view utf8) {
    const std::optional<std::wstring> wide = Wide(CP_UTF8, utf8);
    if (!wide) return std::nullopt;
    if (wide->empty()) return std::string();
    const int size = static_cast<int>(wide->size());
    BOOL defaulted = FALSE;
    const int n = WideCharToMultiByte(Gbk, WC_NO_BEST_FIT_CHARS, wide->data(), size, nullptr, 0,
                                      nullptr, &defaulted);
    if (n <= 0 || defaulted) return std::nullopt;
    std::string gbk(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(Gbk, WC_NO_BEST_FIT_CHARS, wide->data(), size, gbk.data(), n, nullptr,
                        &defaulted);
    if (defaulted) return std::nullopt;
    return gbk;
}
