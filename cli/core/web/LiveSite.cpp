#include "web/LiveSite.h"

#include <algorithm>
#include <cstring>

#include "DuplicateRule.h"
#include "plan/Plan.h"
#include "plan/PlanCheck.h"

namespace {

bool SameMac(const PanelRecord& a, const PanelRecord& b) {
    return std::memcmp(a.Mac, b.Mac, sizeof a.Mac) == 0;
}

} // namespace

bool LiveSite::Round(const std::vector<Cli::FoundPanel>& replies, long long nowMs) {
    bool changed = false;
    std::vector<bool> heard(Entries.size(), false);
    const auto distinct = Cli::Distinct(replies);
    // Unchanged panels first, so that a changed one cannot take the row of a twin that answered
    // as it was.
    std::vector<const Cli::FoundPanel*> rest;
    for (const Cli::FoundPanel& reply : distinct) {
        bool found = false;
        for (std::size_t i = 0; i < Entries.size() && !found; ++i)
            if (!heard[i] && SamePanel(Entries[i].Panel.Record, reply.Record)) {
                heard[i] = found = true;
                changed = changed || !Entries[i].Online || Entries[i].Panel.Via != reply.Via;
                if (!Entries[i].Online) Entries[i].SinceMs = nowMs;
                Entries[i].Panel = reply;
                Entries[i].HeardMs = nowMs;
                Entries[i].Online = true;
            }
        if (!found) rest.push_back(&reply);
    }
    for (const Cli::FoundPanel* reply : rest) {
        changed = true;
        std::size_t at = Entries.size();
        for (std::size_t i = 0; i < Entries.size() && at == Entries.size(); ++i)
            if (!heard[i] && SameMac(Entries[i].Panel.Record, reply->Record)) at = i;
        if (at == Entries.size()) {
            Entries.push_back({*reply, NextId++, nowMs, true, nowMs});
            heard.push_back(true);
        } else {
            heard[at] = true;
            if (!Entries[at].Online) Entries[at].SinceMs = nowMs;
            Entries[at].Panel = *reply;
            Entries[at].HeardMs = nowMs;
            Entries[at].Online = true;
        }
    }
    for (std::size_t i = 0; i < Entries.size(); ++i)
        if (!heard[i] && Entries[i].Online && nowMs - Entries[i].HeardMs >= GoneAfterMs) {
            Entries[i].Online = false;
            changed = true;
        }
    return changed;
}

std::vector<PanelRecord> LiveSite::Present() const {
    std::vector<PanelRecord> records;
    for (const LivePanel& p : Entries)
        if (p.Online) records.push_back(p.Panel.Record);
    return records;
}

nlohmann::json SiteJson(const LiveSite& site) {
    nlohmann::json panels = nlohmann::json::array();
    for (const LivePanel& p : site.Panels()) {
        const auto cells = PanelCells(p.Panel.Record, p.Panel.Via);
        nlohmann::json row;
        for (std::size_t c = 0; c < cells.size() && c < std::size(PanelColumns); ++c)
            row[PanelColumns[c]] = cells[c];
        row["id"] = p.Id;
        row["heard"] = p.Online ? p.SinceMs : p.HeardMs;
        row["online"] = p.Online;
        panels.push_back(std::move(row));
    }
    nlohmann::json faults = nlohmann::json::array();
    for (const SiteFault& f : SiteFaults(site.Present(), *ParseSubnet(FactorySubnet)))
        faults.push_back({{"text", f.Text}, {"macs", f.Macs}});
    return {{"panels", std::move(panels)}, {"faults", std::move(faults)}};
}
