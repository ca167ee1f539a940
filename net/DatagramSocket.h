#pragma once

// What the endpoint needs of the system's sockets, one implementation per system:
// DatagramSocketPosix.cpp and DatagramSocketWinsock.cpp.

#include <cstdint>
#include <memory>
#include <vector>

#include "BroadcastInterfaces.h"
#include "SocketTypes.h"

// One datagram of a receive. The caller gives Data, room for Capacity bytes; the receive fills
// in the rest.
struct Arrival {
    uint8_t* Data = nullptr;
    int Capacity = 0;
    // The datagram's real length, also when it was longer than Capacity (its bytes are then cut,
    // and it must not be handed on).
    long long Length = -1;
    sockaddr_in Source{};
    // The computer's own address on the network the datagram came in by; 0 when unknown.
    in_addr Local{};
    // The system's count of datagrams dropped for a full receive buffer, as of this one; 0
    // where the system does not tell.
    uint64_t Drops = 0;
};

// An IPv4 datagram socket bound to one port on every interface, broadcast enabled, held by this
// program alone while it is open.
class DatagramSocket {
  public:
    virtual ~DatagramSocket() = default;

    // One datagram to `destination`; false when the system refused it at once.
    virtual bool SendTo(const uint8_t* data, int length, const sockaddr_in& destination) = 0;
    // One copy of the datagram per route, leaving from the route's address on its interface.
    virtual void SendOnRoutes(const uint8_t* data, int length, const sockaddr_in& destination,
                              const std::vector<BroadcastRoute>& routes) = 0;
    // Waits for one datagram, then takes what else is queued, up to `count`. Returns how many
    // arrivals it filled, or a negative number when the receive failed; fails at once after Wake.
    virtual int Receive(Arrival* arrivals, int count) = 0;
    // Ends a Receive in progress and every later one, from any thread, without blocking.
    virtual void Wake() = 0;

    // The receive buffer the system granted, in bytes as the system counts them.
    virtual int GrantedReceiveBuffer() const = 0;
    // Datagrams the system dropped so far for a full receive buffer; 0 where it cannot tell.
    virtual uint64_t DroppedSoFar() const = 0;
};

// The socket, bound to `port` with the two buffer sizes; nullptr when the system refuses it or
// another program holds the port.
std::unique_ptr<DatagramSocket> OpenDatagramSocket(int port, int sendBufferSize,
                                                   int receiveBufferSize);

// Every IPv4 address of every interface as it is now, one entry per address; empty when the
// list cannot be read.
std::vector<InterfaceAddress> CurrentInterfaceAddresses();
