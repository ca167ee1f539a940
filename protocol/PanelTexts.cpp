#include "PanelTexts.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iconv.h>

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

// One conversion descriptor per call: iconv keeps shift state, and the callers are on
// different threads.
class Iconv {
  public:
    Iconv(const char* to, const char* from) : Cd(iconv_open(to, from)) {}
    ~Iconv() {
        if (Valid()) iconv_close(Cd);
    }
    Iconv(const Iconv&) = delete;
    Iconv& operator=(const Iconv&) = delete;
    bool Valid() const { return Cd != reinterpret_cast<iconv_t>(-1); }

    // Converts as much as it can; returns false at the first sequence it cannot convert, with
    // `in` left at that sequence.
    bool Convert(std::string_view& in, std::string& out) {
        char buffer[256];
        while (!in.empty()) {
            char* from = const_cast<char*>(in.data());
            std::size_t fromLeft = in.size();
            char* to = buffer;
            std::size_t toLeft = sizeof buffer;
            const std::size_t done = iconv(Cd, &from, &fromLeft, &to, &toLeft);
            const int error = errno;
            out.append(buffer, sizeof buffer - toLeft);
            in.remove_prefix(in.size() - fromLeft);
            if (done == static_cast<std::size_t>(-1) && error != E2BIG) return false;
        }
        return true;
    }

  private:
    iconv_t Cd;
};

} // namespace

DeviceType DeviceTypeOf(const PanelRecord& r) {
    if (r.TypeLetter != 'H') return DeviceType::Help;
    return ShortAddress(r) ? DeviceType::Villa : DeviceType::Flat;
}

std::string ShownAddress(const PanelRecord& r) {
    const std::size_t length = strnlen(r.Address, sizeof r.Address);
    if (length == sizeof r.Address && ShortAddress(r)) return std::string(r.Address, 4);
    return std::string(r.Address, length);
}

std::string GbkToUtf8(std::string_view gbk) {
    if (IsAscii(gbk)) return std::string(gbk);
    std::string out;
    Iconv cd("UTF-8", "GBK");
    if (!cd.Valid()) { // no GBK tables: keep ASCII, mark the rest
        for (const char c : gbk)
            out += IsAscii(std::string_view(&c, 1)) ? c : '?';
        return out;
    }
    while (!cd.Convert(gbk, out)) {
        out += '?';
        gbk.remove_prefix(1);
    }
    return out;
}

std::optional<std::string> Utf8ToGbk(std::string_view utf8) {
    if (IsAscii(utf8)) return std::string(utf8);
    std::string out;
    Iconv cd("GBK", "UTF-8");
    if (!cd.Valid()) return std::nullopt;
    if (!cd.Convert(utf8, out)) return std::nullopt;
    return out;
}

std::string FieldText(const char* bytes, std::size_t size) {
    return GbkToUtf8(std::string_view(bytes, strnlen(bytes, size)));
}

std::string MacText(const uint8_t (&mac)[6]) {
    char text[18];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
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
    for (const DeviceType t : {DeviceType::Flat, DeviceType::Help, DeviceType::Villa})
        if (name == DeviceTypeName(t)) return t;
    return std::nullopt;
}
