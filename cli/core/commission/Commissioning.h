#pragma once

// `callpanel assign`: a schedule's rows given to new panels in the order they are powered. The
// decisions without sockets: the schedule's checks, which panel is new and when it is surely
// alone, and the as-built plan that records each row's MAC.

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


// The new panels in each search round, and when one of them is surely the only one: a panel
// powered at the same moment may have missed the round that heard the first, so a lone new
// panel is taken only once enough rounds have passed without another, as many as the replies
// lost so far need for a panel present to be heard with probability at least 1 - 10^-3 (one
// round on a clean network).
class NewPanelWatch {
  public:
    NewPanelWatch(const Subnet& newOn, std::set<MacAddress> assigned)
        : NewOn(newOn), Assigned(std::move(assigned)) {}

    struct Step {
        // The new panels heard in the last rounds that count, by MAC order.
        std::vector<PanelRecord> New;
        // The one to assign now: the first to answer, once surely alone or surely first.
        std::optional<PanelRecord> Take;
    };
    // After each round, with the replies it heard.
    Step Round(const std::vector<PanelRecord>& heard);
    void Took(const uint8_t (&mac)[6]) { Assigned.insert(MacOf(mac)); }
    bool IsNew(const PanelRecord& r) const;
    // The share of replies lost, as measured so far, and the rounds it asks for.
    double Loss() const;
    int RoundsNeeded() const;

  private:
    Subnet NewOn;                  // where new panels answer: --new-on, else the factory subnet
    std::set<MacAddress> Assigned; // panels given a row already, in this run or an earlier one
    int Rounds = 0;                // rounds seen so far
    // Of each new panel: the numbers of the rounds that heard it first and last, and its last
    // reply.
    std::map<MacAddress, int> FirstHeard, LastHeard;
    std::map<MacAddress, PanelRecord> Latest;
    // Of every panel ever heard: the rounds since it was last heard (0: heard in the last one).
    std::map<MacAddress, int> Silent;
    // The replies the panels heard should have sent after they were first heard, one a round,
    // and how many of those were lost. The loss is counted only once a silent panel is heard
    // again: one that stays silent was switched off.
    long RepliesExpected = 0, RepliesLost = 0;
};
