#include "DatagramSocket.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <linux/sock_diag.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

namespace {

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
int ReceiveBufferOf(int fd) {
    int granted = 0;
    socklen_t size = sizeof granted;
    if (getsockopt(fd, SOL_SOCKET, SO_RCVBUF, &granted, &size) != 0) return 0;
    return granted / 2;
}

// Room for the IP_PKTINFO a datagram carries each way, and the drop count it carries in.
struct PacketInfoSpace {
    alignas(cmsghdr) char Bytes[CMSG_SPACE(sizeof(in_pktinfo)) + CMSG_SPACE(sizeof(uint32_t))] = {};
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

class PosixSocket final : public DatagramSocket {
  public:
    explicit PosixSocket(int fd) : Fd(fd) {}
    ~PosixSocket() override { close(Fd); }
    PosixSocket(const PosixSocket&) = delete;
    PosixSocket& operator=(const PosixSocket&) = delete;

    bool SendTo(const uint8_t* data, int length, const sockaddr_in& destination) override {
        return sendto(Fd, data, static_cast<size_t>(length), 0,
                      reinterpret_cast<const sockaddr*>(&destination), sizeof destination) >= 0;
    }

    void SendOnRoutes(const uint8_t* data, int length, const sockaddr_in& destination,
                      const std::vector<BroadcastRoute>& routes) override {
        sockaddr_in to = destination;
        for (const BroadcastRoute& route : routes) {
            iovec part{const_cast<uint8_t*>(data), static_cast<size_t>(length)};
            PacketInfoSpace control;
            msghdr message = OnePartMessage(to, part, control);
            message.msg_controllen = CMSG_SPACE(sizeof(in_pktinfo)); // the packet info alone
            cmsghdr* c = CMSG_FIRSTHDR(&message);
            c->cmsg_level = IPPROTO_IP;
            c->cmsg_type = IP_PKTINFO;
            c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
            in_pktinfo info{};
            info.ipi_ifindex = static_cast<int>(route.Index);
            info.ipi_spec_dst = route.Address;
            std::memcpy(CMSG_DATA(c), &info, sizeof info);
            sendmsg(Fd, &message, 0);
        }
    }

    int Receive(Arrival* arrivals, int count) override {
        count = std::min(count, MaxBatch);
        for (int i = 0; i < count; ++i) {
            arrivals[i].Source = sockaddr_in{};
            Parts[i] = iovec{arrivals[i].Data, static_cast<size_t>(arrivals[i].Capacity)};
            Batch[i].msg_hdr = OnePartMessage(arrivals[i].Source, Parts[i], Controls[i]);
            Batch[i].msg_len = 0;
        }
        // MSG_TRUNC reports each datagram's real length, so an oversized one is seen.
        const int received = recvmmsg(Fd, Batch, count, MSG_WAITFORONE | MSG_TRUNC, nullptr);
        for (int i = 0; i < received; ++i) {
            arrivals[i].Length = Batch[i].msg_len;
            arrivals[i].Local = ArrivalAddress(Batch[i].msg_hdr);
            arrivals[i].Drops = DropCount(Batch[i].msg_hdr);
        }
        return received;
    }

    // Wakes a receiver blocked in recvmsg; later receives return 0 at once. Only the read side,
    // so that a send racing with the close cannot fail with EPIPE.
    void Wake() override { shutdown(Fd, SHUT_RD); }

    int GrantedReceiveBuffer() const override { return ReceiveBufferOf(Fd); }

    // The live count also covers drops that no later datagram has reported yet.
    uint64_t DroppedSoFar() const override {
        uint32_t info[SK_MEMINFO_VARS] = {};
        socklen_t size = sizeof info;
        if (getsockopt(Fd, SOL_SOCKET, SO_MEMINFO, info, &size) == 0 &&
            size > SK_MEMINFO_DROPS * sizeof info[0])
            return info[SK_MEMINFO_DROPS];
        return 0;
    }

  private:
    // Datagrams taken off the socket with one call: a thousand panels answer a search at once.
    static constexpr int MaxBatch = 32;

    const int Fd;
    // Only the receiver thread uses these, so they need no lock.
    iovec Parts[MaxBatch];
    PacketInfoSpace Controls[MaxBatch];
    mmsghdr Batch[MaxBatch];
};

} // namespace

std::unique_ptr<DatagramSocket> OpenDatagramSocket(int port, int sendBufferSize,
                                                   int receiveBufferSize) {
    const int fd = socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) return nullptr;
    auto socket = std::make_unique<PosixSocket>(fd);

    // The results of the options are not looked at: a refused size leaves the default.
    const int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &sendBufferSize, sizeof sendBufferSize);
    setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &receiveBufferSize, sizeof receiveBufferSize);
    // Beyond net.core.rmem_max only with CAP_NET_ADMIN; otherwise the capped size stays.
    if (ReceiveBufferOf(fd) < receiveBufferSize)
        setsockopt(fd, SOL_SOCKET, SO_RCVBUFFORCE, &receiveBufferSize, sizeof receiveBufferSize);
    // Each datagram then carries the count of those dropped for a full buffer before it.
    setsockopt(fd, SOL_SOCKET, SO_RXQ_OVFL, &on, sizeof on);
    // Tells the receiver which of the computer's networks each datagram came in by.
    setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &on, sizeof on);

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return nullptr;
    return socket;
}

std::vector<InterfaceAddress> CurrentInterfaceAddresses() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return {};
    std::vector<InterfaceAddress> interfaces;
    for (const ifaddrs* a = list; a != nullptr; a = a->ifa_next) {
        InterfaceAddress entry;
        entry.Index = if_nametoindex(a->ifa_name);
        entry.Flags = a->ifa_flags;
        if (a->ifa_addr != nullptr) entry.Family = a->ifa_addr->sa_family;
        if (entry.Family == AF_INET) {
            entry.Address = reinterpret_cast<const sockaddr_in*>(a->ifa_addr)->sin_addr;
            if (a->ifa_netmask != nullptr)
                entry.Netmask = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask)->sin_addr;
        }
        interfaces.push_back(entry);
    }
    freeifaddrs(list);
    return interfaces;
}
