#pragma once

// The panel protocol for the command line: the window's endpoint and message composers, with
// replies collected under a mutex instead of the window's command queue.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "MessageFormat.h"
#include "PanelRecord.h"
#include "Udpr.h"

namespace Cli {

using Mac = std::array<uint8_t, 6>;
using Millis = std::chrono::milliseconds;

// One panel as its latest search reply described it.
struct FoundPanel {
    PanelRecord Record{};
    std::string Via; // the local address the reply came to
};

Mac MacOf(const PanelRecord& record);

class Engine final : public DatagramHandler {
  public:
    static constexpr int Port = 8300;
    // A command is given up after this long, as in the window.
    static constexpr Millis CommandWait{100};

    Engine() = default;
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Binds port 8300; false when another program holds it.
    bool Open();

    // `repeat` searches, each followed by `wait` of collecting. One entry per MAC, in MAC order.
    // With `expect` given, a search's wait ends as soon as every MAC in it has answered it.
    std::vector<FoundPanel> Search(Millis wait, int repeat, const std::set<Mac>& expect = {});

    // Sends the write once and waits up to `wait` for a write reply; true when one came.
    // `pending` holds the unlocking time as the typed digit, as the window stages it.
    bool Write(const PanelRecord& current, const PanelRecord& pending, Millis wait = CommandWait);
    // Sends the card deletion once and waits up to `wait` for its reply.
    bool DeleteCards(const PanelRecord& panel, Millis wait = CommandWait);

    // Requests sent so far, for the summary of a run.
    int SentWrites() const { return Writes; }

    void Dispatch(const char* sourceAddress, unsigned sourcePort, const uint8_t* data,
                  int length) override;

  private:
    void Send(const MessageBuffer& message, int length);
    // Sends and waits until `counter` grows or `wait` passes.
    bool SendAndAwait(const MessageBuffer& message, int length, const uint64_t& counter,
                      Millis wait);

    TUDPR Udp;
    std::mutex Lock; // guards everything below, shared with the receiver thread
    std::condition_variable Changed;
    bool Collecting = false;
    std::map<Mac, FoundPanel> Found;
    std::set<Mac> Answered; // MACs that answered the current search
    uint64_t WriteReplies = 0;
    uint64_t DeleteReplies = 0;
    int Writes = 0; // main thread only
};

} // namespace Cli
