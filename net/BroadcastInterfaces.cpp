#include "BroadcastInterfaces.h"

#include "DatagramSocket.h"

#include <algorithm>

namespace {

struct InterfaceSubnet {
    unsigned Index;
    in_addr_t Network;
    in_addr_t Mask;
    bool operator==(const InterfaceSubnet&) const = default;
};

bool Usable(const InterfaceAddress& a) {
    // IFF_RUNNING is required because a port without carrier takes the datagram and drops it;
    // such a port would then stand for its subnet in place of a port that works.
    constexpr unsigned Needed = IFF_UP | IFF_RUNNING | IFF_BROADCAST;
    return a.Family == AF_INET && a.Index != 0 && (a.Flags & Needed) == Needed &&
           (a.Flags & (IFF_LOOPBACK | IFF_POINTOPOINT)) == 0 && a.Address.s_addr != 0;
}

} // namespace

std::vector<BroadcastRoute> BroadcastRoutes(const std::vector<InterfaceAddress>& interfaces) {
    std::vector<BroadcastRoute> routes;
    std::vector<InterfaceSubnet> served;
    for (const InterfaceAddress& a : interfaces) {
        if (!Usable(a)) continue;
        const InterfaceSubnet subnet{a.Index, a.Address.s_addr & a.Netmask.s_addr,
                                     a.Netmask.s_addr};
        if (std::find(served.begin(), served.end(), subnet) != served.end()) continue;
        const bool alias = std::any_of(served.begin(), served.end(), [&](const InterfaceSubnet& s) {
            return s.Index == a.Index;
        });
        served.push_back(subnet);
        in_addr broadcast{};
        broadcast.s_addr = a.Address.s_addr | ~a.Netmask.s_addr;
        routes.push_back({a.Index, a.Address, broadcast, alias});
    }
    return routes;
}

void LeadWith(std::vector<BroadcastRoute>& routes, in_addr address) {
    std::stable_partition(routes.begin(), routes.end(), [&](const BroadcastRoute& r) {
        return r.Address.s_addr == address.s_addr;
    });
}

bool LoopbackUp(const std::vector<InterfaceAddress>& interfaces) {
    return std::any_of(interfaces.begin(), interfaces.end(), [](const InterfaceAddress& a) {
        return a.Family == AF_INET && a.Address.s_addr == htonl(INADDR_LOOPBACK) &&
               (a.Flags & IFF_UP) != 0;
    });
}

std::vector<BroadcastRoute> CurrentBroadcastRoutes() {
    return BroadcastRoutes(CurrentInterfaceAddresses());
}
