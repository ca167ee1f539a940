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
