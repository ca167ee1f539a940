#include "SiteChecks.h"

#include <cstring>
#include <map>

#include "PanelTexts.h"
#include "SettingsChecks.h"

namespace {

std::string IdentityText(const PanelRecord& r) {
    return FieldText(&r.TypeLetter, PanelIdentityLength);
}

// Every later panel whose key equals an earlier one's is reported against the first.
template <typename Key, typename KeyOf, typename Describe>
void Clashes(const std::vector<SitePanel>& panels, KeyOf keyOf, Describe describe,
             std::vector<std::string>& problems) {
    std::map<Key, std::size_t> first;
    for (std::size_t at = 0; at < panels.size(); ++at) {
        const auto [it, inserted] = first.emplace(keyOf(panels[at].Settings), at);
        if (!inserted)
            problems.push_back(panels[it->second].Name + " and " + panels[at].Name + ": " +
                               describe(panels[at].Settings));
    }
}

} // namespace

std::vector<std::string> SiteProblems(const std::vector<SitePanel>& panels) {
    std::vector<std::string> problems;
    Clashes<std::string>(
        panels, [](const PanelRecord& r) { return std::string(r.Ip, r.Ip + 4); },
        [](const PanelRecord& r) { return "both have the IP address " + Ipv4Text(r.Ip); },
        problems);
    // The identity names a panel in every request, so two alike would both act on it.
    Clashes<std::string>(
        panels,
        [](const PanelRecord& r) { return std::string(&r.TypeLetter, PanelIdentityLength); },
        [](const PanelRecord& r) { return "both have the identity " + IdentityText(r); }, problems);
    for (const SitePanel& panel : panels)
        if (!SameSegment(panel.Settings))
            problems.push_back(panel.Name + ": gateway " + Ipv4Text(panel.Settings.Gateway) +
                               " is outside the segment of IP " + Ipv4Text(panel.Settings.Ip) +
                               " with mask " + Ipv4Text(panel.Settings.Subnet) + " (" +
                               SegmentText + ")");
    return problems;
}
