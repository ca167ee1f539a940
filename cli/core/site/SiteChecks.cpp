#include "site/SiteChecks.h"

#include <cstring>
#include <functional>
#include <map>

#include "PanelTexts.h"
#include "SettingsChecks.h"

namespace {

std::string IpKey(const PanelRecord& r) {
    return std::string(r.Ip, r.Ip + 4);
}
std::string IdentityKey(const PanelRecord& r) {
    return std::string(&r.TypeLetter, PanelIdentityLength);
}
std::string MacAddress(const PanelRecord& r) {
    return std::string(r.Mac, r.Mac + 6);
}

struct Kind {
    std::function<std::string(const PanelRecord&)> Key;
    std::function<bool(const SitePanel&)> Known;
    std::function<std::string(const PanelRecord&)> Describe;
};

const Kind Kinds[] = {
    {IpKey, [](const SitePanel& p) { return p.KnowsIp; },
     [](const PanelRecord& r) { return "the IP address " + Ipv4Text(r.Ip); }},
    // The identity names a panel in every request, so two alike would both act on it.
    {IdentityKey, [](const SitePanel& p) { return p.KnowsIdentity; },
     [](const PanelRecord& r) {
         return "the identity " + FieldText(&r.TypeLetter, PanelIdentityLength);
     }},
    {MacAddress, [](const SitePanel&) { return true; },
     [](const PanelRecord& r) { return "the MAC " + MacText(r.Mac); }},
};

std::string Names(const std::vector<const SitePanel*>& group) {
    std::string out;
    for (std::size_t at = 0; at < group.size(); ++at) {
        if (at > 0) out += at + 1 == group.size() ? " and " : ", ";
        out += group[at]->Name;
    }
    return out;
}

bool SameAddresses(const PanelRecord& a, const PanelRecord& b) {
    return std::memcmp(a.Ip, b.Ip, 4) == 0 && std::memcmp(a.Subnet, b.Subnet, 4) == 0 &&
           std::memcmp(a.Gateway, b.Gateway, 4) == 0;
}

} // namespace

SiteVerdict CheckSite(const std::vector<SitePanel>& panels) {
    SiteVerdict verdict;
    for (const Kind& kind : Kinds) {
        std::map<std::string, std::vector<const SitePanel*>> groups;
        std::vector<std::string> order;
        for (const SitePanel& p : panels) {
            if (!kind.Known(p)) continue;
            auto& group = groups[kind.Key(p.After)];
            if (group.empty()) order.push_back(kind.Key(p.After));
            group.push_back(&p);
        }
        for (const std::string& key : order) {
            const auto& group = groups[key];
            if (group.size() < 2) continue;
            bool made = false;
            for (const SitePanel* p : group)
                made = made || !p->Found || (p->Written && kind.Key(p->Before) != key);
            const std::string text = Names(group) + ": " + (group.size() == 2 ? "both" : "all") +
                                     " have " + kind.Describe(group.front()->After);
            (made ? verdict.Conflicts : verdict.Warnings).push_back(text);
        }
    }
    for (const SitePanel& p : panels) {
        if (!p.Written || SameSegment(p.After)) continue;
        const std::string text = p.Name + ": gateway " + Ipv4Text(p.After.Gateway) +
                                 " is outside the segment of IP " + Ipv4Text(p.After.Ip) +
                                 " with mask " + Ipv4Text(p.After.Subnet) + " (" + SegmentText +
                                 ")";
        (SameAddresses(p.Before, p.After) ? verdict.Warnings : verdict.Conflicts).push_back(text);
    }
    return verdict;
}

std::vector<std::string> SharedNames(const std::vector<PanelRecord>& found) {
    std::vector<SitePanel> site;
    for (const PanelRecord& r : found) {
        SitePanel p;
        p.Name = MacText(r.Mac) + " (" + Ipv4Text(r.Ip) + ")";
        p.Before = p.After = r;
        site.push_back(p);
    }
    std::vector<std::string> shared;
    // Requests are broadcast and name a panel by MAC or identity, so they reach every panel
    // that shares one; panels sharing an IP address disturb each other and the servers.
    for (const std::string& w : CheckSite(site).Warnings)
        shared.push_back(w + (w.find("the IP address") == std::string::npos
                                  ? ": a request for one reaches all of them"
                                  : ": they disturb each other on the network"));
    return shared;
}
