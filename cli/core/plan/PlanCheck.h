#pragma once

// The site against its plan (`callpanel check`, and the report's column of it): each plan row
// as planned, differs or missing; each panel the plan does not name extra; then the faults of
// the site as a whole. No sockets: it judges the panels a search found.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plan/Plan.h"

// An IPv4 subnet, A.B.C.D/N.
struct Subnet {
    uint32_t Network = 0, Mask = 0;
    bool Holds(const uint8_t (&ip)[4]) const;
    std::string Text() const;
};
std::optional<Subnet> ParseSubnet(std::string_view text);
// Where new panels come from the factory.
inline constexpr const char* FactorySubnet = "192.168.1.0/24";

// One field that is not as planned: what the panel reports and what its plan row says.
struct CheckDetail {
    std::string Field, OnSite, InPlan;
};

// The result of a row of an as-built plan that no panel has taken yet (its mac cell empty).
inline constexpr const char* NotAssignedYet = "not assigned yet";

struct CheckRow {
    std::string Mac;     // empty for a row not assigned yet
    std::string Result;  // "as planned", "differs", "missing", "extra" or NotAssignedYet
    std::string Details; // Items as text, "field: on the site → in the plan; ..."
    int Line = 0;        // plan line; 0 for an extra panel
    std::vector<CheckDetail> Items = {};
};
// "field: on the site → in the plan", joined by "; ".
std::string DetailsText(const std::vector<CheckDetail>& items);

enum class FaultKind { IpTwice, AddressTwice, GatewayOutside, ServerUnreachable, FactorySubnet };

struct SiteFault {
    FaultKind Kind;
    std::string Text;              // names the panels by MAC
    std::vector<std::string> Macs; // the panels it concerns, in the order found
};

struct PlanCheck {
    std::vector<CheckRow> Rows;    // the plan's rows in plan order, then the extra panels
    std::vector<PlanError> Errors; // rows that cannot be judged: the plan is wrong
    std::vector<SiteFault> Faults;
    bool Passed(bool ignoreExtra) const;
};

// With `plan` empty there is no plan: every panel is judged on its own, so there are no plan
// rows and no panel is extra.
// A panel is left on the factory subnet when it is there and its plan row does not put it
// there.
PlanCheck CheckPlan(const std::vector<PlanRow>& plan, const std::vector<PanelRecord>& found,
                    const Subnet& factory);

// The faults alone, for a site without a plan. `planned`: IPs that a plan puts on the factory
// subnet on purpose.
std::vector<SiteFault> SiteFaults(const std::vector<PanelRecord>& found, const Subnet& factory,
                                  const std::vector<uint32_t>& planned = {});
