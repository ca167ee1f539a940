#include "Records.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace {

// Fills a field from a list; never past the field, whatever the list's length.
template <size_t N> void Put(uint8_t (&field)[N], std::initializer_list<int> values) {
    size_t at = 0;
    for (int v : values) {
        if (at == N) break;
        field[at++] = static_cast<uint8_t>(v);
    }
}

} // namespace

PanelRecord MakeRecord(const char* identity12, std::initializer_list<int> mac,
                       std::initializer_list<int> ip, std::initializer_list<int> subnet,
                       std::initializer_list<int> gateway, std::initializer_list<int> server,
                       const char* version, int spare, int unlockTime) {
    PanelRecord r{};
    r.TypeLetter = identity12[0];
    std::memcpy(r.Address, identity12 + 1, sizeof r.Address);
    r.Facility = identity12[11];
    Put(r.Mac, mac);
    Put(r.Ip, ip);
    Put(r.Subnet, subnet);
    Put(r.Gateway, gateway);
    Put(r.Server, server);
    std::memcpy(r.Version, version, strnlen(version, sizeof r.Version));
    r.Spare = static_cast<uint8_t>(spare);
    r.UnlockTime = static_cast<uint8_t>(unlockTime);
    return r;
}

std::vector<UnusualPanel> UnusualPanels() {
    const auto panel = [](const char* identity12, int unlock, int makerByte = 0x50) {
        return MakeRecord(identity12, {0x00, makerByte, 0x2A, 0x0D, 0x00, 0x07}, {10, 200, 13, 7},
                          {255, 255, 255, 0}, {10, 200, 13, 1}, {10, 200, 13, 2}, "V3", 0, unlock);
    };
    return {
        {"flat, four digits and zero bytes", panel("H1234\0\0\0\0\0\0"
                                                   "1",
                                                   5)},
        {"villa, four digits and six 0", panel("H12340000001", 5)},
        {"type letter X", panel("X98765432100", 5)},
        {"facility byte zero", panel("H0102030405\0", 5)},
        {"address bytes no GBK character", panel("H12345678\x80\xFF"
                                                 "1",
                                                 5)},
        {"unlock 0", panel("H01020304051", 0)},
        {"unlock 12", panel("H01020304051", 12)},
        {"unlock 255", panel("H01020304051", 255)},
        {"another maker's MAC", panel("H01020304051", 5, 0x11)},
        {"help station, 0102 and zero bytes", panel("P0102\0\0\0\0\0\0"
                                                    "0",
                                                    5)},
    };
}

std::string NewBlock(const PanelRecord& r) {
    std::string block(&r.TypeLetter, 12);
    block.append(8, '\0');
    for (const auto* field : {r.Mac + 0, r.Ip + 0, r.Subnet + 0, r.Gateway + 0, r.Server + 0})
        block.append(reinterpret_cast<const char*>(field), field == r.Mac ? 6 : 4);
    block += '\0'; // spare byte
    block += static_cast<char>(r.UnlockTime);
    return block;
}
