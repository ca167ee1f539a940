#include "FindPanels.h"

#include <algorithm>
#include <set>

#include "DuplicateRule.h"

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

Searched SearchUntil(PanelLink& link, const RoundSearch& how) {
    Searched out;
    std::set<PanelRecord, PanelOrder> known;
    const auto start = link.Now();
    const auto add = [&](const Collected& round) {
        std::set<PanelRecord, PanelOrder> heard;
        for (const FoundPanel& p : round.Replies)
            heard.insert(p.Record);
        known.insert(heard.begin(), heard.end());
        out.Heard.Round(known.size(), heard.size(), round.Whole);
        if (round.Whole)
            for (const PanelRecord& r : heard)
                ++out.Answered[r];
        out.All.Replies.insert(out.All.Replies.end(), round.Replies.begin(), round.Replies.end());
        out.All.Searches += round.Searches;
        out.All.Dropped += round.Dropped;
        out.All.Whole = out.All.Whole || round.Whole;
        out.Found = Distinct(out.All.Replies);
    };
    for (int round = 0; round < how.Most; ++round) {
        if (round > 0 && how.Deadline.count() > 0 && link.Now() - start >= how.Deadline) break;
        SearchPlan plan;
        plan.Every = round < how.Least ? how.Every : how.Then;
        plan.LossRetries = 0; // a round with drops is not counted: the rounds go on anyway
        add(link.Search(plan));
        if (round + 1 < how.Least) continue;
        if (how.Decided && how.Decided(out)) {
            out.Decided = true;
            break;
        }
    }
    if (out.Decided && how.LateReplies.count() > 0) {
        SearchPlan plan;
        plan.Every = how.LateReplies;
        plan.LossRetries = 0;
        add(link.Search(plan));
        out.Decided = how.Decided(out);
    }
    return out;
}

namespace {

// Nobody heard leaves no loss to measure: the rounds that 40 % loss each way needs decide that
// the site is empty (a request lost on its way reaches no panel at all).
bool NobodyOrSure(const Searched& searched) {
    if (searched.Heard.Known() == 0)
        return searched.Heard.Rounds() >= Hearing::RoundsNeeded(CardAnswerShare);
    return searched.Heard.SureOfSite();
}

// Two panels answering as the name decide at once: the command is refused whatever else answers.
// One: a twin may sit behind a link like its own, whatever the rest of the site measures.
std::function<bool(const Searched&)> NameDecided(const std::string& name) {
    return [name](const Searched& searched) {
        const auto matches = Matching(searched.Found, name);
        if (matches.size() > 1) return true;
        if (!NobodyOrSure(searched)) return false;
        if (matches.empty()) return true;
        const auto it = searched.Answered.find(matches.front()->Record);
        const int answered = it == searched.Answered.end() ? 0 : it->second;
        return Hearing::MissedAllLike(searched.Heard.Rounds(), answered) <= Unsure;
    };
}

} // namespace

RoundSearch SiteSearch(const SearchOptions& search) {
    RoundSearch how;
    how.Every = Millis(search.WaitMs);
    how.Then = std::min(how.Every, Millis(100));
    how.Least = std::max(search.Repeat, 1);
    how.Most = std::max(SearchRoundsMost, how.Least);
    how.Decided = NobodyOrSure;
    return how;
}

RoundSearch NameSearch(const SearchOptions& search, const std::string& name) {
    RoundSearch how;
    how.Least = std::max(search.Repeat, 1);
    how.Deadline = Millis(search.WaitMs);
    how.Decided = NameDecided(name);
    return how;
}

RoundSearch PlanSearch(const SearchOptions& search) {
    RoundSearch how;
    how.Least = std::max(search.Repeat, 1);
    how.Deadline = Millis(search.WaitMs);
    how.Decided = NobodyOrSure;
    return how;
}

RoundSearch CardSearch(const SearchOptions& search, const std::string& name) {
    RoundSearch how;
    how.Least = std::max(search.Repeat, Hearing::RoundsNeeded(CardAnswerShare));
    // The rounds that the certainty needs come first: the deadline only stops more of them.
    how.Deadline = std::max(Millis(search.WaitMs), how.Every * how.Least);
    how.Then = how.Every;
    how.LateReplies = LateReplies;
    how.Decided = NameDecided(name);
    return how;
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

std::string NameOf(const std::vector<FoundPanel>& found, const FoundPanel& panel) {
    // The IP first: a write names the panel's whole current block, so the IP tells twins that
    // share a MAC apart; then the identity, then the MAC.
    const auto cells = PanelCells(panel.Record, panel.Via);
    for (const std::string& name : {cells[4], cells[10], cells[0]})
        if (Matching(found, name).size() == 1) return name;
    return "";
}

NamedPanel FindOne(const std::vector<FoundPanel>& found, const std::string& name) {
    const auto matches = Matching(found, name);
    if (matches.size() == 1) return {NamedPanel::One, matches.front(), ""};
    if (matches.empty())
        return {NamedPanel::None, nullptr,
                "no panel answered as '" + name + "' (" + std::to_string(found.size()) +
                    " panel(s) found)"};
    std::vector<std::string> names, unique;
    for (const FoundPanel* p : matches) {
        names.push_back(Described(*p));
        if (const std::string other = NameOf(found, *p); !other.empty()) unique.push_back(other);
    }
    std::string advice;
    if (unique.size() == matches.size())
        advice = "name one of them as " + Joined(unique, " or ");
    else
        advice = "some of them have no name of their own (the same MAC, IP and identity): "
                 "switch all but one off, or give one other settings in the window";
    return {NamedPanel::Several, nullptr,
            "'" + name + "' names " + std::to_string(matches.size()) +
                " panels: " + Joined(names, ", ") + "; " + advice + "; nothing was written"};
}

} // namespace Cli
