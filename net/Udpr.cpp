#include "Udpr.h"

#include "BroadcastInterfaces.h"
#include "DatagramSocket.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <system_error>
#include <vector>

namespace {

// Datagrams taken off the socket with one call where the system can: a thousand panels answer
// a search at once.
constexpr int ReceiveBatch = 32;

// Lets Close, Settle and the destructor know when they run on the receiver thread (from the
// handler); the destructor there sets EndpointGone, and the receiver leaves at once.
thread_local const TUDPR* ReceiverOf = nullptr;
thread_local bool EndpointGone = false;

// A datagram made up to look like a mark (by another program on this computer) does not
// count: it lacks the token, or its number was never sent.
bool LooksLikeMark(const Arrival& a, int port) {
    return a.Length == SettleMark::Length && a.Source.sin_addr.s_addr == htonl(INADDR_LOOPBACK) &&
           ntohs(a.Source.sin_port) == port &&
           std::memcmp(a.Data, SettleMark::Tag, sizeof SettleMark::Tag) == 0;
}

uint64_t MarkField(const uint8_t* data, int at) {
    uint64_t value;
    std::memcpy(&value, data + at, sizeof value);
    return value;
}

uint64_t NewToken() {
    std::random_device random;
    return (uint64_t{random()} << 32) ^ random();
}

} // namespace

TUDPR::TUDPR() = default;

TUDPR::~TUDPR() {
    Close();
    if (Receiver.joinable()) {
        if (ReceiverOf == this) {
            EndpointGone = true;
            Receiver.detach();
        } else {
            Receiver.join();
        }
    }
}

bool TUDPR::Open() {
    {
        std::lock_guard<std::mutex> guard(SocketLock);
        // An endpoint that is still open, or that was closed from its own handler, has a
        // receiver that has not ended yet, so it cannot be opened again now.
        if (Socket || Receiver.joinable()) return false;
    }
    MarkToken = NewToken();
    std::unique_ptr<DatagramSocket> socket =
        OpenDatagramSocket(LocalPort, SendBufferSize, ReceiveBufferSize);
    if (!socket) {
        Running = 0;
        return false;
    }
    ObtainedReceiveBuffer = socket->GrantedReceiveBuffer();
    {
        std::lock_guard<std::mutex> guard(SocketLock);
        Socket = std::move(socket);
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
    std::vector<BroadcastRoute> routes =
        broadcast ? CurrentBroadcastRoutes() : std::vector<BroadcastRoute>{};
    if (broadcast && !FirstRoute.empty()) {
        in_addr first{};
        first.s_addr = inet_addr(FirstRoute.c_str());
        LeadWith(routes, first);
    }

    // Held across the sends so that Close never closes the socket under a send in progress.
    std::lock_guard<std::mutex> guard(SocketLock);
    if (!Socket) return 0;
    if (broadcast)
        Socket->SendOnRoutes(data, n, Destination, routes);
    else
        Socket->SendTo(data, n, Destination);
    return 0;
}

uint64_t TUDPR::DroppedDatagrams() const {
    uint64_t dropped = DropsSeen.load();
    std::lock_guard<std::mutex> guard(SocketLock);
    if (Socket) dropped = std::max(dropped, Socket->DroppedSoFar());
    return dropped;
}

bool TUDPR::Close() {
    std::unique_ptr<DatagramSocket> socket;
    {
        std::lock_guard<std::mutex> guard(SocketLock);
        socket = std::move(Socket);
    }
    if (!socket) return false;
    Running = 0;
    {
        std::lock_guard<std::mutex> guard(SettleLock);
        MarkSeen.notify_all();
    }
    socket->Wake();
    // From the handler the receiver cannot be waited for; it finds Running cleared on return
    // and touches the socket no more.
    if (ReceiverOf != this && Receiver.joinable()) Receiver.join();
    return true;
}

bool TUDPR::Settle(std::chrono::milliseconds limit) {
    if (LocalPort <= 0 || LocalPort > 65535 || ReceiverOf == this) return false;
    // A mark sent into a loopback that is down is lost without an error: no wait for it.
    if (!LoopbackUp(CurrentInterfaceAddresses())) return false;
    uint8_t datagram[SettleMark::Length];
    std::memcpy(datagram, SettleMark::Tag, sizeof SettleMark::Tag);
    std::memcpy(datagram + SettleMark::TokenAt, &MarkToken, sizeof MarkToken);
    sockaddr_in self{};
    self.sin_family = AF_INET;
    self.sin_port = htons(static_cast<uint16_t>(LocalPort));
    self.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    uint64_t mark;
    {
        // Numbered and sent under both locks, so that marks leave in the order of their numbers.
        std::lock_guard<std::mutex> socketGuard(SocketLock);
        if (!Socket) return false;
        std::lock_guard<std::mutex> guard(SettleLock);
        mark = MarksSent + 1;
        std::memcpy(datagram + SettleMark::NumberAt, &mark, sizeof mark);
        if (!Socket->SendTo(datagram, SettleMark::Length, self)) return false;
        MarksSent = mark;
    }
    std::unique_lock<std::mutex> lock(SettleLock);
    MarkSeen.wait_for(lock, limit, [&] { return MarksBack >= mark || Running == 0; });
    return MarksBack >= mark;
}

void TUDPR::ReceiverThread() {
    ReceiverOf = this;
    DatagramSocket* socket;
    {
        std::lock_guard<std::mutex> guard(SocketLock);
        socket = Socket.get();
    }
    if (socket == nullptr) return;

    // One slot per datagram of a batch, each with room for the zero after the longest.
    std::vector<uint8_t> buffers(static_cast<size_t>(ReceiveBatch) * (MaxReceiveLength + 1));
    std::vector<Arrival> arrivals(ReceiveBatch);
    for (int i = 0; i < ReceiveBatch; ++i) {
        arrivals[i].Data = &buffers[static_cast<size_t>(i) * (MaxReceiveLength + 1)];
        arrivals[i].Capacity = MaxReceiveLength;
    }
    while (Running == 1) {
        const int received = socket->Receive(arrivals.data(), ReceiveBatch);
        if (received < 0) {
            inet_ntop(AF_INET, &arrivals[0].Source.sin_addr, SourceAddress, sizeof SourceAddress);
            SourcePort = 0;
            if (Running == 0) break;
            continue;
        }
        for (int i = 0; i < received; ++i) {
            const Arrival& a = arrivals[i];
            inet_ntop(AF_INET, &a.Source.sin_addr, SourceAddress, sizeof SourceAddress);
            SourcePort = ntohs(a.Source.sin_port);
            inet_ntop(AF_INET, &a.Local, LocalAddress, sizeof LocalAddress);
            if (a.Drops > DropsSeen.load()) DropsSeen = a.Drops;
            if (Running == 0) break;
            if (LooksLikeMark(a, LocalPort)) {
                const uint64_t mark = MarkField(a.Data, SettleMark::NumberAt);
                std::lock_guard<std::mutex> guard(SettleLock);
                if (MarkField(a.Data, SettleMark::TokenAt) == MarkToken && mark > MarksBack &&
                    mark <= MarksSent) {
                    MarksBack = mark;
                    MarkSeen.notify_all();
                }
                continue;
            }
            if (!AcceptDatagramLength(a.Length)) continue; // never hand on a truncated part
            const int length = static_cast<int>(a.Length);
            a.Data[length] = 0;
            if (LocalPort == DispatchPort && Handler != nullptr) {
                Handler->Dispatch(SourceAddress, SourcePort, a.Data, length);
                if (EndpointGone) return; // destroyed by its handler
            }
        }
    }
}
