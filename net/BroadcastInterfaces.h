#pragma once

#include "SocketTypes.h"

#include <vector>

// One IPv4 address of one interface, as the system lists it (one entry per address).
struct InterfaceAddress {
    unsigned Index = 0; // interface index; 0 when the name could not be resolved
    unsigned Flags = 0; // IFF_UP, IFF_RUNNING, IFF_BROADCAST, IFF_LOOPBACK, ...
    sa_family_t Family = AF_UNSPEC;
    in_addr Address{}; // network byte order
    in_addr Netmask{};
};

// Where one copy of a broadcast leaves: the interface and the computer's own address on it.
struct BroadcastRoute {
    unsigned Index = 0;
    in_addr Address{};
};

// The networks a broadcast to 255.255.255.255 must reach, one route each, in list order: every
// subnet (address AND mask) among the IPv4 addresses of interfaces that are up with a link,
// broadcast-capable and not loopback or point-to-point. Each subnet is served once, from the
// first of its addresses, on that address's interface: a second address on one cable (an alias
// in a new panel's factory subnet) is a route of its own, and a further address in a subnet
// already served is skipped, so that no panel is asked twice by one subnet.
std::vector<BroadcastRoute> BroadcastRoutes(const std::vector<InterfaceAddress>& interfaces);

// The same for the computer's interfaces as they are now; empty when none qualifies
// or the list cannot be read.
std::vector<BroadcastRoute> CurrentBroadcastRoutes();
