#include "ArrivalAddress.h"

in_addr ArrivalAddressOn(const std::vector<InterfaceAddress>& interfaces, unsigned index,
                         in_addr destination, in_addr source) {
    const InterfaceAddress* first = nullptr;
    const InterfaceAddress* sendersSubnet = nullptr;
    for (const InterfaceAddress& a : interfaces) {
        if (a.Family != AF_INET || a.Address.s_addr == 0) continue;
        if (a.Address.s_addr == destination.s_addr) return a.Address;
        if (a.Index != index) continue;
        if (first == nullptr) first = &a;
        const in_addr_t mask = a.Netmask.s_addr;
        if (sendersSubnet == nullptr && (a.Address.s_addr & mask) == (source.s_addr & mask))
            sendersSubnet = &a;
    }
    if (sendersSubnet != nullptr) return sendersSubnet->Address;
    return first != nullptr ? first->Address : in_addr{};
}
