#pragma once

// The searches of set, apply and delete-cards, and which panel a name given on the command line
// stands for: decisions on the replies, whatever carried them.

#include <string>
#include <vector>

#include <map>

#include "DuplicateRule.h"
#include "site/Hearing.h"
#include "site/PanelLink.h"

namespace Cli {

struct SearchOptions {
    int WaitMs = 500;
    int Repeat = 2;
};
// The deadline of each search of set, apply and delete-cards; they end as soon as the loss
// measured allows their decision.
inline constexpr int WriteSearchWaitMs = 8000;
// Before writing and when reading back, searches go out this often until every panel wanted has
// answered: one lost datagram costs a quarter second, not a run.
inline constexpr Millis SearchEvery{250};

// A request every SearchEvery until `done` holds of the replies (after at least `search.Repeat`
// requests), --wait has passed or `requests` have gone out.
Collected SearchFor(PanelLink& link, const SearchOptions& search, int requests,
                    const std::function<bool(const Replies&)>& done);

// Searches in rounds, a request each, until a decision can be taken: one that rests on not
// hearing a panel waits for the loss measured to allow it (Hearing).
struct RoundSearch {
    // How long each of the first MinRounds rounds lasts at most.
    Millis Every = SearchEvery;
    // The number of rounds searched at least, and at most.
    int MinRounds = 1;
    int MaxRounds = 1000;
    // No round starts once this long has passed since the first request; 0 means no deadline.
    Millis Deadline{0};
    // How long each round after the first MinRounds lasts at most.
    Millis LaterRoundLength{100};
    // 0: every round lasts its whole length. Otherwise a round ends once every panel known
    // before it has answered it, every panel wanted has been heard and no reply came for this
    // long: on a clean network the rounds that make sure cost little, and a panel that answers
    // a little after the others is awaited as soon as it is known.
    Millis Quiet{0};
    // The panels awaited before any is known: WantedKey gives a reply's key in
    // [0, WantedKeys), or -1 for a reply not wanted.
    std::function<int(const PanelRecord&)> WantedKey;
    int WantedKeys = 0;
    // Once decided, one more round that listens this long for late replies; 0: none.
    Millis LateReplies{0};
    // That round listens longer when the lateness measured asks for it (ListenFor).
    bool ListenLate = false;
    // The panels heard so far and the loss measured allow the decision.
    std::function<bool(const struct Searched&)> Decided;
};
struct Searched {
    Collected All;                 // every reply, in arrival order
    std::vector<FoundPanel> Found; // Distinct(All.Replies)
    Hearing Heard;
    // The rounds counted in Heard that each panel answered.
    std::map<PanelRecord, int, PanelOrder> Answered;
    bool AllWanted = true; // every key of RoundSearch::WantedKey heard
    Millis Elapsed{0};     // from the first request to the end of the last round
    bool Decided = false;  // false: the deadline or the last round came first
};
Searched SearchUntil(PanelLink& link, const RoundSearch& how);

// The searches of each command. `search`: rounds of --wait until the list is surely whole (at
// most SearchRoundsMost). `set NAME`: until two panels answer as NAME, or the site is surely
// whole and a twin behind a link like the named panel's would surely have been heard. `apply`:
// until the site is surely whole. `delete-cards NAME`, which cannot be undone, decides at
// LastingMissProbabilityAllowed: at least the rounds that 40 % loss each way needs at that doubt (a
// twin may sit behind a worse link than the panel named), more when the loss measured is worse,
// whole rounds, and then a listen for late replies, longer when the lateness measured asks. Nobody
// heard: nothing to measure, decided after MinRounds rounds. A panel that set or apply names and
// that did not answer is absent only once LateReplies have passed as well: it may answer late, not
// only through loss.
inline constexpr int SearchRoundsMost = 40;
inline constexpr double CardAnswerShare = 0.6 * 0.6;
inline constexpr Millis LateReplies{2000};
inline constexpr Millis ReplyQuiet{5};
// set: once decided, one more round as long as the window listens, for a panel of the same name
// that answers later than the short rounds last.
inline constexpr Millis NameLateReplies{100};
// delete-cards: each request is one more chance for a twin to be heard, however late it answers;
// after the last one, replies up to this late still count.
inline constexpr Millis CardRound{60};
inline constexpr Millis CardLateReplies{1500};
RoundSearch SiteSearch(const SearchOptions& search);
RoundSearch NameSearch(const SearchOptions& search, const std::string& name);
// `macs`: the MACs of the plan's rows.
RoundSearch PlanSearch(const SearchOptions& search, const std::vector<MacAddress>& macs);
RoundSearch CardSearch(const SearchOptions& search, const std::string& name);

// A panel named by its MAC, its current IP address or its identity.
bool Answers(const PanelRecord& panel, const std::string& name);
std::vector<const FoundPanel*> Matching(const std::vector<FoundPanel>& found,
                                        const std::string& name);

// "MAC (identity, IP)".
std::string Described(const FoundPanel& panel);
// A name that picks the panel alone among `found`: its IP, identity or MAC; empty when none does.
std::string NameOf(const std::vector<FoundPanel>& found, const FoundPanel& panel);
std::string Joined(const std::vector<std::string>& parts, const char* separator);

// The one panel a name stands for, or why there is none.
struct NamedPanel {
    enum { One, None, Several } Outcome = None;
    const FoundPanel* Panel = nullptr; // with One
    std::string Error;                 // otherwise
};
// The refusal of several panels names each by a name that only it answers to.
NamedPanel FindOne(const std::vector<FoundPanel>& found, const std::string& name);

} // namespace Cli
