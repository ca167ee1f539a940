#pragma once

// The searches of set, apply and delete-cards, and which panel a name given on the command line
// stands for: decisions on the replies, whatever carried them.

#include <string>
#include <vector>

#include "PanelLink.h"

namespace Cli {

struct SearchOptions {
    int WaitMs = 500;
    int Repeat = 2;
};
// The deadline of each search of set, apply and delete-cards; they end sooner once every panel
// they need has answered.
inline constexpr int WriteSearchWaitMs = 3000;
// Before writing and when reading back, searches go out this often until every panel wanted has
// answered: one lost datagram costs a quarter second, not a run.
inline constexpr Millis SearchEvery{250};

// A request every SearchEvery until `done` holds of the replies (after at least `search.Repeat`
// requests), --wait has passed or `requests` have gone out.
Collected SearchFor(PanelLink& link, const SearchOptions& search, int requests,
                    const std::function<bool(const Replies&)>& done);

// A panel named by its MAC, its current IP address or its identity.
std::vector<const FoundPanel*> Matching(const std::vector<FoundPanel>& found,
                                        const std::string& name);

// "MAC (identity, IP)".
std::string Described(const FoundPanel& panel);
std::string Joined(const std::vector<std::string>& parts, const char* separator);

// The panels found for `set`: searched until the name has answered and a whole round has passed,
// so that another panel with the same name is heard.
Collected FindNamed(PanelLink& link, const SearchOptions& search, int requests,
                    const std::string& name);

// The one panel a name stands for, or why there is none.
struct NamedPanel {
    enum { One, None, Several } Outcome = None;
    const FoundPanel* Panel = nullptr; // with One
    std::string Error;                 // otherwise
};
NamedPanel FindOne(const std::vector<FoundPanel>& found, const std::string& name);

} // namespace Cli
