#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
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
    // Sends at least MinSendLength bytes to RemoteAddress:RemotePort. To 255.255.255.255 the
    // datagram goes out once on each network the computer is on (BroadcastInterfaces.h), routes or
    // not, first by the route from FirstRoute when that is one of them.
    int Send(const uint8_t* data, int length);
    // Close may also be called from the handler; the receiver then returns without touching the
    // endpoint again. The same holds for the destructor.
    bool Close();
    // Returns true once every datagram that reached the socket before the call has been through
    // the handler; false after `limit`, when closed, at once when the mark cannot be sent
    // (loopback down), and at once from the handler (the receiver cannot pass its own mark). A
    // receiver that fell behind on a busy computer still holds replies that came in time when a
    // wait for them ends.
    bool Settle(std::chrono::milliseconds limit);

    // The settings below must be given before Open.
    int LocalPort = 0;
    int RemotePort = 0;
    std::string RemoteAddress;
    // The computer's own address whose route a broadcast takes first (where a panel's reply came
    // in); empty for none. Like RemoteAddress, set before each Send.
    std::string FirstRoute;
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

    // The receive buffer the system granted at Open, in bytes (as the system counts them); 0
    // before Open. Smaller than asked when the system's limit (net.core.rmem_max) is lower.
    int ObtainedReceiveBufferSize() const { return ObtainedReceiveBuffer.load(); }
    // Datagrams the system dropped since Open because the receive buffer was full; 0 where the
    // system cannot tell.
    uint64_t DroppedDatagrams() const;

  private:
    void ReceiverThread();

    std::unique_ptr<DatagramSocket> Socket;
    // Guards Socket between Send (sender thread) and Close, so no send uses a closed socket.
    mutable std::mutex SocketLock;
    in_addr_t ConvertedRemoteAddress = 0;
    sockaddr_in Destination{};
    std::thread Receiver;
    std::atomic<int> ObtainedReceiveBuffer{0};
    // The highest drop count a received datagram carried (SO_RXQ_OVFL).
    std::atomic<uint64_t> DropsSeen{0};
    // Settle's marks, sent to the socket itself by loopback: each queues behind what came before.
    // A mark counts only with this endpoint's token and a number it sent and has not seen back.
    std::mutex SettleLock;
    std::condition_variable MarkSeen;
    uint64_t MarkToken = 0; // set by Open, before the receiver starts
    uint64_t MarksSent = 0; // under SettleLock
    uint64_t MarksBack = 0; // under SettleLock
};

// Settle's mark: a tag no panel message starts with, the endpoint's token, the mark's number
// (both in the computer's byte order). It comes from 127.0.0.1 on the endpoint's own port.
namespace SettleMark {
constexpr uint8_t Tag[8] = {0xFF, 'u', 'd', 'p', 'r', 'm', 'k', 0xFF};
constexpr int TokenAt = sizeof Tag;
constexpr int NumberAt = TokenAt + sizeof(uint64_t);
constexpr int Length = NumberAt + sizeof(uint64_t);
} // namespace SettleMark

// The receiver's length rule, shared with the fuzz harness: 0 to 7 bytes are too short for a
// header, and a datagram longer than the buffer is dropped whole rather than handed on cut.
inline bool AcceptDatagramLength(long long length) {
    return length >= TUDPR::MinReceiveLength && length <= TUDPR::MaxReceiveLength;
}
