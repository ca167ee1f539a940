#include "Udpr.h"

#include "BroadcastInterfaces.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <system_error>
#include <vector>

namespace {

// Lets Close and the destructor know when they run on the receiver thread (from the handler).
thread_local const TUDPR* ReceiverOf = nullptr;

// The tool's address on the network a datagram came in by: spec_dst, the local address that
// answers the sender there; the header's destination only when that is missing (for a
// broadcast it is 255.255.255.255 and names no network).
in_addr ArrivalAddress(msghdr& message) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
        in_pktinfo info;
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        return info.ipi_spec_dst.s_addr != 0 ? info.ipi_spec_dst : info.ipi_addr;
    }
    return in_addr{};
}

// Room for the one IP_PKTINFO a datagram carries, each way.
struct PacketInfoSpace {
    alignas(cmsghdr) char Bytes[CMSG_SPACE(sizeof(in_pktinfo))] = {};
};

// A one-part datagram to or from `address`, with room for its IP_PKTINFO.
msghdr OnePartMessage(sockaddr_in& address, iovec& part, PacketInfoSpace& control) {
    msghdr message{};
    message.msg_name = &address;
    message.msg_namelen = sizeof address;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control.Bytes;
    message.msg_controllen = sizeof control.Bytes;
    return message;
}

} // namespace

TUDPR::~TUDPR() {
    Close();
    if (Receiver.joinable()) {
        if (ReceiverOf == this)
            Receiver.detach();
        else
            Receiver.join();
    }
}

bool TUDPR::Open() {
    {
        std::lock_guard<std::mutex> guard(SocketLock);
        if (Socket != NoSocket) return false;
    }
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        Running = 0;
        return false;
    }
    {
        std::lock_guard<std::mutex> guard(SocketLock);
        Socket = fd;
    }

    // The results of the options are not looked at: a refused size leaves the default.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &SendBufferSize, sizeof SendBufferSize);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &ReceiveBufferSize, sizeof ReceiveBufferSize);
    // Tells the receiver which of the computer's networks each datagram came in by.
    setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<uint16_t>(LocalPort));
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) {
        Close();
        return false;
    }

    // Set here rather than by the thread, so that a Close before the thread runs still stops it.
    Running = 1;
    try {
        Receiver = std::thread(&TUDPR::ReceiverThread, this);
    } catch (const std::system_error&) {
        Running = 0;
        std::fputs("无法UDP接收线程\n", stdout);
        std::fflush(stdout);
        return false;
    }
    return true;
}

int TUDPR::Send(const uint8_t* data, int length) {
    ConvertedRemoteAddress = inet_addr(RemoteAddress.c_str());
    Destination = sockaddr_in{};
    Destination.sin_family = AF_INET;
    Destination.sin_port = htons(static_cast<uint16_t>(RemotePort));
    Destination.sin_addr.s_addr = ConvertedRemoteAddress;
    const int n = std::max(length, MinSendLength);

    // The limited broadcast follows the routing table to one interface, or fails without a
    // default route; so it goes out on every network the computer is on, named per datagram.
    const bool broadcast = ConvertedRemoteAddress == htonl(INADDR_BROADCAST);
    const std::vector<BroadcastRoute> routes =
        broadcast ? CurrentBroadcastRoutes() : std::vector<BroadcastRoute>{};

    // Held across the sends so that Close never closes the descriptor under a send in progress
    // (the number could be reused by another file at once).
    std::lock_guard<std::mutex> guard(SocketLock);
    if (Socket == NoSocket) return 0;
    if (!broadcast) {
        sendto(Socket, data, static_cast<size_t>(n), 0,
               reinterpret_cast<const sockaddr*>(&Destination), sizeof Destination);
        return 0;
    }
    for (const BroadcastRoute& route : routes) {
        iovec part{const_cast<uint8_t*>(data), static_cast<size_t>(n)};
        PacketInfoSpace control;
        msghdr message = OnePartMessage(Destination, part, control);
        cmsghdr* c = CMSG_FIRSTHDR(&message);
        c->cmsg_level = IPPROTO_IP;
        c->cmsg_type = IP_PKTINFO;
        c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
        in_pktinfo info{};
        info.ipi_ifindex = static_cast<int>(route.Index);
        info.ipi_spec_dst = route.Address;
        std::memcpy(CMSG_DATA(c), &info, sizeof info);
        sendmsg(Socket, &message, 0);
    }
    return 0;
}

bool TUDPR::Close() {
    int fd;
    {
        std::lock_guard<std::mutex> guard(SocketLock);
        fd = Socket;
        Socket = NoSocket;
    }
    if (fd == NoSocket) return false;
    Running = 0;
    // Wakes a receiver blocked in recvfrom; later receives return 0 at once. Only the read side,
    // so that a send racing with the close cannot fail with EPIPE.
    shutdown(fd, SHUT_RD);
    if (ReceiverOf != this && Receiver.joinable()) Receiver.join();
    close(fd);
    return true;
}

void TUDPR::ReceiverThread() {
    ReceiverOf = this;
    int fd;
    {
        std::lock_guard<std::mutex> guard(SocketLock);
        fd = Socket;
    }
    if (fd == NoSocket) return;

    uint8_t buffer[MaxReceiveLength + 1];
    PacketInfoSpace control;
    while (Running == 1) {
        sockaddr_in source{};
        iovec part{buffer, MaxReceiveLength};
        msghdr message = OnePartMessage(source, part, control);
        // MSG_TRUNC makes recvmsg report the datagram's real length, so an oversized one is seen.
        const ssize_t result = recvmsg(fd, &message, MSG_TRUNC);
        inet_ntop(AF_INET, &source.sin_addr, SourceAddress, sizeof SourceAddress);
        SourcePort = ntohs(source.sin_port);
        in_addr local{};
        if (result >= 0) local = ArrivalAddress(message);
        inet_ntop(AF_INET, &local, LocalAddress, sizeof LocalAddress);
        if (Running == 0) break;
        if (!AcceptDatagramLength(result)) continue; // never hand on a truncated part
        const int length = static_cast<int>(result);
        buffer[length] = 0;
        if (LocalPort == DispatchPort && Handler != nullptr)
            Handler->Dispatch(SourceAddress, SourcePort, buffer, length);
    }
}
