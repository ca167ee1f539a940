#pragma once

#include <atomic>
#include <cstdint>

#include "../net/Udpr.h"
#include "CommandQueue.h"
#include "ReplyRoutes.h"
#include "WindowMailbox.h"

// Recognises replies on the receiver thread and turns them into window changes.
class ReplyDispatcher final : public DatagramHandler {
  public:
    ReplyDispatcher(CommandQueue& queue, WindowMailbox& window) : Queue(queue), Window(window) {}

    // Until armed (when the window is shown) every datagram is dropped.
    void Arm() { Armed.store(true, std::memory_order_release); }
    // Before Open: the endpoint whose LocalAddress tells where each search reply came in.
    void ReadArrivalsFrom(const TUDPR* endpoint) { Arrivals = endpoint; }
    // Where each panel answered, for the command queue.
    const ReplyRoutes& Routes() const { return Answered; }

    void Dispatch(const char* sourceAddress, unsigned sourcePort, const uint8_t* data,
                  int length) override;

  private:
    CommandQueue& Queue;
    WindowMailbox& Window;
    std::atomic<bool> Armed{false};
    const TUDPR* Arrivals = nullptr;
    ReplyRoutes Answered;
};
