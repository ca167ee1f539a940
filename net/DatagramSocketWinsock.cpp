#include "DatagramSocket.h"

#include "ArrivalAddress.h"

#include <iphlpapi.h>
#include <mswsock.h>

#include <cstring>

namespace {

constexpr ULONG AdapterFlags =
    GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;

in_addr MaskOfPrefix(unsigned length) {
    in_addr mask{};
    mask.s_addr = length == 0 ? 0 : htonl(length >= 32 ? 0xFFFFFFFFu : ~(0xFFFFFFFFu >> length));
    return mask;
}

// The adapter's state and type as the flags of the POSIX list, which the shared rule reads.
unsigned FlagsOf(const IP_ADAPTER_ADDRESSES& adapter) {
    unsigned flags = 0;
    if (adapter.OperStatus == IfOperStatusUp) flags |= IFF_UP | IFF_RUNNING;
    switch (adapter.IfType) {
    case IF_TYPE_SOFTWARE_LOOPBACK:
        flags |= IFF_LOOPBACK;
        break;
    case IF_TYPE_PPP:
    case IF_TYPE_TUNNEL:
        flags |= IFF_POINTOPOINT;
        break;
    default:
        if ((adapter.Flags & IP_ADAPTER_RECEIVE_ONLY) == 0) flags |= IFF_BROADCAST;
    }
    return flags;
}

LPFN_WSARECVMSG RecvMsgOf(SOCKET s) {
    GUID id = WSAID_WSARECVMSG;
    LPFN_WSARECVMSG function = nullptr;
    DWORD bytes = 0;
    if (WSAIoctl(s, SIO_GET_EXTENSION_FUNCTION_POINTER, &id, sizeof id, &function, sizeof function,
                 &bytes, nullptr, nullptr) != 0)
        return nullptr;
    return function;
}

class WinsockSocket final : public DatagramSocket {
  public:
    // Takes over one WSAStartup, released with the socket.
    explicit WinsockSocket(SOCKET s)
        : Socket(s), Readable(WSACreateEvent()), Stop(WSACreateEvent()) {}
    ~WinsockSocket() override {
        closesocket(Socket);
        WSACloseEvent(Readable);
        WSACloseEvent(Stop);
        WSACleanup();
    }
    WinsockSocket(const WinsockSocket&) = delete;
    WinsockSocket& operator=(const WinsockSocket&) = delete;

    // Receives without blocking, waiting on the socket's event and the stop event instead, so
    // that Wake ends a receive without closing the socket under it.
    bool Prepare() {
        RecvMsg = RecvMsgOf(Socket);
        return RecvMsg != nullptr && Readable != WSA_INVALID_EVENT && Stop != WSA_INVALID_EVENT &&
               WSAEventSelect(Socket, Readable, FD_READ) == 0;
    }

    bool SendTo(const uint8_t* data, int length, const sockaddr_in& destination) override {
        return sendto(Socket, reinterpret_cast<const char*>(data), length, 0,
                      reinterpret_cast<const sockaddr*>(&destination),
                      sizeof destination) != SOCKET_ERROR;
    }

    // Every copy leaves from the one socket, so from port 8300 like the window's, and the
    // interface is named per copy (IP_UNICAST_IF, which Winsock also applies to broadcasts).
    // An alias's copy goes to its subnet's broadcast address, so that the system sends it from
    // the alias, the one address a new panel on its factory subnet can answer.
    void SendOnRoutes(const uint8_t* data, int length, const sockaddr_in& destination,
                      const std::vector<BroadcastRoute>& routes) override {
        for (const BroadcastRoute& route : routes) {
            const DWORD index = htonl(route.Index); // network byte order, as the option wants
            if (setsockopt(Socket, IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&index),
                           sizeof index) != 0)
                continue; // it would leave by the routing table, perhaps on another network
            sockaddr_in to = destination;
            if (route.Alias) to.sin_addr = route.SubnetBroadcast;
            sendto(Socket, reinterpret_cast<const char*>(data), length, 0,
                   reinterpret_cast<const sockaddr*>(&to), sizeof to);
        }
        // Other sends (the settle mark to loopback) follow the routing table again.
        const DWORD any = 0;
        setsockopt(Socket, IPPROTO_IP, IP_UNICAST_IF, reinterpret_cast<const char*>(&any),
                   sizeof any);
    }

    // One datagram a call: Winsock has no batch receive.
    int Receive(Arrival* arrivals, int count) override {
        if (count < 1) return -1;
        Arrival& arrival = arrivals[0];
        arrival.Source = sockaddr_in{};
        const int capacity = arrival.Capacity;
        for (;;) {
            if (WSAWaitForMultipleEvents(1, &Stop, FALSE, 0, FALSE) == WSA_WAIT_EVENT_0) return -1;
            WSABUF part{static_cast<ULONG>(capacity), reinterpret_cast<char*>(arrival.Data)};
            alignas(WSACMSGHDR) char control[WSA_CMSG_SPACE(sizeof(IN_PKTINFO))] = {};
            WSAMSG message{};
            message.name = reinterpret_cast<sockaddr*>(&arrival.Source);
            message.namelen = sizeof arrival.Source;
            message.lpBuffers = &part;
            message.dwBufferCount = 1;
            message.Control = {sizeof control, control};
            DWORD received = 0;
            if (RecvMsg(Socket, &message, &received, nullptr, nullptr) == 0) {
                // A cut datagram: its real length is not told, only that it did not fit.
                arrival.Length = (message.dwFlags & MSG_TRUNC) != 0 ? capacity + 1LL : received;
                arrival.Local = LocalOf(message, arrival.Source.sin_addr);
                return 1;
            }
            const int error = WSAGetLastError();
            if (error == WSAEMSGSIZE) {
                arrival.Length = capacity + 1LL;
                return 1;
            }
            if (error != WSAEWOULDBLOCK) return -1;
            WSAEVENT events[2] = {Stop, Readable};
            if (WSAWaitForMultipleEvents(2, events, FALSE, WSA_INFINITE, FALSE) !=
                WSA_WAIT_EVENT_0 + 1)
                return -1;
            WSANETWORKEVENTS happened{};
            WSAEnumNetworkEvents(Socket, Readable, &happened); // resets the event
        }
    }

    void Wake() override { WSASetEvent(Stop); }

    int GrantedReceiveBuffer() const override {
        int granted = 0;
        int size = sizeof granted;
        if (getsockopt(Socket, SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&granted), &size) !=
            0)
            return 0;
        return granted;
    }

    // Winsock keeps no such count.
    uint64_t DroppedSoFar() const override { return 0; }

  private:
    // Packet info names the interface only: the address is looked up in the list, read again
    // when the interface is new (an adapter that came up after the start).
    in_addr LocalOf(WSAMSG& message, in_addr source) {
        for (WSACMSGHDR* c = WSA_CMSG_FIRSTHDR(&message); c != nullptr;
             c = WSA_CMSG_NXTHDR(&message, c)) {
            if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
            IN_PKTINFO info;
            std::memcpy(&info, WSA_CMSG_DATA(c), sizeof info);
            in_addr local = ArrivalAddressOn(Interfaces, info.ipi_ifindex, info.ipi_addr, source);
            if (local.s_addr == 0) {
                Interfaces = CurrentInterfaceAddresses();
                local = ArrivalAddressOn(Interfaces, info.ipi_ifindex, info.ipi_addr, source);
            }
            return local;
        }
        return in_addr{};
    }

    const SOCKET Socket;
    WSAEVENT Readable;
    WSAEVENT Stop;
    LPFN_WSARECVMSG RecvMsg = nullptr;
    std::vector<InterfaceAddress> Interfaces; // receiver thread only
};

} // namespace

std::unique_ptr<DatagramSocket> OpenDatagramSocket(int port, int sendBufferSize,
                                                   int receiveBufferSize) {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return nullptr;
    const SOCKET s = WSASocketW(AF_INET, SOCK_DGRAM, IPPROTO_UDP, nullptr, 0,
                                WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET) {
        WSACleanup();
        return nullptr;
    }
    auto socket = std::make_unique<WinsockSocket>(s);

    // The results of the options are not looked at: a refused size leaves the default.
    const BOOL on = TRUE;
    const auto option = [&](int level, int name, const void* value, int size) {
        setsockopt(s, level, name, static_cast<const char*>(value), size);
    };
    option(SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    option(SOL_SOCKET, SO_SNDBUF, &sendBufferSize, sizeof sendBufferSize);
    option(SOL_SOCKET, SO_RCVBUF, &receiveBufferSize, sizeof receiveBufferSize);
    option(IPPROTO_IP, IP_PKTINFO, &on, sizeof on);
    // Without it another program could bind the port with SO_REUSEADDR and take the replies.
    option(SOL_SOCKET, SO_EXCLUSIVEADDRUSE, &on, sizeof on);
    // Windows otherwise fails the next receive after a datagram to a closed port came back.
    BOOL report = FALSE;
    DWORD bytes = 0;
    WSAIoctl(s, SIO_UDP_CONNRESET, &report, sizeof report, nullptr, 0, &bytes, nullptr, nullptr);

    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    local.sin_port = htons(static_cast<uint16_t>(port));
    if (bind(s, reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0) return nullptr;
    if (!socket->Prepare()) return nullptr;
    return socket;
}

std::vector<InterfaceAddress> CurrentInterfaceAddresses() {
    std::vector<unsigned char> space(16384);
    ULONG size = static_cast<ULONG>(space.size());
    ULONG result;
    auto* adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(space.data());
    for (int tries = 0; tries < 3; ++tries) {
        result = GetAdaptersAddresses(AF_INET, AdapterFlags, nullptr, adapters, &size);
        if (result != ERROR_BUFFER_OVERFLOW) break;
        space.resize(size);
        adapters = reinterpret_cast<IP_ADAPTER_ADDRESSES*>(space.data());
    }
    if (result != NO_ERROR) return {};

    std::vector<InterfaceAddress> interfaces;
    for (const IP_ADAPTER_ADDRESSES* a = adapters; a != nullptr; a = a->Next) {
        for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u != nullptr;
             u = u->Next) {
            const sockaddr* address = u->Address.lpSockaddr;
            if (address == nullptr || address->sa_family != AF_INET) continue;
            InterfaceAddress entry;
            entry.Index = a->IfIndex;
            entry.Flags = FlagsOf(*a);
            entry.Family = AF_INET;
            entry.Address = reinterpret_cast<const sockaddr_in*>(address)->sin_addr;
            entry.Netmask = MaskOfPrefix(u->OnLinkPrefixLength);
            interfaces.push_back(entry);
        }
    }
    return interfaces;
}
