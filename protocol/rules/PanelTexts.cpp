#include "PanelTexts.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "GbkCodec.h"

namespace {

bool ShortAddress(const PanelRecord& r) {
    for (int at = 4; at < 10; ++at)
        if (r.Address[at] != '0') return false;
    return true;
}

// ASCII reads the same in GBK and UTF-8; most texts are, and need no converter.
bool IsAscii(std::string_view text) {
    for (const char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// A byte that is no whole GBK character shows as U+FFFD, never as nothing and never as a
// character it might stand for: the user sees that something is there, and a Write of it fails
// the checks instead of sending a changed byte.
constexpr std::string_view Replacement = "\xEF\xBF\xBD";

bool IsLead(unsigned char c) {
    return c >= 0x81 && c <= 0xFE;
}

} // namespace

std::size_t Utf8LeadLength(unsigned char lead) {
    if (lead >= 0xF0 && lead <= 0xF4) return 4;
    if (lead >= 0xE0) return lead <= 0xEF ? 3 : 1;
    if (lead >= 0xC2) return 2;
    return 1;
}

// Only a text of all ten bytes can have '0' as its 5th to 10th characters: a zero byte before
// them ends the address.
DeviceType DeviceTypeOf(const PanelRecord& r) {
    if (r.TypeLetter != 'H') return DeviceType::Help;
    const bool whole = strnlen(r.Address, sizeof r.Address) == sizeof r.Address;
    return whole && ShortAddress(r) ? DeviceType::Villa : DeviceType::Flat;
}

std::string ShownAddress(const PanelRecord& r) {
    const std::size_t length = strnlen(r.Address, sizeof r.Address);
    if (length == sizeof r.Address && ShortAddress(r)) return std::string(r.Address, 4);
    return std::string(r.Address, length);
}

std::string GbkToUtf8(std::string_view gbk) {
    if (IsAscii(gbk)) return std::string(gbk);
    // Every two-byte sequence on its own, so that the system's view of the single bytes 0x80 and
    // 0xFF (a character on some, none on others) does not matter: they are never characters.
    std::string out;
    out.reserve(gbk.size() * 2);
    for (std::size_t at = 0; at < gbk.size();) {
        const auto c = static_cast<unsigned char>(gbk[at]);
        if (c < 0x80) {
            out += char(c);
            ++at;
            continue;
        }
        if (IsLead(c) && at + 1 < gbk.size())
            if (const auto decoded = GbkDecodeStrict(gbk.substr(at, 2))) {
                out += *decoded;
                at += 2;
                continue;
            }
        out += Replacement;
        ++at;
    }
    return out;
}

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
    return GbkEncodeStrict(utf8);
}

std::string WireBytes(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
    std::string out;
    for (std::size_t at = 0; at < utf8.size();) {
        const std::size_t length = std::min(Utf8LeadLength(utf8[at]), utf8.size() - at);
        const auto encoded = GbkEncodeStrict(utf8.substr(at, length));
        out += encoded ? *encoded : "?";
        at += length;
    }
    return out;
}

std::string FieldText(const char* bytes, std::size_t size) {
    return GbkToUtf8(std::string_view(bytes, strnlen(bytes, size)));
}

std::string MacText(const MacAddress& mac) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string MacText(const uint8_t (&mac)[6]) {
    return MacText(MacOf(mac));
}

std::optional<MacAddress> ParseMac(std::string_view text) {
    if (text.size() != 17) return std::nullopt;
    MacAddress mac{};
    const char separator = text[2];
    if (separator != ':' && separator != '-') return std::nullopt;
    for (int at = 0; at < 6; ++at) {
        if (at > 0 && text[at * 3 - 1] != separator) return std::nullopt;
        unsigned value = 0;
        for (const char c : text.substr(at * 3, 2)) {
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= unsigned(c - 'A' + 10);
            else
                return std::nullopt;
        }
        mac[at] = static_cast<uint8_t>(value);
    }
    return mac;
}

std::string Ipv4Text(const uint8_t (&a)[4]) {
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", a[0], a[1], a[2], a[3]);
    return text;
}

std::optional<std::array<uint8_t, 4>> ParseIpv4(std::string_view text) {
    std::array<uint8_t, 4> out{};
    std::size_t at = 0;
    for (int part = 0; part < 4; ++part) {
        if (part > 0) {
            if (at >= text.size() || text[at] != '.') return std::nullopt;
            ++at;
        }
        int value = 0, digits = 0;
        while (at < text.size() && text[at] >= '0' && text[at] <= '9' && digits < 4) {
            value = value * 10 + (text[at] - '0');
            ++digits;
            ++at;
        }
        if (digits == 0 || digits > 3 || value > 255) return std::nullopt;
        out[part] = static_cast<uint8_t>(value);
    }
    if (at != text.size()) return std::nullopt;
    return out;
}

const char* DeviceTypeName(DeviceType t) {
    switch (t) {
    case DeviceType::Flat:
        return "flat";
    case DeviceType::Villa:
        return "villa";
    case DeviceType::Help:
        return "help";
    }
    return "help";
}

std::optional<DeviceType> ParseDeviceType(std::string_view name) {
    // Spreadsheets capitalise what they are given ("Flat").
    std::string lower(name);
    for (char& c : lower)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    for (const DeviceType t : {DeviceType::Flat, DeviceType::Help, DeviceType::Villa})
        if (lower == DeviceTypeName(t)) return t;
    return std::nullopt;
}
