#include "Udpr.h"

#include "BroadcastInterfaces.h"

#include <arpa/inet.h>
#include <linux/sock_diag.h>
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

// The system's drop count as of a datagram (SO_RXQ_OVFL), or 0 when it carried none.
uint64_t DropCount(msghdr& message) {
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != SOL_SOCKET || c->cmsg_type != SO_RXQ_OVFL) continue;
        uint32_t drops = 0;
        std::memcpy(&drops, CMSG_DATA(c), sizeof drops);
        return drops;
    }
    return 0;
}

// Linux reports a receive buffer at twice the size asked for (its own bookkeeping).
int GrantedReceiveBuffer(int fd) {
    int granted = 0;
    socklen_t size = sizeof granted;
    if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &size) != 0) return 0;
    return granted / 2;
}

// Room for the IP_PKTINFO a datagram carries each way, and the drop count it carries in.
struct PacketInfoSpace {
    alignas(cmsghdr) char Bytes[CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(uint32_t))] = {};
};

// Datagrams taken off the socket with one call: a thousand panels answer a search at once.
constexpr int ReceiveBatch = 32;

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
    // Beyond net.core.rmem_max only with CAP_NET_ADMIN; otherwise the capped size stays.
    if (GrantedReceiveBuffer(fd) < ReceiveBufferSize)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &ReceiveBufferSize, sizeof ReceiveBufferSize);
    ObtainedReceiveBuffer = GrantedReceiveBuffer(fd);
    // Each datagram then carries the count of those dropped for a full buffer before it.
    setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
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
        message.msg_controllen = CMSG_SPACE(sizeof(in_pktinfo)); // the packet info alone
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

uint64_t TUDPR::DroppedDatagrams() const {
    uint64_t dropped = DropsSeen.load();
    // The live count also covers drops that no later datagram has reported yet.
    std::lock_guard<std::mutex> guard(SocketLock);
    if (Socket == NoSocket) return dropped;
    uint32_t info[SK_MEMINFO_VARS] = {};
    socklen_t size = sizeof info;
    if (getsockopt(Socket, SOL_SOCKET, SO_MEMINFO, info, &size) == 0 &&
        size > SK_MEMINFO_DROPS * sizeof info[0])
        dropped = std::max<uint64_t>(dropped, info[SK_MEMINFO_DROPS]);
    return dropped;
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

    // One slot per datagram of a batch, each with room for the zero after the longest.
    std::vector<uint8_t> buffers(static_cast<size_t>(ReceiveBatch) * (MaxReceiveLength + 1));
    std::vector<sockaddr_in> sources(ReceiveBatch);
    std::vector<iovec> parts(ReceiveBatch);
    std::vector<PacketInfoSpace> controls(ReceiveBatch);
    std::vector<mmsghdr> batch(ReceiveBatch);
    while (Running == 1) {
        for (int i = 0; i < ReceiveBatch; ++i) {
            sources[i] = sockaddr_in{};
            parts[i] =
                iovec{&buffers[static_cast<size_t>(i) * (MaxReceiveLength + 1)], MaxReceiveLength};
            batch[i].msg_hdr = OnePartMessage(sources[i], parts[i], controls[i]);
            batch[i].msg_len = 0;
        }
        // Waits for one datagram, then takes what else is queued. MSG_TRUNC reports each
        // datagram's real length, so an oversized one is seen.
        const int received =
            recvmmsg(fd, batch.data(), ReceiveBatch, MSG_WAITFORONE | MSG_TRUNC, nullptr);
        if (received < 0) {
            inet_ntop(AF_INET, &sources[0].sin_addr, SourceAddress, sizeof SourceAddress);
            SourcePort = 0;
            if (Running == 0) break;
            continue;
        }
        for (int i = 0; i < received; ++i) {
            msghdr& message = batch[i].msg_hdr;
            inet_ntop(AF_INET, &sources[i].sin_addr, SourceAddress, sizeof SourceAddress);
            SourcePort = ntohs(sources[i].sin_port);
            const in_addr local = ArrivalAddress(message);
            inet_ntop(AF_INET, &local, LocalAddress, sizeof LocalAddress);
            const uint64_t drops = DropCount(message);
            if (drops > DropsSeen.load()) DropsSeen = drops;
            if (Running == 0) break;
            const ssize_t length = batch[i].msg_len;
            if (!AcceptDatagramLength(length)) continue; // never hand on a truncated part
            uint8_t* data = static_cast<uint8_t*>(parts[i].iov_base);
            data[length] = 0;
            if (LocalPort == DispatchPort && Handler != nullptr)
                Handler->Dispatch(SourceAddress, SourcePort, data, static_cast<int>(length));
        }
    }
}
