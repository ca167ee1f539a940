#include "Udpr.h"

#include "BroadcastInterfaces.h"
#include "DatagramSocket.h"

#include <algorithm>
#include <cstdio>
#include <system_error>
#include <vector>

namespace {

// Lets Close and the destructor know when they run on the receiver thread (from the handler).
thread_local const TUDPR* ReceiverOf = nullptr;

} // namespace

TUDPR::TUDPR() = default;

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
        if (Socket) return false;
    }
    std::unique_ptr<DatagramSocket> socket =
        OpenDatagramSocket(LocalPort, SendBufferSize, ReceiveBufferSize);
    if (!socket) {
        Running = 0;
        return false;
    }
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
    const std::vector<BroadcastRoute> routes =
        broadcast ? CurrentBroadcastRoutes() : std::vector<BroadcastRoute>{};

    // Held across the sends so that Close never closes the socket under a send in progress.
    std::lock_guard<std::mutex> guard(SocketLock);
    if (!Socket) return 0;
    if (broadcast)
        Socket->SendOnRoutes(data, n, Destination, routes);
    else
        Socket->SendTo(data, n, Destination);
    return 0;
}

bool TUDPR::Close() {
    std::unique_ptr<DatagramSocket> socket;
    {
        std::lock_guard<std::mutex> guard(SocketLock);
        socket = std::move(Socket);
    }
    if (!socket) return false;
    Running = 0;
    socket->Wake();
    // From the handler the receiver cannot be waited for; it finds Running cleared on return
    // and touches the socket no more.
    if (ReceiverOf != this && Receiver.joinable()) Receiver.join();
    return true;
}

void TUDPR::ReceiverThread() {
    ReceiverOf = this;
    DatagramSocket* socket;
    {
        std::lock_guard<std::mutex> guard(SocketLock);
        socket = Socket.get();
    }
    if (socket == nullptr) return;

    uint8_t buffer[MaxReceiveLength + 1];
    while (Running == 1) {
        const Arrival arrival = socket->Receive(buffer, MaxReceiveLength);
        inet_ntop(AF_INET, &arrival.Source.sin_addr, SourceAddress, sizeof SourceAddress);
        SourcePort = ntohs(arrival.Source.sin_port);
        inet_ntop(AF_INET, &arrival.Local, LocalAddress, sizeof LocalAddress);
        if (Running == 0) break;
        if (!AcceptDatagramLength(arrival.Length)) continue; // never hand on a truncated part
        const int length = static_cast<int>(arrival.Length);
        buffer[length] = 0;
        if (LocalPort == DispatchPort && Handler != nullptr)
            Handler->Dispatch(SourceAddress, SourcePort, buffer, length);
    }
}
