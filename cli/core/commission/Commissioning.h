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
    Subnet NewOn;
    std::set<MacAddress> Assigned;
    int Rounds = 0;
    std::map<MacAddress, int> FirstHeard, LastHeard; // round numbers of new panels
    std::map<MacAddress, PanelRecord> Latest;
    std::map<MacAddress, int> Silent; // every panel heard: rounds since it was last heard
    long Expected = 0, Missed = 0;
};
