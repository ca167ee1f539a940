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

double NewPanelWatch::Loss() const {
    return RepliesExpected == 0 ? 0.0 : double(RepliesLost) / double(RepliesExpected);
}

int NewPanelWatch::RoundsNeeded() const {
    constexpr int MostRounds = 8; // 2 s of rounds
    const double loss = Loss();
    if (loss <= 0) return 1;
    return loss >= 1 ? MostRounds : std::clamp(Hearing::RoundsNeeded(1 - loss), 1, MostRounds);
}

NewPanelWatch::Step NewPanelWatch::Round(const std::vector<PanelRecord>& heard) {
    ++Rounds;
    std::set<MacAddress> now;
    for (const PanelRecord& r : heard) {
        const MacAddress key = MacOf(r.Mac);
        now.insert(key);
        if (!IsNew(r)) continue;
        FirstHeard.emplace(key, Rounds);
        LastHeard[key] = Rounds;
        Latest[key] = r;
    }
    // A panel missed and heard again later was lost on the way; one never heard again was
    // switched off, which is no loss.
    for (auto& [key, roundsSilent] : Silent) {
        if (now.count(key) != 0) {
            RepliesLost += roundsSilent;
            RepliesExpected += roundsSilent;
            roundsSilent = 0;
        } else {
            ++roundsSilent;
        }
    }
    for (const MacAddress& key : now)
        if (!Silent.emplace(key, 0).second) ++RepliesExpected;
    const int needed = RoundsNeeded();
    Step step;
    for (const auto& [key, last] : LastHeard)
        if (Assigned.count(key) == 0 && Rounds - last < needed) step.New.push_back(Latest[key]);
    // The new panel that answered first, when it was heard for as many rounds as certainty
    // needs and every other one first answered that many rounds later: it was surely powered
    // first, and one powered with it would have been heard by now.
    const PanelRecord* first = nullptr;
    for (const PanelRecord& r : step.New)
        if (!first || FirstHeard[MacOf(r.Mac)] < FirstHeard[MacOf(first->Mac)]) first = &r;
    if (first) {
        const int since = FirstHeard[MacOf(first->Mac)];
        bool sure = Rounds - since + 1 >= needed;
        for (const PanelRecord& r : step.New)
            if (&r != first && FirstHeard[MacOf(r.Mac)] - since < needed) sure = false;
        if (sure) step.Take = *first;
    }
    return step;
}
