#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "SocketTypes.h"

class DatagramSocket;

// Receives every datagram the endpoint accepts. Called on the receiver thread;
// `data` holds `length` bytes followed by a zero byte and is valid until the call returns.
class DatagramHandler {
  public:
    virtual void Dispatch(const char* sourceAddress, unsigned sourcePort, const uint8_t* data,
                          int length) = 0;

  protected:
    ~DatagramHandler() = default;
};

// The tool's one UDP endpoint: bound to LocalPort on every interface, broadcast enabled.
class TUDPR {
  public:
    static constexpr int MinSendLength = 512;
    static constexpr int MaxReceiveLength = 12288;
    static constexpr int MinReceiveLength = 8;
    static constexpr int DispatchPort = 8300;

    TUDPR();
    ~TUDPR();
    TUDPR(const TUDPR&) = delete;
    TUDPR& operator=(const TUDPR&) = delete;

    bool Open();
    // At least MinSendLength bytes to RemoteAddress:RemotePort. To 255.255.255.255 the datagram
    // goes out once on each network the computer is on (BroadcastInterfaces.h), routes or not.
    int Send(const uint8_t* data, int length);
    bool Close();

    // Settings, given before Open.
    int LocalPort = 0;
    int RemotePort = 0;
    std::string RemoteAddress;
    int SendBufferSize = 0;
    int ReceiveBufferSize = 0;
    DatagramHandler* Handler = nullptr;

    // Written and read by the receiver thread only. LocalAddress is the tool's own address on
    // the network the datagram came in by (the one that answers its sender); all three are
    // valid during the handler call.
    char SourceAddress[20] = {};
    unsigned SourcePort = 0;
    char LocalAddress[20] = {};

    std::atomic<int> Running{0};

  private:
    void ReceiverThread();

    std::unique_ptr<DatagramSocket> Socket;
    // Guards Socket between Send (sender thread) and Close, so no send uses a closed socket.
    std::mutex SocketLock;
    in_addr_t ConvertedRemoteAddress = 0;
    sockaddr_in Destination{};
    std::thread Receiver;
};

// The receiver's length rule, shared with the fuzz harness: 0 to 7 bytes are too short for a
// header, and a datagram longer than the buffer is dropped whole rather than handed on cut.
inline bool AcceptDatagramLength(long long length) {
    return length >= TUDPR::MinReceiveLength && length <= TUDPR::MaxReceiveLength;
}
