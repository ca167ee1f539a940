#pragma once

#include <vector>

#include "BroadcastInterfaces.h"

// The computer's own address on the network a datagram came in by, from what the receive tells
// of it where there is no local address to read (Windows' packet info has only the destination
// and the interface index): the destination when it is one of the computer's own addresses,
// else the address on interface `index` whose subnet holds the sender, else that interface's
// first IPv4 address; 0 when the interface is not in the list.
in_addr ArrivalAddressOn(const std::vector<InterfaceAddress>& interfaces, unsigned index,
                         in_addr destination, in_addr source);
