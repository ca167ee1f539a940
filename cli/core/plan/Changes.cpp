#include "plan/Changes.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

#include "PanelTexts.h"
#include "SettingsChecks.h"
#include "plan/UndoPlan.h"
#include "text/MessageText.h"

namespace {

bool Given(const PlanRow& row, const char* column) {
    const auto it = row.Cells.find(column);
    return it != row.Cells.end() && !it->second.empty();
}

int ColumnNumber(const PlanRow& row, const char* column) {
    if (!row.Columns) return 0;
    const auto it = row.Columns->find(column);
    return it == row.Columns->end() ? 0 : it->second;
}

// Stages checked texts over `base`; what `changed` leaves alone stays as `base` has it, byte for
// byte (the first three MAC bytes too: the window's fixed 00:50:2A would change the key of a
// panel that has other ones).
bool Stage(const SettingsTexts& texts, const PanelRecord& base, const WriteFields& changed,
           PanelRecord& pending, std::string& error) {
    pending = base;
    try {
        StageSettings(texts, pending);
    } catch (const ConvertError& e) {
        error = e.what();
        return false;
    }
    KeepUnchanged(base, changed, pending);
    return true;
}

// Records on the change, and says in a note, that a row --as-written let through reads back as
// another type and address.
void NoteReadBack(const SettingsTexts& texts, const PlanRow& row, RowChange& change,
                  std::vector<PlanError>& notes) {
    const auto back = ReadsBackOtherwise(texts.Type, texts.Address);
    if (!back) return;
    change.ReadsBack = back->Why;
    notes.push_back({row.Line, ColumnNumber(row, "address"),
                     change.Mac + ": " + DeviceTypeName(static_cast<DeviceType>(texts.Type)) + " " +
                         GbkToUtf8(texts.Address) + " is written as asked and " + back->Why});
}

std::string NameOf(const PanelRecord& r, int line) {
    std::string name = MacText(r.Mac);
    if (line > 0) name += " (line " + std::to_string(line) + ")";
    return name;
}

// Copies the bytes of the fields in `fields` from `reported` into `pending` (the unlocking time
// as the request's character).
void CopyFields(const PanelRecord& reported, const WriteFields& fields, PanelRecord& pending) {
    if (fields[MacField]) std::memcpy(pending.Mac, reported.Mac, sizeof pending.Mac);
    if (fields[TypeField]) pending.TypeLetter = reported.TypeLetter;
    if (fields[AddressField])
        std::memcpy(pending.Address, reported.Address, sizeof pending.Address);
    if (fields[FacilityField]) pending.Facility = reported.Facility;
    if (fields[IpField]) std::memcpy(pending.Ip, reported.Ip, sizeof pending.Ip);
    if (fields[MaskField]) std::memcpy(pending.Subnet, reported.Subnet, sizeof pending.Subnet);
    if (fields[GatewayField])
        std::memcpy(pending.Gateway, reported.Gateway, sizeof pending.Gateway);
    if (fields[ServerField]) std::memcpy(pending.Server, reported.Server, sizeof pending.Server);
    if (fields[UnlockField]) pending.UnlockTime = AsPending(reported).UnlockTime;
}

// A row of an undo plan with its raw bytes: the fields the run it takes back changed, put back
// byte for byte over the panel as it is now (`current`; null when it did not answer). Its bytes
// were the panel's own, so the window's checks of typed values do not apply; the site's do.
// It is taken only on the panel that run left: each field the run changed must hold what the
// run wrote, or already what the row puts back. False after saying why not.
bool Restore(const PlanRow& row, const PanelRecord* current, RowChange& change, SitePanel& panel,
             std::vector<PlanError>& errors) {
    const std::size_t before = errors.size();
    const auto fail = [&](const char* column, const std::string& text) {
        errors.push_back({row.Line, ColumnNumber(row, column), std::string(column) + ": " + text});
        return false;
    };
    const char* const Form = " is not a panel's fields as an undo plan gives them (MAC, identity, "
                             "IP, mask, gateway, server and unlocking time, in hex)";
    const std::string& rawCell = row.Cells.at("raw");
    const auto raw = ParseRawCell(rawCell);
    if (!raw) return fail("raw", Quoted(rawCell) + Form);
    if (!Given(row, "undoes"))
        return fail("undoes", "empty: raw bytes restore only the panel that the run being undone "
                              "wrote, and this column says what it wrote");
    const auto undoes = ParseRawCell(row.Cells.at("undoes"));
    if (!undoes) return fail("undoes", Quoted(row.Cells.at("undoes")) + Form);
    if (!std::equal(undoes->Mac, undoes->Mac + 6, change.Current.Mac))
        return fail("undoes",
                    "its MAC " + MacText(undoes->Mac) + " is not the row's " + change.Mac);
    const WriteFields changed = ChangedBytes(*undoes, *raw);
    if (!current) {
        change.Pending = AsPending(*raw);
        std::memcpy(change.Pending.Mac, change.Current.Mac, sizeof change.Pending.Mac);
        panel.Found = false;
        panel.KnowsIp = panel.KnowsIdentity = true;
        panel.Before = panel.After = change.Pending;
        return true;
    }
    change.Current = *current;
    const WriteFields wrote = ChangedBytes(*current, *undoes), had = ChangedBytes(*current, *raw);
    const auto now = PanelCells(*current, ""), written = PanelCells(*undoes, ""),
               back = PanelCells(*raw, "");
    for (int c = 0; c < WritableColumns; ++c) {
        const auto at = std::size_t(c);
        if (!changed[at] || !wrote[at] || !had[at]) continue;
        const bool bytes = c == TypeColumn || c == AddressColumn || c == FacilityColumn;
        const auto text = [&](const PanelRecord& r, const std::vector<std::string>& cells) {
            return Quoted(bytes ? FieldBytes(r, WriteField(c)) : cells[at]);
        };
        fail("raw", std::string(PanelColumns[c]) + ": the panel holds " + text(*current, now) +
                        ", neither what the run being undone wrote (" + text(*undoes, written) +
                        ") nor what this row puts back (" + text(*raw, back) +
                        "): it has changed since, and an undo plan restores only the panels as "
                        "its run left them; search, and make a plan of them as they are");
    }
    if (errors.size() != before) return false;
    change.Pending = AsPending(*current);
    CopyFields(*raw, changed, change.Pending);
    change.Sets = changed;
    change.Kind = ReportsStaged(*current, change.Pending) ? RowKind::Unchanged : RowKind::Write;
    panel.Before = *current;
    panel.After = change.Kind == RowKind::Write ? change.Pending : *current;
    panel.Written = change.Kind == RowKind::Write;
    return true;
}

// What every row's change is judged with besides the row: the MAC tail --mac gives the first
// row, this computer's own addresses, and whether --as-written lets a type and address through
// that read back as another.
struct RowOptions {
    const std::string& MacTail;
    const std::vector<Ipv4Bytes>& Own;
    bool AsWritten;
};

// The plan's changes as they are gathered row by row, with the site they would leave.
struct ChangesSoFar {
    Changes Out;
    std::vector<SitePanel> Site;
    // The names of the rows an undo plan puts back byte for byte.
    std::set<std::string> Restoring;
};

// A MAC that several panels answer with cannot say which of them a row means: the row is
// refused, and the panels count as planned so that none of them is reported as extra.
void RefuseSharedMac(const PlanRow& row, const std::string& mac,
                     const std::vector<std::size_t>& matches, const std::vector<PanelRecord>& found,
                     std::vector<bool>& planned, std::vector<PlanError>& errors) {
    std::string ips;
    for (std::size_t f : matches) {
        ips += ips.empty() ? "" : ", ";
        ips += Ipv4Text(found[f].Ip);
        planned[f] = true;
    }
    errors.push_back({row.Line, ColumnNumber(row, "mac"),
                      "mac: " + mac + " is the MAC of " + std::to_string(matches.size()) +
                          " panels found (" + ips + "); set one apart by its IP address first"});
}

// A row of an undo plan, which puts its panel's raw bytes back whether the panel answered or not.
void PlanRestoredRow(const PlanRow& row, const MacAddress& mac, const PanelRecord* current,
                     RowChange& change, ChangesSoFar& work) {
    SitePanel panel;
    std::copy(mac.begin(), mac.end(), change.Current.Mac);
    if (!Restore(row, current, change, panel, work.Out.Errors)) return;
    panel.Name = NameOf(change.Current, row.Line);
    work.Restoring.insert(panel.Name);
    work.Site.push_back(panel);
    work.Out.Rows.push_back(change);
}

// A row whose panel did not answer: the row is checked whole, and the site is judged as if the
// panel held it, as far as the row says what the panel holds.
void PlanUnseenRow(const PlanRow& row, const MacAddress& mac, const RowOptions& options,
                   RowChange& change, ChangesSoFar& work) {
    std::copy(mac.begin(), mac.end(), change.Current.Mac);
    const auto texts = RowSettings(row, change.Current, work.Out.Errors, false, options.Own,
                                   nullptr, options.AsWritten);
    if (texts && Given(row, "type") && Given(row, "address"))
        NoteReadBack(*texts, row, change, work.Out.Notes);
    std::string error;
    if (texts && Stage(*texts, change.Current, WriteFields().set(), change.Pending, error)) {
        SitePanel panel;
        panel.Found = false;
        panel.KnowsIp = Given(row, "ip");
        panel.KnowsIdentity = Given(row, "type") && Given(row, "address") && Given(row, "facility");
        panel.Name = NameOf(change.Current, row.Line);
        panel.Before = panel.After = change.Pending;
        work.Site.push_back(panel);
    }
    work.Out.Rows.push_back(change);
}

// The first row's MAC takes the tail --mac gives, which must be three bytes. False after saying
// why not.
bool TakeMacTail(const PlanRow& row, const std::string& macTail, SettingsTexts& texts,
                 std::vector<PlanError>& errors) {
    const auto tail = ParseMac("00:00:00:" + macTail);
    if (!tail || macTail.size() != 8) {
        errors.push_back({row.Line, 0,
                          "--mac takes the last three bytes, XX:XX:XX, or a whole MAC that "
                          "begins with 00:50:2A, which a write sets"});
        return false;
    }
    for (int i = 0; i < 3; ++i)
        texts.Mac[i] = macTail.substr(3 * std::size_t(i), 2);
    return true;
}

// A row whose panel answered: only the fields the row changes are written, and the row is a
// write only when it changes bytes.
void PlanFoundRow(const PlanRow& row, bool first, const PanelRecord& current,
                  const RowOptions& options, RowChange& change, ChangesSoFar& work) {
    change.Current = current;
    WriteFields changes;
    auto texts = RowSettings(row, change.Current, work.Out.Errors, true, options.Own, &changes,
                             options.AsWritten);
    if (!texts) return;
    if (changes[TypeColumn] || changes[AddressColumn])
        NoteReadBack(*texts, row, change, work.Out.Notes);
    const bool newMac = first && !options.MacTail.empty();
    if (newMac && !TakeMacTail(row, options.MacTail, *texts, work.Out.Errors)) return;
    change.Sets = changes;
    change.Sets[MacColumn] = newMac;
    std::string error;
    if (!Stage(*texts, change.Current, change.Sets, change.Pending, error)) {
        work.Out.Errors.push_back({row.Line, 0, error});
        return;
    }
    // A write is what changes bytes; what the row leaves alone is the panel's already.
    change.Kind =
        ReportsStaged(change.Current, change.Pending) ? RowKind::Unchanged : RowKind::Write;
    SitePanel panel;
    panel.Name = NameOf(change.Current, row.Line);
    panel.Before = change.Current;
    panel.After = change.Kind == RowKind::Write ? change.Pending : change.Current;
    panel.Written = change.Kind == RowKind::Write;
    work.Site.push_back(panel);
    work.Out.Rows.push_back(change);
}

// An undo plan puts back what its panels held before its run: panels that shared an IP or an
// identity then (new panels as they come from the factory) share it again, which is no clash of
// this command's but the site as it was. A clash with any other panel still is.
void AllowRestoredClashes(ChangesSoFar& work) {
    if (work.Restoring.empty()) return;
    std::vector<std::string> conflicts;
    for (std::string& conflict : work.Out.Site.Conflicts) {
        const bool others =
            std::any_of(work.Site.begin(), work.Site.end(), [&](const SitePanel& p) {
                return !work.Restoring.count(p.Name) && conflict.find(p.Name) != std::string::npos;
            });
        if (others)
            conflicts.push_back(std::move(conflict));
        else
            work.Out.Site.Warnings.push_back(conflict +
                                             ", as before the run the undo plan takes back");
    }
    work.Out.Site.Conflicts = std::move(conflicts);
}

} // namespace

std::vector<FieldChange> Differences(const PanelRecord& from, const PanelRecord& to,
                                     const WriteFields& given) {
    const auto a = PanelCells(from, "");
    const auto b = PanelCells(to, "");
    const WriteFields changed = ChangedBytes(from, to);
    std::vector<FieldChange> changes;
    for (int c = 0; c < WritableColumns; ++c) {
        // A villa camera and a flat camera share their type letter: the type is what the
        // address makes of it too.
        if (!changed[std::size_t(c)] && !(c == TypeColumn && a[c] != b[c])) continue;
        FieldChange change{PanelColumns[c], a[c], b[c]};
        if (a[c] == b[c]) {
            change.Old = FieldBytes(from, WriteField(c));
            change.New = FieldBytes(to, WriteField(c));
        }
        if (c == AddressColumn && !given[AddressColumn] && given[TypeColumn])
            change.New += " (as the type " + b[TypeColumn] + " has it)";
        changes.push_back(change);
    }
    return changes;
}

Changes PlanChanges(const std::vector<PlanRow>& rows, const std::vector<PanelRecord>& found,
                    const std::string& macTail, const std::vector<Ipv4Bytes>& own, bool asWritten) {
    const RowOptions options{macTail, own, asWritten};
    ChangesSoFar work;
    std::vector<bool> planned(found.size(), false);
    // Looked up once per row: a scan of every panel per row made a site of 1,000 wait.
    std::map<MacAddress, std::vector<std::size_t>> byMac;
    for (std::size_t f = 0; f < found.size(); ++f)
        byMac[MacOf(found[f])].push_back(f);
    for (std::size_t at = 0; at < rows.size(); ++at) {
        const PlanRow& row = rows[at];
        const auto cell = row.Cells.find("mac");
        const auto mac = ParseMac(cell == row.Cells.end() ? "" : cell->second);
        if (!mac) continue; // The plan's reader has already said why.
        RowChange change;
        change.Line = row.Line;
        change.Mac = cell->second;
        const auto hit = byMac.find(*mac);
        const std::vector<std::size_t> matches =
            hit == byMac.end() ? std::vector<std::size_t>{} : hit->second;
        if (matches.size() > 1) {
            RefuseSharedMac(row, change.Mac, matches, found, planned, work.Out.Errors);
            continue;
        }
        if (!matches.empty()) planned[matches.front()] = true;
        const PanelRecord* current = matches.empty() ? nullptr : &found[matches.front()];
        if (Given(row, "raw"))
            PlanRestoredRow(row, *mac, current, change, work);
        else if (!current)
            PlanUnseenRow(row, *mac, options, change, work);
        else
            PlanFoundRow(row, at == 0, *current, options, change, work);
    }
    for (std::size_t f = 0; f < found.size(); ++f)
        if (!planned[f]) work.Site.push_back({NameOf(found[f], 0), found[f], found[f]});
    work.Out.Site = CheckSite(work.Site);
    AllowRestoredClashes(work);
    return work.Out;
}
