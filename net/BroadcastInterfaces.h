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
    // The broadcast address of the route's subnet (Address with the host bits set).
    in_addr SubnetBroadcast{};
    // A further subnet of an interface that an earlier route already serves (an alias): a
    // limited broadcast there leaves from the interface's first address, which the system picks.
    bool Alias = false;
};

// The networks a broadcast to 255.255.255.255 must reach, one route each, in list order: every
// subnet (address AND mask) on every interface, among the IPv4 addresses of interfaces that are
// up with a link, broadcast-capable and not loopback or point-to-point. Each subnet of an
// interface is served once, from the first of its addresses there: a second address on one
// cable (an alias in a new panel's factory subnet) is a route of its own, and so is the same
// subnet number on another interface (a Wi-Fi at home and the cable alias both in
// 192.168.1.0/24 are two networks that merely share a number). A further address in a subnet
// the interface already serves is skipped, so that no panel is asked twice through one cable.
std::vector<BroadcastRoute> BroadcastRoutes(const std::vector<InterfaceAddress>& interfaces);

// Puts the routes that leave from `address` first, the others after them in their order: a
// panel's request goes first the way its reply came.
void LeadWith(std::vector<BroadcastRoute>& routes, in_addr address);

// Whether 127.0.0.1 is on an interface that is up: a datagram to it is otherwise taken and lost.
bool LoopbackUp(const std::vector<InterfaceAddress>& interfaces);

// The same for the computer's interfaces as they are now; empty when none qualifies
// or the list cannot be read.
std::vector<BroadcastRoute> CurrentBroadcastRoutes();
