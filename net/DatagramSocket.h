#pragma once

// What the endpoint needs of the system's sockets, one implementation per system:
// DatagramSocketPosix.cpp and DatagramSocketWinsock.cpp.

#include <cstdint>
#include <memory>
#include <vector>

#include "BroadcastInterfaces.h"
#include "SocketTypes.h"

// One datagram as the receive found it.
struct Arrival {
    // The datagram's real length, also when it was longer than the buffer (its bytes are then
    // cut, and it must not be handed on); negative when the receive failed or was woken.
    long long Length = -1;
    sockaddr_in Source{};
    // The computer's own address on the network the datagram came in by; 0 when unknown.
    in_addr Local{};
};

// An IPv4 datagram socket bound to one port on every interface, broadcast enabled, held by this
// program alone while it is open.
class DatagramSocket {
  public:
    virtual ~DatagramSocket() = default;

    // One datagram to `destination`.
    virtual void SendTo(const uint8_t* data, int length, const sockaddr_in& destination) = 0;
    // One copy of the datagram per route, leaving from the route's address on its interface.
    virtual void SendOnRoutes(const uint8_t* data, int length, const sockaddr_in& destination,
                              const std::vector<BroadcastRoute>& routes) = 0;
    // Waits for the next datagram; returns a failure at once after Wake.
    virtual Arrival Receive(uint8_t* buffer, int capacity) = 0;
    // Ends a Receive in progress and every later one, from any thread, without blocking.
    virtual void Wake() = 0;
};

// The socket, bound to `port` with the two buffer sizes; nullptr when the system refuses it or
// another program holds the port.
std::unique_ptr<DatagramSocket> OpenDatagramSocket(int port, int sendBufferSize,
                                                   int receiveBufferSize);

// Every IPv4 address of every interface as it is now, one entry per address; empty when the
// list cannot be read.
std::vector<InterfaceAddress> CurrentInterfaceAddresses();
