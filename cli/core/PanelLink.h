#pragma once

// What the decisions of callpanel ask of the network: searches, writes and card deletions. The
// engine does it over UDP; tests give recorded replies.

#include <chrono>
#include <functional>
#include <string>

#include "Found.h"

namespace Cli {

class PanelLink {
  public:
    virtual ~PanelLink() = default;
    virtual Collected Search(const SearchPlan& plan) = 0;
    // Sends the write once and waits for a write reply from an address `credits` accepts; true
    // when one came. `pending` holds the unlocking time as the typed digit.
    virtual bool Write(const PanelRecord& current, const PanelRecord& pending,
                       const std::function<bool(const std::string&)>& credits) = 0;
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
