#include "Records.h"

#include <cstdint>
#include <cstring>

PanelRecord MakeRecord(const char* identity12, std::initializer_list<int> mac,
                       std::initializer_list<int> ip, std::initializer_list<int> subnet,
                       std::initializer_list<int> gateway, std::initializer_list<int> server,
                       const char* version, int spare, int unlockTime) {
    PanelRecord r{};
    r.TypeLetter = identity12[0];
    std::memcpy(r.Address, identity12 + 1, sizeof r.Address);
    r.Facility = identity12[11];
    auto put = [](uint8_t* to, std::initializer_list<int> values) {
        for (int v : values)
            *to++ = static_cast<uint8_t>(v);
    };
    put(r.Mac, mac);
    put(r.Ip, ip);
    put(r.Subnet, subnet);
    put(r.Gateway, gateway);
    put(r.Server, server);
    std::memcpy(r.Version, version, strnlen(version, sizeof r.Version));
    r.Spare = static_cast<uint8_t>(spare);
    r.UnlockTime = static_cast<uint8_t>(unlockTime);
    return r;
}
