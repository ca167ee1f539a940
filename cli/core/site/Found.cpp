#include "site/Found.h"

#include <algorithm>
#include <map>

#include "DuplicateRule.h"

namespace Cli {

std::vector<FoundPanel> Distinct(const std::vector<FoundPanel>& replies) {
    std::map<PanelRecord, FoundPanel, PanelOrder> panels;
    for (const FoundPanel& p : replies)
        panels[p.Record] = p;
    std::vector<FoundPanel> out;
    out.reserve(panels.size());
    for (auto& [key, panel] : panels)
        out.push_back(std::move(panel));
    return out;
}

std::vector<PanelRecord> RecordsOf(const std::vector<FoundPanel>& panels) {
    std::vector<PanelRecord> records;
    records.reserve(panels.size());
    for (const FoundPanel& p : panels)
        records.push_back(p.Record);
    return records;
}

} // namespace Cli
