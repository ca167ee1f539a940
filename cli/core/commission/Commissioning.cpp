#include "commission/Commissioning.h"

#include <algorithm>
#include <cmath>

#include "PanelTexts.h"
#include "SettingsChecks.h"
#include "plan/CsvReader.h"
#include "site/Hearing.h"

namespace {

// Each schedule row stands for a panel not yet known: a MAC no panel has, by its line.
MacAddress Placeholder(int line) {
    return {0xFE, 0xFF, 0xFF, uint8_t(line >> 16), uint8_t(line >> 8), uint8_t(line)};
}

// Messages name a row by its line, not by the placeholder MAC.
std::string Unplaceheld(std::string text) {
    for (std::size_t at; (at = text.find("FE:FF:FF:")) != std::string::npos;) {
        const std::size_t end = text.find(')', at);
        const std::size_t open = text.find(" (line ", at);
        if (open == std::string::npos || end == std::string::npos) break;
        text.replace(at, end + 1 - at, "the row on " + text.substr(open + 2, end - open - 2));
    }
    return text;
}

} // namespace

std::vector<PlanError> CheckSchedule(const std::vector<PlanRow>& rows,
                                     const std::vector<PanelRecord>& site,
                                     const std::vector<Ipv4Bytes>& own, bool asWritten) {
    std::vector<PlanRow> keyed;
    for (const PlanRow& row : rows) {
        keyed.push_back(row);
        keyed.back().Cells["mac"] = MacText(Placeholder(row.Line));
    }
    const Changes changes = PlanChanges(keyed, site, "", own, asWritten);
    std::vector<PlanError> errors = changes.Errors;
    // A row that gives all three addresses is checked as the write will be; one that leaves
    // some to the factory's is checked when its panel comes.
    for (std::size_t at = 0; at < changes.Rows.size(); ++at) {
        const PlanRow& row = keyed[at];
        const auto given = [&](const char* column) {
            const auto it = row.Cells.find(column);
            return it != row.Cells.end() && !it->second.empty();
        };
        // New panels come with one IP and one call address: a row that keeps the factory's
        // would share them with the next.
        for (const char* column : {"ip", "address"})
            if (rows.size() > 1 && !given(column))
                errors.push_back({row.Line, 0,
                                  std::string(column) +
                                      ": empty, and every new panel has the same factory " +
                                      column + "; give each row its own"});
        const RowChange& change = changes.Rows[at];
        if (given("ip") && given("mask") && given("gateway") && !SameSegment(change.Pending))
            errors.push_back({row.Line, 0,
                              "gateway " + Ipv4Text(change.Pending.Gateway) +
                                  " is outside the segment of IP " + Ipv4Text(change.Pending.Ip) +
                                  " with mask " + Ipv4Text(change.Pending.Subnet)});
    }
    for (const std::string& conflict : changes.Site.Conflicts)
        errors.push_back({0, 0, Unplaceheld(conflict)});
    for (PlanError& e : errors)
        e.Text = Unplaceheld(e.Text);
    return errors;
}

PlanRow RowForPanel(const PlanRow& row, const uint8_t (&mac)[6]) {
    PlanRow out = row;
    out.Cells["mac"] = MacText(mac);
    return out;
}

bool NewPanelWatch::IsNew(const PanelRecord& r) const {
    return NewOn.Holds(r.Ip) && Assigned.count(MacOf(r.Mac)) == 0;
}

int NewPanelWatch::NeededFor(double answered, double missed) const {
    constexpr int Never = 100000;
    for (int rounds = 1; rounds < 1000; ++rounds)
        if (Hearing::MissedInRow(rounds, answered, missed) <= LastingMissProbabilityAllowed)
            return rounds;
    return Never;
}

int NewPanelWatch::RoundsNeeded() const {
    // A panel silent now counts its silence as loss, up to one round longer than the longest
    // silence seen to end: a panel switched off for good does not make the loss grow forever.
    double silentPanelRounds = 0;
    for (const auto& [key, seen] : Panels)
        silentPanelRounds += std::min(Rounds - seen.Last, LongestGap + 1);
    return NeededFor(AnsweredPanelRounds, MissedPanelRounds + silentPanelRounds);
}

NewPanelWatch::Step NewPanelWatch::Round(const std::vector<PanelRecord>& heard) {
    ++Rounds;
    const int before = RoundsNeeded();
    std::set<MacAddress> now;
    for (const PanelRecord& r : heard)
        now.insert(MacOf(r.Mac));
    for (const MacAddress& key : now) {
        const auto it = Panels.find(key);
        if (it == Panels.end()) {
            Panels[key] = {Rounds, Rounds, {}};
            continue;
        }
        Seen& seen = it->second;
        const int gap = Rounds - seen.Last - 1;
        // Every silence that ends counts as loss, even one that was a switch off and on: the
        // loss is never taken lower than it may be.
        MissedPanelRounds += gap;
        AnsweredPanelRounds += 1;
        LongestGap = std::max(LongestGap, gap);
        // A panel silent for longer than one that stayed there can be was switched off and
        // powered again, so its answers count as new from this round on.
        if (gap >= before) {
            seen.First = Rounds;
            Behind.erase(key);
        }
        seen.Last = Rounds;
    }
    for (const PanelRecord& r : heard)
        Panels[MacOf(r.Mac)].Latest = r;
    const int needed = RoundsNeeded();

    Step step;
    std::vector<std::pair<int, MacAddress>> order; // the new panels present, by their first answer
    for (const auto& [key, seen] : Panels) {
        if (!IsNew(seen.Latest) || !Present(seen, needed)) continue;
        step.New.push_back(seen.Latest);
        if (!Pinned.count(key)) order.push_back({seen.First, key});
    }
    std::sort(order.begin(), order.end());
    if (order.empty()) return step;
    // A panel is surely later than the one before it when that one would have been heard in
    // the rounds from its first answer to this one's, shifted by the lateness.
    const int gap = needed + Late;
    for (std::size_t at = 1; at < order.size(); ++at)
        if (order[at].first - order[at - 1].first >= gap) Behind.insert(order[at].second);
    std::size_t end = 1;
    while (end < order.size() && !Behind.count(order[end].second))
        ++end;
    if (end > 1) {
        for (std::size_t at = 0; at < end; ++at)
            step.Group.push_back(Panels[order[at].second].Latest);
        return step;
    }
    // The one new panel is taken once any panel powered with it would have been heard by now.
    if (Rounds - order.front().first + 1 >= gap) step.Take = Panels[order.front().second].Latest;
    return step;
}
