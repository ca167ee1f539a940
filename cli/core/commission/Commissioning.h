#pragma once

// `callpanel assign`: a schedule's rows given to new panels in the order they are powered. The
// decisions without sockets: the schedule's checks, which panel is new and when it is surely
// alone, and the as-built plan that records each row's MAC.

#include <algorithm>
#include <array>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "PanelKeys.h"
#include "plan/Changes.h"
#include "plan/Plan.h"
#include "plan/PlanCheck.h"

// Every row's settings as apply checks them, on their own, and the schedule as a whole: no IP
// address or call address twice, none taken by a panel of the site that is not new (`site`),
// and with two rows or more each gives its own ip and address (new panels share theirs).
// Errors name the schedule's lines. A type and address that read back as another are refused
// unless `asWritten`.
std::vector<PlanError> CheckSchedule(const std::vector<PlanRow>& rows,
                                     const std::vector<PanelRecord>& site,
                                     const std::vector<Ipv4Bytes>& own = {},
                                     bool asWritten = false);

// The row as a plan row for the panel with `mac`: what apply would write.
PlanRow RowForPanel(const PlanRow& row, const uint8_t (&mac)[6]);

// The new panels in each search round, and which of them is surely powered first. A decision
// here gives a door its call address, and a wrong one is found by nobody until a visitor rings
// the wrong flat: it is taken at a doubt of 10^-6 (LastingMissProbabilityAllowed). A panel is later
// than another only when the other, had it been there, would surely have been heard in the rounds
// before the first answer of this one: that many rounds without it, by the loss measured over every
// panel heard (with the doubt that few rounds leave), plus the rounds that the lateness
// measured may shift an answer by. A lone new panel is taken once a panel powered with it would
// surely have been heard. Panels whose order is not sure form a group: none of them is taken,
// and a panel surely later than the group waits behind it, never joining it. A group is
// resolved when all but one are switched off, or by the installer naming which MAC takes which
// row (pinned MACs are not ordered at all).
class NewPanelWatch {
  public:
    NewPanelWatch(const Subnet& newOn, std::set<MacAddress> assigned,
                  std::set<MacAddress> pinned = {})
        : NewOn(newOn), Assigned(std::move(assigned)), Pinned(std::move(pinned)) {}

    struct Step {
        // The new panels heard in the last rounds that count, by MAC order (pinned ones too).
        std::vector<PanelRecord> New;
        // The one to assign now: surely alone, or surely powered before every other one.
        std::optional<PanelRecord> Take;
        // The first panels whose powering order is not sure, by the order they first answered:
        // none of them is taken, and none after them.
        std::vector<PanelRecord> Group;
    };
    // After each round, with the replies it heard.
    Step Round(const std::vector<PanelRecord>& heard);
    void Took(const uint8_t (&mac)[6]) { Assigned.insert(MacOf(mac)); }
    bool IsNew(const PanelRecord& r) const;
    // The rounds that a panel present is surely heard in (at LastingMissProbabilityAllowed), as
    // measured so far.
    int RoundsNeeded() const;
    // The loss an earlier search measured, counted with the watch's own.
    void Measured(double answered, double missed) {
        AnsweredPanelRounds += answered;
        MissedPanelRounds += missed;
    }
    // The share of replies lost, as measured so far (the page shows it).
    double Loss() const {
        return AnsweredPanelRounds + MissedPanelRounds == 0
                   ? 0.0
                   : MissedPanelRounds / (AnsweredPanelRounds + MissedPanelRounds);
    }
    // True once some panel-round is counted, so that Loss says something.
    bool LossKnown() const { return AnsweredPanelRounds + MissedPanelRounds > 0; }
    // Replies may come this many rounds after the round of their request.
    void LateRounds(int rounds) { Late = std::max(Late, rounds); }

  private:
    struct Seen {
        int First = 0, Last = 0; // the round it (last) began answering in, and its last
        PanelRecord Latest{};
    };
    int NeededFor(double answered, double missed) const;
    bool Present(const Seen& seen, int needed) const { return Rounds - seen.Last < needed; }

    Subnet NewOn;
    std::set<MacAddress> Assigned, Pinned;
    int Rounds = 0, Late = 0, LongestGap = 0;
    std::map<MacAddress, Seen> Panels; // every panel heard
    // New panels once found surely later than every one that answered before them: they stay
    // behind, whatever the loss measured later.
    std::set<MacAddress> Behind;
    double AnsweredPanelRounds = 0, MissedPanelRounds = 0;
};
