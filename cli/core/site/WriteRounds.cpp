#include "site/WriteRounds.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "PanelKeys.h"
#include "PanelTexts.h"
#include "site/SiteChecks.h"

namespace Cli {

std::vector<PanelRecord> WriteRounds(PanelLink& link, Rounds& rounds, const SearchOptions& search,
                                     int maxRounds, const RunControl& control) {
    using Clock = std::chrono::steady_clock;
    const std::size_t total = rounds.ToWrite().size();
    const auto searched = link.LastRequest(); // the last search before the writes
    std::vector<PanelRecord> last, late;
    const auto keepLate = [&](const std::vector<FoundPanel>& replies) {
        const auto others = LateOthers(rounds, replies);
        late.insert(late.end(), others.begin(), others.end());
    };
    for (int round = 0; round < maxRounds && !rounds.Finished(); ++round) {
        if (control.Interrupted()) break;
        const auto todo = rounds.ToWrite();
        std::vector<PanelWrite> writes;
        for (const std::size_t at : todo) {
            const PanelRecord current = rounds.Latest(at), pending = rounds.Pending(at);
            writes.push_back({current, pending, [current, pending](const std::string& source) {
                                  return CreditsWrite(source, current, pending);
                              }});
        }
        std::vector<bool> replied;
        const std::size_t sent = link.WriteAll(writes, replied, [&](std::size_t n) {
            if (control.Interrupted()) return false;
            control.Progress("round " + std::to_string(round + 1) + ": " +
                             std::to_string(total - todo.size() + n) + " of " +
                             std::to_string(total) + " rows done");
            return true;
        });
        for (std::size_t n = 0; n < todo.size(); ++n)
            if (n < sent)
                rounds.Wrote(todo[n], replied[n]);
            else
                rounds.Skip(todo[n]);
        keepLate(link.Unread({}));
        // Ends once every row written holds, or has answered after a whole round (its last
        // reply counts: an earlier one may answer an older search).
        const auto start = Clock::now();
        SearchOptions readBack = search;
        readBack.Repeat = 1;
        const auto collected = SearchFor(link, readBack, maxRounds, [&](const Replies& r) {
            return rounds.AllHold(r) ||
                   (Clock::now() - start >= SearchEvery && rounds.AllAnswered(r));
        });
        const auto replies = RecordsOf(collected.Replies);
        rounds.ReadBack(replies);
        last.insert(last.end(), replies.begin(), replies.end());
    }
    control.Progress("");
    for (std::size_t at : rounds.ToWrite())
        if (control.Interrupted()) rounds.Skip(at);
    keepLate(link.Unread(searched + ReadBackListen));
    last.insert(last.end(), late.begin(), late.end());
    return last;
}

std::vector<PanelRecord> LateOthers(const Rounds& rounds, const std::vector<FoundPanel>& late) {
    std::set<MacAddress> rowMacs;
    for (std::size_t at = 0; at < rounds.Size(); ++at)
        rowMacs.insert(MacOf(rounds.Row(at).Current));
    std::vector<PanelRecord> others;
    for (const FoundPanel& p : late)
        if (!rowMacs.count(MacOf(p.Record))) others.push_back(p.Record);
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
    }
    std::erase_if(groups, [](const auto& group) { return group.second.size() < 2; });
    return groups;
}

// The site as the writes left it: each read-back report in place of the earlier report of its
// panel (the same MAC and the same IP address or identity), and each written row's last report
// in place of its report before the writes.
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

// The shared values (of Shared) of the site after the writes that this run made. A clash whose
// panels all had it before the writes, unchanged, was said then. One among other panels only,
// one of them first heard after the writes (it answered late), may be as old as the site: it
// is none of this run's.
std::set<std::string> ClashesOfThisRun(const Rounds& rounds, const std::vector<PanelRecord>& found,
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
        if (std::none_of(members.begin(), members.end(),
                         [&](const std::string& m) { return ofRows.count(macOf(m)); }) &&
            !std::all_of(members.begin(), members.end(),
                         [&](const std::string& m) { return heardBefore.count(macOf(m)); }))
            continue;
        fresh.insert(value);
    }
    return fresh;
}

// The site checks' lines about the IP addresses and identities in `clashes`, naming the panels
// of the site that share them.
std::vector<std::string> ClashLines(const std::vector<PanelRecord>& site,
                                    const std::set<std::string>& clashes) {
    std::vector<FoundPanel> involved;
    for (const PanelRecord& r : site)
        if (clashes.count("ip " + std::string(r.Ip, r.Ip + 4)) ||
            clashes.count("id " + std::string(&r.TypeLetter, &r.TypeLetter + PanelIdentityLength)))
            involved.push_back({r, "", ""});
    std::vector<SitePanel> panels;
    for (const FoundPanel& p : Distinct(involved)) {
        SitePanel panel;
        panel.Name = MacText(p.Record.Mac) + " (" + Ipv4Text(p.Record.Ip) + ")";
        panel.Before = panel.After = p.Record;
        panels.push_back(panel);
    }
    std::vector<std::string> lines;
    for (const std::string& line : CheckSite(panels).Warnings)
        if (line.find("the IP address") != std::string::npos ||
            line.find("the identity") != std::string::npos)
            lines.push_back(line);
    return lines;
}

} // namespace

std::vector<std::string> ClashesAfter(const Rounds& rounds, const std::vector<PanelRecord>& found,
                                      const std::vector<PanelRecord>& readBack) {
    const std::vector<PanelRecord> site = SiteAfter(rounds, found, readBack);
    return ClashLines(site, ClashesOfThisRun(rounds, found, site));
}

} // namespace Cli
