#include "ComputerAddresses.h"

#include <cstring>

#include "DatagramSocket.h"

std::vector<std::array<std::uint8_t, 4>> ComputerAddresses() {
    std::vector<std::array<std::uint8_t, 4>> addresses;
    for (const InterfaceAddress& a : CurrentInterfaceAddresses()) {
        if (a.Family != AF_INET) continue;
        std::array<std::uint8_t, 4> bytes;
        std::memcpy(bytes.data(), &a.Address, 4); // network byte order: first octet first
        addresses.push_back(bytes);
    }
    return addresses;
}
