#pragma once

// The address plan of the handover report (AddressPlan) as the commissioning page draws it from
// the live site: the panels present, those gone left out as the report leaves out panels that
// did not answer.

#include <nlohmann/json.hpp>

#include "web/LiveSite.h"

// {"blocks": [{"prefix": "10.1.2.", "used": [{"last", "kind", "colour", "title"}]}],
//  "free": colour, "legend": [{"meaning", "colour"}]}
nlohmann::json AddressPlanJson(const LiveSite& site);
