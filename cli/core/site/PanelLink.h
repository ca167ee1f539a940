#pragma once

// What the decisions of callpanel ask of the network: searches, writes and card deletions. The
// engine does it over UDP; tests give recorded replies.

#include <chrono>
#include <functional>
#include <string>
#include <vector>

#include "site/Found.h"

namespace Cli {

// One write: the panel's current block, what to write over it (the unlocking time as the typed
// digit), and the reply sources that answer for it.
struct PanelWrite {
    PanelRecord Current{}, Pending{};
    std::function<bool(const std::string&)> Credits;
};

class PanelLink {
  public:
    virtual ~PanelLink() = default;
    virtual Collected Search(const SearchPlan& plan) = 0;
    // Sends the writes in order, each once, and sets `replied[n]` when a reply credited to write
    // n came (`replied` holds one entry per write). `next(n)` is asked before write n goes:
    // false sends none from there on. Returns how many were sent.
    virtual std::size_t WriteAll(const std::vector<PanelWrite>& writes, std::vector<bool>& replied,
                                 const std::function<bool(std::size_t)>& next) = 0;
    // When the last search request went out.
    virtual std::chrono::steady_clock::time_point LastRequest() const { return {}; }
    // Waits until `until`, then gives the search replies that came after the last search
    // returned (late ones, unread).
    virtual std::vector<FoundPanel> Unread(std::chrono::steady_clock::time_point until) {
        (void)until;
        return {};
    }
    // The clock that deadlines are measured on.
    virtual std::chrono::steady_clock::time_point Now() const {
        return std::chrono::steady_clock::now();
    }
};

// What a run of writes asks of the person running it: whether Ctrl+C was pressed, and where the
// progress goes.
struct RunControl {
    std::function<bool()> Interrupted = [] { return false; };
    std::function<void(const std::string&)> Progress = [](const std::string&) {};
};

} // namespace Cli
