#include "plan/PlanCheck.h"

#include <algorithm>
#include <cstdio>
#include <map>

#include "PanelTexts.h"
#include "SettingsChecks.h"
#include "plan/Changes.h"

namespace {

uint32_t Number(const uint8_t (&ip)[4]) {
    return uint32_t(ip[0]) << 24 | uint32_t(ip[1]) << 16 | uint32_t(ip[2]) << 8 | ip[3];
}

std::string Identity(const PanelRecord& r) {
    return FieldText(&r.TypeLetter, PanelIdentityLength);
}

std::string Listed(const std::vector<std::string>& names) {
    std::string out;
    for (std::size_t at = 0; at < names.size(); ++at)
        out += (at == 0 ? "" : at + 1 == names.size() ? " and " : ", ") + names[at];
    return out;
}

// The panel reaches its server on its own segment, or through a gateway on it.
bool Reaches(const PanelRecord& r) {
    const uint32_t mask = Number(r.Subnet), ip = Number(r.Ip), server = Number(r.Server);
    const auto usable = [&](uint32_t a) {
        return a != 0 && a != ip && (a & ~mask) != 0 && (a | mask) != 0xFFFFFFFFu;
    };
    if ((server & mask) == (ip & mask)) return usable(server);
    const uint32_t gateway = Number(r.Gateway);
    return server != 0 && server != 0xFFFFFFFFu && (gateway & mask) == (ip & mask) &&
           usable(gateway);
}

// Groups of panels alike in `key`, in the order found.
template <typename Key>
void Twice(const std::vector<PanelRecord>& found, Key key, FaultKind kind, const char* what,
           std::vector<SiteFault>& out) {
    std::map<std::string, std::vector<std::size_t>> groups;
    std::vector<std::string> order;
    for (std::size_t at = 0; at < found.size(); ++at) {
        auto& group = groups[key(found[at])];
        if (group.empty()) order.push_back(key(found[at]));
        group.push_back(at);
    }
    for (const std::string& value : order) {
        const auto& group = groups[value];
        if (group.size() < 2) continue;
        SiteFault fault{kind, "", {}};
        for (std::size_t at : group)
            fault.Macs.push_back(MacText(found[at].Mac));
        fault.Text = std::to_string(group.size()) + " panels have " + what + " " + value + ": " +
                     Listed(fault.Macs);
        out.push_back(std::move(fault));
    }
}

} // namespace

bool Subnet::Holds(const uint8_t (&ip)[4]) const {
    return (Number(ip) & Mask) == Network;
}

std::string Subnet::Text() const {
    int bits = 0;
    for (uint32_t m = Mask; m & 0x80000000u; m <<= 1)
        ++bits;
    char text[48];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u/%d", Network >> 24, (Network >> 16) & 255,
                  (Network >> 8) & 255, Network & 255, bits);
    return text;
}

std::optional<Subnet> ParseSubnet(std::string_view text) {
    const auto slash = text.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    unsigned a, b, c, d, bits;
    char tail;
    const std::string whole(text);
    if (std::sscanf(whole.c_str(), "%u.%u.%u.%u/%u%c", &a, &b, &c, &d, &bits, &tail) != 5 ||
        a > 255 || b > 255 || c > 255 || d > 255 || bits > 32 || bits < 1)
        return std::nullopt;
    Subnet out;
    out.Mask = uint32_t(0xFFFFFFFFull << (32 - bits));
    out.Network = (a << 24 | b << 16 | c << 8 | d) & out.Mask;
    return out;
}

std::string DetailsText(const std::vector<CheckDetail>& items) {
    std::string out;
    for (const CheckDetail& item : items)
        out += (out.empty() ? "" : "; ") + item.Field + ": " + item.OnSite + " \xE2\x86\x92 " +
               item.InPlan;
    return out;
}

bool PlanCheck::Passed(bool ignoreExtra) const {
    if (!Errors.empty() || !Faults.empty()) return false;
    return std::all_of(Rows.begin(), Rows.end(), [&](const CheckRow& r) {
        return r.Result == "as planned" || (ignoreExtra && r.Result == "extra");
    });
}

std::vector<SiteFault> SiteFaults(const std::vector<PanelRecord>& found, const Subnet& factory,
                                  const std::vector<uint32_t>& planned) {
    std::vector<SiteFault> out;
    Twice(
        found, [](const PanelRecord& r) { return Ipv4Text(r.Ip); }, FaultKind::IpTwice,
        "the IP address", out);
    Twice(found, Identity, FaultKind::AddressTwice, "the call address", out);
    for (const PanelRecord& r : found) {
        if (!SameSegment(r))
            out.push_back({FaultKind::GatewayOutside,
                           MacText(r.Mac) + ": gateway " + Ipv4Text(r.Gateway) +
                               " is outside the subnet of " + Ipv4Text(r.Ip) + " mask " +
                               Ipv4Text(r.Subnet),
                           {MacText(r.Mac)}});
        if (!Reaches(r))
            out.push_back({FaultKind::ServerUnreachable,
                           MacText(r.Mac) + ": cannot reach its server " + Ipv4Text(r.Server) +
                               " (not on its subnet, and no gateway on it leads there)",
                           {MacText(r.Mac)}});
    }
    SiteFault factoryFault{FaultKind::FactorySubnet, "", {}};
    for (const PanelRecord& r : found)
        if (factory.Holds(r.Ip) &&
            std::find(planned.begin(), planned.end(), Number(r.Ip)) == planned.end())
            factoryFault.Macs.push_back(MacText(r.Mac));
    if (!factoryFault.Macs.empty()) {
        factoryFault.Text = std::to_string(factoryFault.Macs.size()) + " panel(s) left on the " +
                            "factory subnet " + factory.Text() + ": " + Listed(factoryFault.Macs);
        out.push_back(std::move(factoryFault));
    }
    return out;
}

namespace {

// The row without its read-only cells, which the write's checks would refuse because it cannot
// set them; the version the row asks for is given back apart, to be compared on its own.
PlanRow WritableCells(const PlanRow& given, std::string& version) {
    PlanRow writable = given;
    if (const auto it = writable.Cells.find("version"); it != writable.Cells.end())
        version = it->second;
    for (const char* column : ReadOnlyColumns)
        writable.Cells.erase(column);
    return writable;
}

// A plan row means one panel, so a MAC that several panels answer with differs from the plan.
void SharedMac(const std::vector<std::size_t>& matches, const std::vector<PanelRecord>& found,
               CheckRow& row) {
    std::vector<std::string> ips;
    for (std::size_t at : matches)
        ips.push_back(Ipv4Text(found[at].Ip));
    row.Result = "differs";
    row.Items.push_back(
        {"mac", std::to_string(matches.size()) + " panels answer with it (" + Listed(ips) + ")",
         "one panel"});
}

// Compares the one panel that answered with the row's MAC field by field, as a write of the row
// would change it. False when the row itself is refused; its errors are then in `errors`.
bool ComparePanel(const PlanRow& writable, const std::string& version, const PanelRecord& panel,
                  CheckRow& row, std::vector<PlanError>& errors) {
    // Written as asked or not, the type and address are judged as they read back.
    const Changes changes = PlanChanges({writable}, {panel}, "", {}, true);
    if (!changes.Errors.empty()) {
        errors.insert(errors.end(), changes.Errors.begin(), changes.Errors.end());
        return false;
    }
    const RowChange& change = changes.Rows.front();
    const auto cellOf = [&](const char* column) {
        const auto it = writable.Cells.find(column);
        return it == writable.Cells.end() ? std::string() : it->second;
    };
    const auto onSite = PanelCells(panel, "");
    if (change.Kind == RowKind::Write)
        for (const FieldChange& c : Differences(panel, AsReported(change.Pending)))
            if (change.ReadsBack.empty() || (c.Field != "type" && c.Field != "address"))
                row.Items.push_back({c.Field, c.Old, c.New});
    if (!change.ReadsBack.empty()) {
        const auto back = PanelCells(AsReported(change.Pending), "");
        row.Items.insert(row.Items.begin(),
                         {"type", onSite[1], cellOf("type") + " (" + change.ReadsBack + ")"});
        if (back[2] != onSite[2])
            row.Items.insert(row.Items.begin() + 1, {"address", onSite[2], cellOf("address")});
    }
    const std::string holds = FieldText(panel.Version, sizeof panel.Version);
    if (!version.empty() && version != holds) row.Items.push_back({"version", holds, version});
    row.Result = row.Items.empty() ? "as planned" : "differs";
    return true;
}

} // namespace

PlanCheck CheckPlan(const std::vector<PlanRow>& plan, const std::vector<PanelRecord>& found,
                    const Subnet& factory) {
    PlanCheck out;
    std::vector<bool> named(found.size(), false);
    // The addresses the plan gives its panels, which are no fault on the factory subnet.
    std::vector<uint32_t> planned;
    for (const PlanRow& given : plan) {
        const auto cell = given.Cells.find("mac");
        if (cell != given.Cells.end() && cell->second.empty()) {
            out.Rows.push_back({"", NotAssignedYet, "", given.Line});
            continue;
        }
        const auto mac = ParseMac(cell == given.Cells.end() ? "" : cell->second);
        if (!mac) continue; // The plan's reader has already said why.
        uint8_t bytes[6];
        std::copy(mac->begin(), mac->end(), bytes);
        CheckRow row{MacText(bytes), "", "", given.Line};
        std::vector<std::size_t> matches;
        for (std::size_t at = 0; at < found.size(); ++at)
            if (std::equal(mac->begin(), mac->end(), found[at].Mac)) matches.push_back(at);
        for (std::size_t at : matches)
            named[at] = true;
        std::string version;
        const PlanRow writable = WritableCells(given, version);
        if (matches.size() > 1) {
            SharedMac(matches, found, row);
        } else if (matches.empty()) {
            row.Result = "missing";
        } else {
            const PanelRecord& panel = found[matches.front()];
            if (!ComparePanel(writable, version, panel, row, out.Errors)) continue;
            if (const auto ip = writable.Cells.find("ip");
                ip != writable.Cells.end() && ip->second == Ipv4Text(panel.Ip))
                planned.push_back(Number(panel.Ip));
        }
        row.Details = DetailsText(row.Items);
        out.Rows.push_back(std::move(row));
    }
    for (std::size_t at = 0; at < found.size(); ++at)
        if (!named[at] && !plan.empty())
            out.Rows.push_back({MacText(found[at].Mac),
                                "extra",
                                Ipv4Text(found[at].Ip),
                                0,
                                {{"ip", Ipv4Text(found[at].Ip), ""}}});
    out.Faults = SiteFaults(found, factory, planned);
    return out;
}
