#include "ComputerAddresses.h"

#include <cstring>

#include "DatagramSocket.h"

std::vector<Ipv4Bytes> ComputerAddresses() {
    std::vector<Ipv4Bytes> addresses;
    for (const InterfaceAddress& a : CurrentInterfaceAddresses()) {
        if (a.Family != AF_INET) continue;
        Ipv4Bytes bytes;
        std::memcpy(bytes.data(), &a.Address, 4); // network byte order: first octet first
        addresses.push_back(bytes);
    }
    return addresses;
}
