#include "Engine.h"

#include <algorithm>
#include <cstring>
#include <ctime>

namespace Cli {

namespace {

constexpr const char* Broadcast = "255.255.255.255";
constexpr int SendBufferSize = 32768;
// Room for the replies of a thousand panels that answer one search at once (as root; others
// get net.core.rmem_max).
constexpr int ReceiveBufferSize = 4 << 20;

} // namespace

Mac MacOf(const PanelRecord& record) {
    Mac mac;
    std::copy(std::begin(record.Mac), std::end(record.Mac), mac.begin());
    return mac;
}

Engine::~Engine() {
    // Ends the receiver thread before the members it uses go.
    Udp.Close();
}

bool Engine::Open() {
    Udp.LocalPort = Port;
    Udp.RemotePort = Port;
    Udp.RemoteAddress = Broadcast;
    Udp.SendBufferSize = SendBufferSize;
    Udp.ReceiveBufferSize = ReceiveBufferSize;
    Udp.Handler = this;
    return Udp.Open();
}

void Engine::Send(const MessageBuffer& message, int length) {
    Udp.RemoteAddress = Broadcast;
    Udp.RemotePort = Port;
    Udp.Send(message, length);
}

std::vector<FoundPanel> Engine::Search(Millis wait, int repeat, const std::set<Mac>& expect) {
    MessageBuffer message;
    const int length = ComposeSearch(message, Signature);
    {
        std::lock_guard<std::mutex> guard(Lock);
        Found.clear();
        Collecting = true;
    }
    for (int i = 0; i < repeat; ++i) {
        {
            std::lock_guard<std::mutex> guard(Lock);
            Answered.clear();
        }
        Send(message, length);
        std::unique_lock<std::mutex> lock(Lock);
        const bool all = Changed.wait_for(lock, wait, [&] {
            return !expect.empty() &&
                   std::includes(Answered.begin(), Answered.end(), expect.begin(), expect.end());
        });
        if (all) break;
    }
    std::lock_guard<std::mutex> guard(Lock);
    Collecting = false;
    std::vector<FoundPanel> found;
    found.reserve(Found.size());
    for (const auto& [mac, panel] : Found)
        found.push_back(panel);
    return found;
}

bool Engine::SendAndAwait(const MessageBuffer& message, int length, const uint64_t& counter,
                          Millis wait) {
    uint64_t before;
    {
        std::lock_guard<std::mutex> guard(Lock);
        before = counter;
    }
    Send(message, length);
    std::unique_lock<std::mutex> lock(Lock);
    return Changed.wait_for(lock, wait, [&] { return counter != before; });
}

bool Engine::Write(const PanelRecord& current, const PanelRecord& pending, Millis wait) {
    MessageBuffer message;
    PanelRecord staged = pending;
    const int length = ComposeWrite(message, Signature, current, staged);
    ++Writes;
    return SendAndAwait(message, length, WriteReplies, wait);
}

bool Engine::DeleteCards(const PanelRecord& panel, Millis wait) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    MessageBuffer message;
    const int length = ComposeDeleteCards(message, Signature, panel, local);
    return SendAndAwait(message, length, DeleteReplies, wait);
}

void Engine::Dispatch(const char*, unsigned, const uint8_t* data, int length) {
    if (!HasSignature(data, length, Signature) || length < MessageHeader::Length) return;
    // Our own requests come back to the port we listen on.
    if (data[MessageHeader::StageAt] == STAGE_REQUEST) return;
    switch (data[MessageHeader::CommandAt]) {
    case CMD_SEARCH: {
        FoundPanel panel;
        DecodeSearchReply(data, length, panel.Record);
        panel.Via = Udp.LocalAddress;
        const Mac mac = MacOf(panel.Record);
        std::lock_guard<std::mutex> guard(Lock);
        if (!Collecting) return;
        Found[mac] = std::move(panel);
        Answered.insert(mac);
        break;
    }
    case CMD_WRITE: {
        std::lock_guard<std::mutex> guard(Lock);
        ++WriteReplies;
        break;
    }
    case CMD_DELETE_CARDS: {
        std::lock_guard<std::mutex> guard(Lock);
        ++DeleteReplies;
        break;
    }
    default:
        return;
    }
    Changed.notify_all();
}

} // namespace Cli
