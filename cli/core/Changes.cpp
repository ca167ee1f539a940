#include "Changes.h"

#include <algorithm>
#include <map>

#include "PanelTexts.h"
#include "SettingsChecks.h"

namespace {

using MacBytes = std::array<uint8_t, 6>;

MacBytes MacOf(const PanelRecord& r) {
    MacBytes mac;
    std::copy(std::begin(r.Mac), std::end(r.Mac), mac.begin());
    return mac;
}

bool Given(const PlanRow& row, const char* column) {
    const auto it = row.Cells.find(column);
    return it != row.Cells.end() && !it->second.empty();
}

int ColumnNumber(const PlanRow& row, const char* column) {
    if (!row.Columns) return 0;
    const auto it = row.Columns->find(column);
    return it == row.Columns->end() ? 0 : it->second;
}

// Stages checked texts over `base`. The first three MAC bytes stay the panel's own: the
// window's fixed 00:50:2A would change the key of a panel that has other ones.
bool Stage(const SettingsTexts& texts, const PanelRecord& base, PanelRecord& pending,
           std::string& error) {
    pending = base;
    try {
        StageSettings(texts, pending);
    } catch (const ConvertError& e) {
        error = e.what();
        return false;
    }
    std::copy(base.Mac, base.Mac + 3, pending.Mac);
    return true;
}

std::string NameOf(const PanelRecord& r, int line) {
    std::string name = MacText(r.Mac);
    if (line > 0) name += " (line " + std::to_string(line) + ")";
    return name;
}

} // namespace

PanelRecord AsReported(const PanelRecord& pending) {
    PanelRecord reported = pending;
    reported.UnlockTime = static_cast<uint8_t>(pending.UnlockTime - '0');
    return reported;
}

std::vector<FieldChange> Differences(const PanelRecord& from, const PanelRecord& to) {
    const auto a = PanelCells(from, "");
    const auto b = PanelCells(to, "");
    std::vector<FieldChange> changes;
    for (int c = 0; c < WritableColumns; ++c)
        if (a[c] != b[c]) changes.push_back({PanelColumns[c], a[c], b[c]});
    return changes;
}

Changes PlanChanges(const std::vector<PlanRow>& rows, const std::vector<PanelRecord>& found,
                    const std::string& macTail, const std::vector<Ipv4Bytes>& own) {
    Changes out;
    std::vector<SitePanel> site;
    std::vector<bool> planned(found.size(), false);
    // Looked up once per row: a scan of every panel per row made a site of 1,000 wait.
    std::map<MacBytes, std::vector<std::size_t>> byMac;
    for (std::size_t f = 0; f < found.size(); ++f)
        byMac[MacOf(found[f])].push_back(f);
    for (std::size_t at = 0; at < rows.size(); ++at) {
        const PlanRow& row = rows[at];
        const auto cell = row.Cells.find("mac");
        const auto mac = ParseMac(cell == row.Cells.end() ? "" : cell->second);
        if (!mac) continue; // the reader has said so
        RowChange change;
        change.Line = row.Line;
        change.Mac = cell->second;
        const auto hit = byMac.find(*mac);
        const std::vector<std::size_t> matches =
            hit == byMac.end() ? std::vector<std::size_t>{} : hit->second;
        if (matches.size() > 1) {
            std::string ips;
            for (std::size_t f : matches) {
                ips += ips.empty() ? "" : ", ";
                ips += Ipv4Text(found[f].Ip);
                planned[f] = true;
            }
            out.Errors.push_back({row.Line, ColumnNumber(row, "mac"),
                                  "mac: " + change.Mac + " is the MAC of " +
                                      std::to_string(matches.size()) + " panels found (" + ips +
                                      "); set one apart by its IP address first"});
            continue;
        }
        SitePanel panel;
        if (matches.empty()) {
            std::copy(mac->begin(), mac->end(), change.Current.Mac);
            const auto texts = RowSettings(row, change.Current, out.Errors, false, own);
            std::string error;
            if (texts && Stage(*texts, change.Current, change.Pending, error)) {
                panel.Found = false;
                panel.KnowsIp = Given(row, "ip");
                panel.KnowsIdentity =
                    Given(row, "type") && Given(row, "address") && Given(row, "facility");
                panel.Name = NameOf(change.Current, row.Line);
                panel.Before = panel.After = change.Pending;
                site.push_back(panel);
            }
            out.Rows.push_back(change);
            continue;
        }
        planned[matches.front()] = true;
        change.Current = found[matches.front()];
        bool changes = true;
        auto texts = RowSettings(row, change.Current, out.Errors, true, own, &changes);
        if (!texts) continue;
        if (at == 0 && !macTail.empty()) {
            const auto tail = ParseMac("00:00:00:" + macTail);
            if (!tail || macTail.size() != 8) {
                out.Errors.push_back(
                    {row.Line, 0,
                     "--mac takes the last three bytes, XX:XX:XX, or a whole MAC that begins "
                     "with 00:50:2A, which a write sets"});
                continue;
            }
            for (int i = 0; i < 3; ++i)
                texts->Mac[i] = macTail.substr(3 * std::size_t(i), 2);
        }
        std::string error;
        if (!Stage(*texts, change.Current, change.Pending, error)) {
            out.Errors.push_back({row.Line, 0, error});
            continue;
        }
        // A row that changes nothing is no write, whatever the staging makes of the panel's
        // odd values (a type letter other than H and P).
        change.Kind = (!changes && macTail.empty()) || ReportsStaged(change.Current, change.Pending)
                          ? RowKind::Unchanged
                          : RowKind::Write;
        for (int c = TypeColumn; c < WritableColumns; ++c)
            change.Sets[std::size_t(c)] = Given(row, PanelColumns[c]);
        change.Sets[MacColumn] = at == 0 && !macTail.empty();
        panel.Name = NameOf(change.Current, row.Line);
        panel.Before = change.Current;
        panel.After = change.Kind == RowKind::Write ? change.Pending : change.Current;
        panel.Written = change.Kind == RowKind::Write;
        site.push_back(panel);
        out.Rows.push_back(change);
    }
    for (std::size_t f = 0; f < found.size(); ++f)
        if (!planned[f]) site.push_back({NameOf(found[f], 0), found[f], found[f]});
    out.Site = CheckSite(site);
    return out;
}
