#include "site/FindPanels.h"

#include <algorithm>
#include <set>

#include "DuplicateRule.h"

#include "plan/Plan.h"

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

namespace {

// The keys of RoundSearch::WantedKey heard.
struct WantedHeard {
    std::vector<bool> Seen;
    int Count = 0;
    void Add(const RoundSearch& how, const PanelRecord& r) {
        const int key = how.WantedKey ? how.WantedKey(r) : -1;
        if (key < 0 || key >= int(Seen.size()) || Seen[std::size_t(key)]) return;
        Seen[std::size_t(key)] = true;
        ++Count;
    }
};

using Known = std::set<PanelRecord, PanelOrder>;

// The rounds heard so far, added up into what SearchUntil returns.
class RoundsHeard {
  public:
    RoundsHeard(PanelLink& link, const RoundSearch& how)
        : Link(link), How(how),
          Start(link.Now()), Wanted{std::vector<bool>(std::size_t(std::max(how.WantedKeys, 0)))} {}

    void Add(const Collected& round) {
        Known heard;
        for (const FoundPanel& p : round.Replies) {
            heard.insert(p.Record);
            Wanted.Add(How, p.Record);
            Out.Heard.Late(p.Late);
        }
        KnownPanels.insert(heard.begin(), heard.end());
        Out.Heard.Round(KnownPanels.size(), heard.size(), round.Whole);
        if (round.Whole)
            for (const PanelRecord& r : heard)
                ++Out.Answered[r];
        Out.All.Replies.insert(Out.All.Replies.end(), round.Replies.begin(), round.Replies.end());
        Out.All.Searches += round.Searches;
        Out.All.Dropped += round.Dropped;
        Out.All.Whole = Out.All.Whole || round.Whole;
        Out.Found = Distinct(Out.All.Replies);
        Out.AllWanted = Wanted.Count == How.WantedKeys;
        Out.Elapsed = std::chrono::duration_cast<Millis>(Link.Now() - Start);
    }

    bool PastDeadline() const {
        return How.Deadline.count() > 0 && Link.Now() - Start >= How.Deadline;
    }

    PanelLink& Link;
    const RoundSearch& How;
    const std::chrono::steady_clock::time_point Start;
    Searched Out;
    // Every panel heard in any round so far.
    Known KnownPanels;
    // The wanted panels heard in any round so far.
    WantedHeard Wanted;
};

// Whether one round so far heard every panel known before it and the panels wanted; taken
// reply by reply, as the engine asks on every one, so that a quiet round may end early.
struct RoundSoFar {
    std::size_t Taken = 0, KnownHeard = 0;
    Known Heard;
    WantedHeard Wanted; // in this round and the ones before

    bool HeardAll(const Replies& since, const Known& known, const RoundSearch& how) {
        for (; Taken < since.size(); ++Taken) {
            const PanelRecord& r = since[Taken];
            if (Heard.insert(r).second && known.count(r)) ++KnownHeard;
            Wanted.Add(how, r);
        }
        return !Heard.empty() && KnownHeard == known.size() && Wanted.Count == how.WantedKeys;
    }
};

// The late replies can only add a panel sharing the name, which the command then refuses; a
// round the named panel missed changes nothing decided.
void ListenLate(RoundsHeard& rounds) {
    const RoundSearch& how = rounds.How;
    SearchPlan plan;
    plan.Every = how.ListenLate ? ListenFor(rounds.Out.Heard, how.LateReplies) : how.LateReplies;
    plan.LossRetries = 0;
    plan.Continue = true;
    rounds.Add(rounds.Link.Search(plan));
}

} // namespace

Searched SearchUntil(PanelLink& link, const RoundSearch& how) {
    RoundsHeard rounds(link, how);
    for (int n = 0; n < how.MaxRounds; ++n) {
        if (n > 0 && rounds.PastDeadline()) break;
        SearchPlan plan;
        plan.Every = n < how.MinRounds ? how.Every : how.LaterRoundLength;
        plan.LossRetries = 0; // A round with drops is not counted: the rounds go on anyway.
        plan.Continue = n > 0;
        RoundSoFar round;
        if (how.Quiet.count() > 0) {
            round.Wanted = rounds.Wanted;
            plan.Quiet = how.Quiet;
            plan.Done = [&](const Replies& since) {
                return round.HeardAll(since, rounds.KnownPanels, how);
            };
        }
        rounds.Add(link.Search(plan));
        if (n + 1 < how.MinRounds) continue;
        if (how.Decided && how.Decided(rounds.Out)) {
            rounds.Out.Decided = true;
            break;
        }
    }
    if (rounds.Out.Decided && how.LateReplies.count() > 0) ListenLate(rounds);
    return rounds.Out;
}

namespace {

// Nobody heard leaves no loss to measure: the rounds that 40 % loss each way needs decide that
// the site is empty (a request lost on its way reaches no panel at all).
bool NobodyOrSure(const Searched& searched, double missAllowed = MissProbabilityAllowed) {
    if (searched.Heard.Known() == 0)
        return searched.Heard.Rounds() >= Hearing::RoundsNeeded(CardAnswerShare, missAllowed);
    return searched.Heard.SureOfSite(missAllowed);
}

// Two panels answering as the name decide at once: the command is refused whatever else answers.
// One: a twin may sit behind a link like its own, whatever the rest of the site measures.
std::function<bool(const Searched&)> NameDecided(const std::string& name, bool late,
                                                 double missAllowed) {
    return [name, late, missAllowed](const Searched& searched) {
        const auto matches = Matching(searched.Found, name);
        if (matches.size() > 1) return true;
        if (!NobodyOrSure(searched, missAllowed)) return false;
        if (matches.empty()) return !late || searched.Elapsed >= LateReplies;
        const auto it = searched.Answered.find(matches.front()->Record);
        const int answered = it == searched.Answered.end() ? 0 : it->second;
        return Hearing::MissedAllLike(searched.Heard.Rounds(), answered) <= missAllowed;
    };
}

} // namespace

RoundSearch SiteSearch(const SearchOptions& search) {
    RoundSearch how;
    how.Every = Millis(search.WaitMs);
    how.LaterRoundLength = std::min(how.Every, Millis(100));
    how.MinRounds = std::max(search.Repeat, 1);
    how.MaxRounds = std::max(SearchRoundsMost, how.MinRounds);
    how.Decided = [](const Searched& searched) { return NobodyOrSure(searched); };
    return how;
}

RoundSearch NameSearch(const SearchOptions& search, const std::string& name) {
    RoundSearch how;
    how.MinRounds = std::max(search.Repeat, 1);
    how.Deadline = Millis(search.WaitMs);
    how.Quiet = ReplyQuiet;
    how.WantedKey = [name](const PanelRecord& r) { return Answers(r, name) ? 0 : -1; };
    how.WantedKeys = 1;
    how.LateReplies = NameLateReplies;
    how.Decided = NameDecided(name, true, MissProbabilityAllowed);
    return how;
}

RoundSearch PlanSearch(const SearchOptions& search, const std::vector<MacAddress>& macs) {
    RoundSearch how;
    how.MinRounds = std::max(search.Repeat, 1);
    how.Deadline = Millis(search.WaitMs);
    how.Quiet = ReplyQuiet;
    std::vector<MacAddress> sorted = macs;
    std::sort(sorted.begin(), sorted.end());
    sorted.erase(std::unique(sorted.begin(), sorted.end()), sorted.end());
    how.WantedKeys = int(sorted.size());
    how.WantedKey = [sorted](const PanelRecord& r) {
        const auto it = std::lower_bound(sorted.begin(), sorted.end(), MacOf(r));
        return it != sorted.end() && *it == MacOf(r) ? int(it - sorted.begin()) : -1;
    };
    how.Decided = [](const Searched& searched) {
        return NobodyOrSure(searched) && (searched.AllWanted || searched.Elapsed >= LateReplies);
    };
    return how;
}

RoundSearch CardSearch(const SearchOptions& search, const std::string& name) {
    RoundSearch how;
    how.Every = how.LaterRoundLength = CardRound;
    how.MinRounds = std::max(search.Repeat,
                             Hearing::RoundsNeeded(CardAnswerShare, LastingMissProbabilityAllowed));
    // The rounds that the certainty needs come first: the deadline only stops more of them.
    how.Deadline = std::max(Millis(search.WaitMs), how.Every * how.MinRounds);
    how.LateReplies = CardLateReplies;
    how.ListenLate = true;
    how.Decided = NameDecided(name, false, LastingMissProbabilityAllowed);
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

bool Answers(const PanelRecord& panel, const std::string& name) {
    const auto mac = ParseMac(name);
    if (mac && MacOf(panel) == *mac) return true;
    const auto cells = PanelCells(panel, "");
    return cells[4] == name || cells[10] == name;
}

std::vector<const FoundPanel*> Matching(const std::vector<FoundPanel>& found,
                                        const std::string& name) {
    std::vector<const FoundPanel*> matches;
    for (const FoundPanel& p : found)
        if (Answers(p.Record, name)) matches.push_back(&p);
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
