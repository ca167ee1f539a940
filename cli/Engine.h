#pragma once

// The panel protocol for the command line: the window's endpoint and message composers, with
// replies collected under a mutex instead of the window's command queue. It sends and collects;
// what the replies mean is decided in cli/core.

#include <array>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "DuplicateRule.h"
#include "MessageFormat.h"
#include "PanelRecord.h"
#include "Udpr.h"
#include "site/PanelLink.h"

namespace Cli {

class Engine final : public DatagramHandler, public PanelLink {
  public:
    static constexpr int Port = 8300;
    // A command is given up after this long, as in the window.
    static constexpr Millis CommandWait{100};
    // Room for the replies of a thousand panels that answer one search at once (as root; others
    // get net.core.rmem_max).
    static constexpr int ReceiveBufferSize = 4 << 20;
    // How long the end of a wait may take to hand on replies that came in time but were not yet
    // read off the socket.
    static constexpr Millis SettleLimit{1000};

    Engine() = default;
    ~Engine();
    Engine(const Engine&) = delete;
    Engine& operator=(const Engine&) = delete;

    // Binds port 8300 asking for `receiveBuffer` bytes; false when another program holds it.
    bool Open(int receiveBuffer = ReceiveBufferSize);

    Collected Search(const SearchPlan& plan) override;

    // Several writes in flight at once, none sharing an address that answers for another: a
    // write reply names no panel. Each is given up CommandWait after it was sent, and leaves
    // first by the route on which its panel answered a search.
    static constexpr std::size_t WritesInFlight = 8;
    std::size_t WriteAll(const std::vector<PanelWrite>& writes, std::vector<bool>& replied,
                         const std::function<bool(std::size_t)>& next) override;
    std::chrono::steady_clock::time_point LastRequest() const override;
    std::vector<FoundPanel> Unread(std::chrono::steady_clock::time_point until) override;
    // Sends the card deletion up to `attempts` times, each followed by up to `wait` for its
    // reply, until one comes from an address `credits` accepts; true when one came. A panel
    // deletes its cards the same whether told once or twice.
    bool DeleteCards(const PanelRecord& panel,
                     const std::function<bool(const std::string&)>& credits, int attempts,
                     Millis wait = CommandWait);

    // The receive buffer the system granted, in bytes as it counts them.
    int ReceiveRoom() const { return Udp.ObtainedReceiveBufferSize(); }

    // Requests sent so far, for the summary of a run.
    int SentWrites() const { return WritesSent; }

    void Dispatch(const char* sourceAddress, unsigned sourcePort, const uint8_t* data,
                  int length) override;

  private:
    // A broadcast on every route, first on the one from the local address `firstRoute`.
    void Send(const MessageBuffer& message, int length, const std::string& firstRoute = {});
    // The local address the panel's last search reply came to; empty when none did.
    std::string RouteOf(const PanelRecord& panel);
    // Sends and waits until `sources` gains an address `credits` accepts or `wait` passes.
    bool SendAndAwait(const MessageBuffer& message, int length, const std::string& firstRoute,
                      const std::vector<std::string>& sources,
                      const std::function<bool(const std::string&)>& credits, Millis wait);
    uint64_t Dropped() const;
    // Waits until `until` for `ready` to hold with no search reply for `quiet`, then lets the
    // replies already at the socket through before asking it once more. `lock` holds Lock on
    // entry and on return.
    bool AwaitReady(std::unique_lock<std::mutex>& lock, std::chrono::steady_clock::time_point until,
                    const std::function<bool()>& ready, Millis quiet = Millis(0));
    // Waits out one round of a search, which ends at `roundEnd` or early once `done` holds over
    // a whole view (`whole`, or nothing dropped since the count `droppedBefore`). True when the
    // search is done. `done` is asked under Lock.
    bool AwaitRound(std::chrono::steady_clock::time_point roundEnd, uint64_t droppedBefore,
                    bool whole, const std::function<bool()>& done, Millis quiet);

    TUDPR Udp;
    mutable std::mutex Lock; // guards everything below, shared with the receiver thread
    std::condition_variable Changed;
    std::vector<FoundPanel> SearchReplies;
    std::size_t SearchEnd = 0; // SearchReplies taken by the last Search
    std::chrono::steady_clock::time_point LastSearchReply{};
    std::chrono::steady_clock::time_point LastSearchSent{}; // the receiver times replies by it
    // The local address of each panel's last search reply (SamePanel records are one key), so
    // that a write of a thousand rows does not scan every reply for each.
    std::map<PanelRecord, std::string, PanelOrder> Routes;
    std::vector<std::string> WriteSources, DeleteSources;
    int WritesSent = 0; // used by the main thread only
};

} // namespace Cli
