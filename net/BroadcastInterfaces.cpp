#include "BroadcastInterfaces.h"

#include "DatagramSocket.h"

#include <algorithm>

namespace {

struct Subnet {
    in_addr_t Network;
    in_addr_t Mask;
    bool operator==(const Subnet&) const = default;
};

bool Usable(const InterfaceAddress& a) {
    // IFF_RUNNING: a port without carrier takes the datagram and drops it, and would then
    // stand for its subnet in place of a port that works.
    constexpr unsigned Needed = IFF_UP | IFF_RUNNING | IFF_BROADCAST;
    return a.Family == AF_INET && a.Index != 0 && (a.Flags & Needed) == Needed &&
           (a.Flags & (IFF_LOOPBACK | IFF_POINTOPOINT)) == 0 && a.Address.s_addr != 0;
}

} // namespace

std::vector<BroadcastRoute> BroadcastRoutes(const std::vector<InterfaceAddress>& interfaces) {
    std::vector<BroadcastRoute> routes;
    std::vector<Subnet> served;
    for (const InterfaceAddress& a : interfaces) {
        if (!Usable(a)) continue;
        const Subnet subnet{a.Address.s_addr & a.Netmask.s_addr, a.Netmask.s_addr};
        if (std::find(served.begin(), served.end(), subnet) != served.end()) continue;
        served.push_back(subnet);
        routes.push_back({a.Index, a.Address});
    }
    return routes;
}

std::vector<BroadcastRoute> CurrentBroadcastRoutes() {
    return BroadcastRoutes(CurrentInterfaceAddresses());
}
