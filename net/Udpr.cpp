#include "Udpr.h"

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <system_error>

namespace {

// Lets Close and the destructor know when they run on the receiver thread (from the handler).
thread_local const TUDPR* ReceiverOf = nullptr;

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

    // Held across sendto so that Close never closes the descriptor under a send in progress
    // (the number could be reused by another file at once).
    std::lock_guard<std::mutex> guard(SocketLock);
    if (Socket != NoSocket)
        sendto(Socket, data, static_cast<size_t>(n), 0,
               reinterpret_cast<const sockaddr*>(&Destination), sizeof Destination);
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
    while (Running == 1) {
        sockaddr_in source{};
        socklen_t sourceLength = sizeof source;
        // MSG_TRUNC makes recvfrom report the datagram's real length, so an oversized one is seen.
        const ssize_t result = recvfrom(fd, buffer, MaxReceiveLength, MSG_TRUNC,
                                        reinterpret_cast<sockaddr*>(&source), &sourceLength);
        inet_ntop(AF_INET, &source.sin_addr, SourceAddress, sizeof SourceAddress);
        SourcePort = ntohs(source.sin_port);
        if (Running == 0) break;
        if (!AcceptDatagramLength(result)) continue; // never hand on a truncated part
        const int length = static_cast<int>(result);
        buffer[length] = 0;
        if (LocalPort == DispatchPort && Handler != nullptr)
            Handler->Dispatch(SourceAddress, SourcePort, buffer, length);
    }
}
