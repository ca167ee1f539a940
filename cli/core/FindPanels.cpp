#include "FindPanels.h"

#include <algorithm>

#include "Plan.h"

namespace Cli {

namespace {

using Clock = std::chrono::steady_clock;

} // namespace

Collected SearchFor(PanelLink& link, const SearchOptions& search, int requests,
                    const std::function<bool(const Replies&)>& done) {
    const auto start = Clock::now();
    const Millis least = SearchEvery * (std::max(search.Repeat, 1) - 1);
    SearchPlan plan;
    plan.Every = SearchEvery;
    plan.Requests = std::max(requests, search.Repeat);
    plan.Deadline = Millis(search.WaitMs);
    if (done)
        plan.Done = [&](const Replies& replies) {
            return Clock::now() - start >= least && done(replies);
        };
    return link.Search(plan);
}

std::string Joined(const std::vector<std::string>& parts, const char* separator) {
    std::string out;
    for (const auto& part : parts) {
        if (!out.empty()) out += separator;
        out += part;
    }
    return out;
}

std::vector<const FoundPanel*> Matching(const std::vector<FoundPanel>& found,
                                        const std::string& name) {
    const auto mac = ParseMac(name);
    std::vector<const FoundPanel*> matches;
    for (const FoundPanel& p : found) {
        const auto cells = PanelCells(p.Record, p.Via);
        if ((mac && MacOf(p.Record) == *mac) || cells[4] == name || cells[10] == name)
            matches.push_back(&p);
    }
    return matches;
}

std::string Described(const FoundPanel& p) {
    const auto cells = PanelCells(p.Record, p.Via);
    return cells[0] + " (" + cells[10] + ", " + cells[4] + ")";
}

NamedPanel FindOne(const std::vector<FoundPanel>& found, const std::string& name) {
    const auto matches = Matching(found, name);
    if (matches.size() == 1) return {NamedPanel::One, matches.front(), ""};
    if (matches.empty())
        return {NamedPanel::None, nullptr,
                "no panel answered as '" + name + "' (" + std::to_string(found.size()) +
                    " panel(s) found)"};
    std::vector<std::string> names;
    for (const FoundPanel* p : matches)
        names.push_back(Described(*p));
    return {NamedPanel::Several, nullptr,
            "'" + name + "' names " + std::to_string(matches.size()) +
                " panels: " + Joined(names, ", ") + "; name one by its MAC; nothing was written"};
}

Collected FindNamed(PanelLink& link, const SearchOptions& search, int requests,
                    const std::string& name) {
    const auto start = Clock::now();
    return SearchFor(link, search, requests, [&](const Replies& replies) {
        if (Clock::now() - start < SearchEvery) return false;
        std::vector<FoundPanel> panels;
        for (const PanelRecord& r : replies)
            panels.push_back({r, "", ""});
        return !Matching(panels, name).empty();
    });
}

} // namespace Cli
