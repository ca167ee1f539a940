#include "site/WriteRounds.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "PanelKeys.h"
#include "PanelTexts.h"
#include "site/SiteChecks.h"

namespace Cli {

namespace {

std::string IpKey(const uint8_t (&ip)[4]) {
    return std::string(ip, ip + 4);
}

// Whether every panel known before the writes (by its MAC, or the MAC its row writes) has
// answered, taken reply by reply as the search asks on every one.
class KnownAnswered {
  public:
    KnownAnswered(const Rounds& rounds, const std::vector<PanelRecord>& heardLate) {
        for (const PanelRecord& p : rounds.Site())
            Index.emplace(MacOf(p), Index.size());
        for (const PanelRecord& p : heardLate)
            Index.emplace(MacOf(p), Index.size());
        for (std::size_t at = 0; at < rounds.Size(); ++at) {
            const auto it = Index.find(MacOf(rounds.Row(at).Current));
            if (it != Index.end()) Index.emplace(MacOf(rounds.Row(at).Pending), it->second);
        }
        Heard.assign(Index.size(), false);
        for (const auto& [mac, at] : Index)
            Count = std::max(Count, at + 1);
    }
    bool operator()(const Replies& replies) {
        for (; Taken < replies.size(); ++Taken) {
            const auto it = Index.find(MacOf(replies[Taken]));
            if (it != Index.end() && !Heard[it->second]) {
                Heard[it->second] = true;
                --Count;
            }
        }
        return Count == 0;
    }

  private:
    std::map<MacAddress, std::size_t> Index;
    std::vector<bool> Heard;
    std::size_t Count = 0, Taken = 0;
};

// Listens after the last search `since` until no reply came in the last half of the listen:
// twice the largest delay seen (the lateness measured grows with each reply that comes later
// than it), at least `least`, and at most LateReplies: replies to another program's searches
// would otherwise keep it listening.
std::vector<FoundPanel> ListenAfter(PanelLink& link, Hearing& hearing,
                                    std::chrono::steady_clock::time_point since, Millis least) {
    for (;;) {
        const Millis listen = std::min(ListenFor(hearing, least), std::max(least, LateReplies));
        auto replies = link.Unread(since + listen);
        for (const FoundPanel& p : replies)
            hearing.Late(p.Late);
        if (std::min(ListenFor(hearing, least), std::max(least, LateReplies)) == listen)
            return replies;
    }
}

} // namespace

std::vector<std::size_t> RoundBatch(const Rounds& rounds, const std::vector<std::size_t>& todo) {
    std::set<std::string> taken;
    std::vector<std::size_t> batch;
    for (const std::size_t at : todo) {
        const std::string current = IpKey(rounds.Latest(at).Ip),
                          pending = IpKey(rounds.Pending(at).Ip);
        if (taken.count(current) || taken.count(pending)) continue;
        taken.insert(current);
        taken.insert(pending);
        batch.push_back(at);
    }
    return batch;
}

namespace {

// Sends the writes of round `round` to the rows in `todo`, and marks each row written, its
// write unanswered (whose addresses go into `unanswered`) or skipped when the run was stopped.
void SendRound(PanelLink& link, Rounds& rounds, const std::vector<std::size_t>& todo, int round,
               std::size_t total, const RunControl& control, std::set<std::string>& unanswered) {
    std::vector<PanelWrite> writes;
    for (const std::size_t at : todo) {
        const PanelRecord current = rounds.Latest(at), pending = rounds.Pending(at);
        writes.push_back(
            {current, pending, [current, pending, &unanswered](const std::string& source) {
                 return CreditsWrite(source, current, pending) && !unanswered.count(source);
             }});
    }
    std::vector<bool> replied;
    const std::size_t done = total - rounds.ToWrite().size();
    const std::size_t sent = link.WriteAll(writes, replied, [&](std::size_t n) {
        if (control.Interrupted()) return false;
        control.Progress("round " + std::to_string(round + 1) + ": " + std::to_string(done + n) +
                         " of " + std::to_string(total) + " rows done");
        return true;
    });
    for (std::size_t n = 0; n < todo.size(); ++n) {
        if (n >= sent) {
            rounds.Skip(todo[n]);
            continue;
        }
        rounds.Wrote(todo[n], replied[n]);
        if (!replied[n])
            for (const PanelRecord* r : {&writes[n].Current, &writes[n].Pending})
                unanswered.insert(Ipv4Text(r->Ip));
    }
}

// Reads the site back after a round's writes and gives `rounds` what it heard.
// It ends once every row written holds and every panel known has answered it (a panel changed
// meanwhile shows in a reply after the last write), or the rounds that the loss measured needs
// have passed; or once every row written has answered after a whole round without holding (its
// last reply counts: an earlier one may answer an older search), to write again.
std::vector<PanelRecord> ReadBack(PanelLink& link, Rounds& rounds, const SearchOptions& search,
                                  int maxRounds, Hearing& hearing,
                                  const std::vector<PanelRecord>& late) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    SearchOptions readBack = search;
    readBack.Repeat = 1;
    KnownAnswered known(rounds, late);
    const int requests = std::max(maxRounds, hearing.RoundsNeededForSite());
    const auto collected = SearchFor(link, readBack, requests, [&](const Replies& r) {
        const bool answered = known(r);
        if (rounds.AllHold(r)) return answered;
        return Clock::now() - start >= SearchEvery && rounds.AllAnswered(r);
    });
    for (const FoundPanel& p : collected.Replies)
        hearing.Late(p.Late);
    const auto replies = RecordsOf(collected.Replies);
    rounds.ReadBack(replies);
    return replies;
}

} // namespace

std::vector<PanelRecord> WriteRounds(PanelLink& link, Rounds& rounds, const SearchOptions& search,
                                     int maxRounds, const RunControl& control, Hearing hearing) {
    const std::size_t total = rounds.ToWrite().size();
    const auto searched = link.LastRequest(); // The last search before the writes.
    // `late`: replies to the searches before a round's writes that came after them; `after`:
    // replies to the last read-back that came after it returned.
    std::vector<PanelRecord> last, late, after;
    // Addresses whose write went unanswered: a reply from one may answer that write, however
    // late, so it is credited to no write after it.
    std::set<std::string> unanswered;
    for (int round = 0; round < maxRounds && !rounds.Finished(); ++round) {
        if (control.Interrupted()) break;
        const auto todo = RoundBatch(rounds, rounds.ToWrite());
        SendRound(link, rounds, todo, round, total, control, unanswered);
        const auto lastSearch = link.LastRequest();
        // A reply to a search sent before the writes may come as late as the lateness measured:
        // the read-back begins only after it would have come, so that every reply it counts
        // answers a search sent after the writes.
        const auto others = LateOthers(rounds, ListenAfter(link, hearing, lastSearch, Millis(0)));
        late.insert(late.end(), others.begin(), others.end());
        const auto replies = ReadBack(link, rounds, search, maxRounds, hearing, late);
        last.insert(last.end(), replies.begin(), replies.end());
    }
    control.Progress("");
    for (std::size_t at : rounds.ToWrite())
        if (control.Interrupted()) rounds.Skip(at);
    for (const PanelRecord& r :
         LateOthers(rounds, ListenAfter(link, hearing, searched, ReadBackListen)))
        after.push_back(r);
    // Oldest first: a report of a panel answering a search before the writes must not take the
    // place of its report after them.
    late.insert(late.end(), last.begin(), last.end());
    late.insert(late.end(), after.begin(), after.end());
    return late;
}

std::vector<PanelRecord> LateOthers(const Rounds& rounds, const std::vector<FoundPanel>& late) {
    std::vector<PanelRecord> others;
    for (const FoundPanel& p : late)
        if (!rounds.FromRow(p.Record)) others.push_back(p.Record);
    return others;
}

namespace {

// Panels sharing an IP address or an identity: per shared value, its panels, each by its MAC
// and the other of the two (a panel whose unlocking time was written is the same panel).
using Groups = std::map<std::string, std::set<std::string>>;

Groups Shared(const std::vector<PanelRecord>& records) {
    Groups groups;
    for (const PanelRecord& r : records) {
        const std::string mac(r.Mac, r.Mac + 6), ip(r.Ip, r.Ip + 4),
            identity(&r.TypeLetter, &r.TypeLetter + PanelIdentityLength);
        groups["ip " + ip].insert(mac + identity);
        groups["id " + identity].insert(mac + ip);
        // Two panels with one MAC: the row's write and read-back may reach either.
        groups["mac " + mac].insert(mac + ip + identity);
    }
    std::erase_if(groups, [](const auto& group) { return group.second.size() < 2; });
    return groups;
}

// The site after the writes: the panels found, each replaced by its latest report, and each
// row's panel as it last answered.
std::vector<PanelRecord> SiteAfter(const Rounds& rounds, const std::vector<PanelRecord>& found,
                                   const std::vector<PanelRecord>& readBack) {
    std::vector<PanelRecord> site = found;
    const auto place = [&](const PanelRecord& r) {
        for (PanelRecord& p : site)
            if (Same(p.Mac, r.Mac) && (Same(p.Ip, r.Ip) || SameIdentity(p, r))) {
                p = r;
                return;
            }
        site.push_back(r);
    };
    for (const PanelRecord& r : readBack)
        place(r);
    // A row that changed both IP and identity leaves its old report behind: its last one counts.
    for (std::size_t at = 0; at < rounds.Size(); ++at) {
        const RowResult result = rounds.Result(at);
        if (rounds.Row(at).Kind != RowKind::Write || result.Result == "no reply" ||
            result.Result == "not attempted")
            continue;
        const PanelRecord& was = rounds.Row(at).Current;
        std::erase_if(site,
                      [&](const PanelRecord& p) { return std::memcmp(&p, &was, sizeof p) == 0; });
        place(rounds.Latest(at));
    }
    return site;
}

// The shared values of `site` that this run made (as Shared names them).
// A clash whose panels all had it before the writes, unchanged, was said then. One among other
// panels only, one of them first heard after the writes (it answered late), may be as old as the
// site: it is none of this run's.
std::set<std::string> ClashesOfRun(const Rounds& rounds, const std::vector<PanelRecord>& found,
                                   const std::vector<PanelRecord>& site) {
    const Groups before = Shared(found);
    std::set<std::string> heardBefore, ofRows;
    for (const PanelRecord& r : found)
        heardBefore.insert(std::string(r.Mac, r.Mac + 6));
    for (std::size_t at = 0; at < rounds.Size(); ++at)
        if (rounds.Row(at).Kind == RowKind::Write)
            for (const PanelRecord* r : {&rounds.Row(at).Current, &rounds.Latest(at)})
                ofRows.insert(std::string(r->Mac, r->Mac + 6));
    std::set<std::string> fresh;
    for (const auto& [value, members] : Shared(site)) {
        const auto old = before.find(value);
        if (old != before.end() &&
            std::includes(old->second.begin(), old->second.end(), members.begin(), members.end()))
            continue;
        const auto macOf = [](const std::string& member) { return member.substr(0, 6); };
        // A MAC twice is the run's only with a row's MAC: another panel whose IP and identity
        // both changed meanwhile leaves its old report beside its new one.
        if (value.rfind("mac ", 0) == 0 && !ofRows.count(value.substr(4))) continue;
        if (std::none_of(members.begin(), members.end(),
                         [&](const std::string& m) { return ofRows.count(macOf(m)); }) &&
            !std::all_of(members.begin(), members.end(),
                         [&](const std::string& m) { return heardBefore.count(macOf(m)); }))
            continue;
        fresh.insert(value);
    }
    return fresh;
}

// The site check's lines about the panels of `site` that share a value in `fresh`.
std::vector<std::string> ClashLines(const std::vector<PanelRecord>& site,
                                    const std::set<std::string>& fresh) {
    std::vector<FoundPanel> involved;
    for (const PanelRecord& r : site)
        if (fresh.count("ip " + std::string(r.Ip, r.Ip + 4)) ||
            fresh.count("mac " + std::string(r.Mac, r.Mac + 6)) ||
            fresh.count("id " + std::string(&r.TypeLetter, &r.TypeLetter + PanelIdentityLength)))
            involved.push_back({r, "", ""});
    std::vector<SitePanel> panels;
    for (const FoundPanel& p : Distinct(involved)) {
        SitePanel panel;
        panel.Name = MacText(p.Record.Mac) + " (" + Ipv4Text(p.Record.Ip) + ")";
        panel.Before = panel.After = p.Record;
        panels.push_back(panel);
    }
    std::vector<std::string> clashes;
    for (const std::string& line : CheckSite(panels).Warnings)
        if (line.find("the IP address") != std::string::npos ||
            line.find("the identity") != std::string::npos ||
            line.find("the MAC") != std::string::npos)
            clashes.push_back(line);
    return clashes;
}

} // namespace

std::vector<std::string> ClashesAfter(const Rounds& rounds, const std::vector<PanelRecord>& found,
                                      const std::vector<PanelRecord>& readBack) {
    const std::vector<PanelRecord> site = SiteAfter(rounds, found, readBack);
    return ClashLines(site, ClashesOfRun(rounds, found, site));
}

} // namespace Cli
