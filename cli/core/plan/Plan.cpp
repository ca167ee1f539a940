#include "plan/Plan.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "PanelTexts.h"
#include "text/MessageText.h"

namespace {

std::string Dotted(const std::string (&bytes)[4]) {
    return bytes[0] + "." + bytes[1] + "." + bytes[2] + "." + bytes[3];
}

// "010.083.001.011" as "10.83.1.11"; other texts as they are.
std::string WithoutLeadingZeros(const std::string& text) {
    std::string out;
    for (std::size_t at = 0; at < text.size(); ++at) {
        const bool partStart = at == 0 || text[at - 1] == '.';
        if (partStart && text[at] == '0' && at + 1 < text.size() && text[at + 1] >= '0' &&
            text[at + 1] <= '9')
            while (at + 1 < text.size() && text[at] == '0' && text[at + 1] >= '0' &&
                   text[at + 1] <= '9')
                ++at;
        out += text[at];
    }
    return out;
}

// A failed window check in words a person can act on, with the window's own text.
std::string Explained(const CheckFailure& failure, const SettingsTexts& t) {
    const std::string window = " (" + failure.Text + ")";
    switch (failure.Box) {
    case SettingsBox::Address: {
        if (!failure.Why.empty())
            return DeviceTypeName(static_cast<DeviceType>(t.Type)) + std::string(" ") +
                   GbkToUtf8(t.Address) + " " + failure.Why +
                   " (or --as-written to write it all the same)" + window;
        const bool flat = t.Type == static_cast<int>(DeviceType::Flat);
        const bool digits = std::all_of(t.Address.begin(), t.Address.end(),
                                        [](char c) { return c >= '0' && c <= '9'; });
        return Quoted(GbkToUtf8(t.Address)) + " is " + std::to_string(t.Address.size()) +
               " bytes in GBK; a " +
               (flat ? "flat camera takes 10" : "villa camera or help station takes 4") +
               ". Chinese and accented characters take two bytes each" +
               (digits && t.Address.size() < (flat ? 10u : 4u)
                    ? "; a spreadsheet may have dropped leading zeros (format the column as text)"
                    : "") +
               window;
    }
    case SettingsBox::Unlock: {
        // A kept time is the request's character, seconds + '0': said in seconds.
        const auto c = static_cast<unsigned char>(t.Unlock.empty() ? '0' : t.Unlock[0]);
        const std::string seconds =
            c >= '0' && c <= '9' ? t.Unlock : std::to_string(uint8_t(c - '0'));
        return Quoted(seconds) + " is not from 1 to 9, which a flat camera needs" + window;
    }
    case SettingsBox::Ip:
    case SettingsBox::Subnet:
    case SettingsBox::Gateway:
        if (failure.Why.empty()) break;
        return (failure.Box == SettingsBox::Ip       ? Dotted(t.Ip)
                : failure.Box == SettingsBox::Subnet ? Dotted(t.Subnet)
                                                     : Dotted(t.Gateway)) +
               " is " + failure.Why + window;
    default:
        break;
    }
    return failure.Text;
}

const char* ColumnOf(SettingsBox box) {
    switch (box) {
    case SettingsBox::Address:
        return "address";
    case SettingsBox::Facility:
        return "facility";
    case SettingsBox::Mac:
        return "mac";
    case SettingsBox::Ip:
        return "ip";
    case SettingsBox::Subnet:
        return "mask";
    case SettingsBox::Gateway:
        return "gateway";
    case SettingsBox::Server:
        return "server";
    case SettingsBox::Unlock:
        return "unlock";
    }
    return "";
}

// Puts a passing value into the box that failed, so that the next check can run.
void Mend(SettingsTexts& t, const CheckFailure& failure) {
    switch (failure.Box) {
    case SettingsBox::Address:
        t.Address.assign(t.Type == static_cast<int>(DeviceType::Flat) ? 10 : 4, '1');
        break;
    case SettingsBox::Facility:
        t.Facility = "0";
        break;
    case SettingsBox::Mac:
        t.Mac[failure.Index] = "00";
        break;
    case SettingsBox::Ip: // not onto the gateway, which would fail the next check
        t.Ip[failure.Index] = t.Gateway[failure.Index] == "1" ? "2" : "1";
        break;
    case SettingsBox::Subnet:
        for (int at = 0; at < 4; ++at)
            t.Subnet[at] = at < 3 ? "255" : "0";
        break;
    case SettingsBox::Gateway:
        t.Gateway[failure.Index] = t.Ip[failure.Index] == "1" ? "2" : "1";
        break;
    case SettingsBox::Server:
        t.Server[failure.Index] = "1";
        break;
    case SettingsBox::Unlock:
        t.Unlock = "1";
        break;
    }
}

} // namespace

std::optional<SettingsTexts> RowSettings(const PlanRow& row, const PanelRecord& current,
                                         std::vector<PlanError>& errors, bool found,
                                         const std::vector<Ipv4Bytes>& own, WriteFields* changes,
                                         bool asWritten) {
    const std::size_t before = errors.size();
    std::set<std::string, std::less<>> faulty, changed;
    const auto fail = [&](const std::string& column, const std::string& text) {
        int number = 0;
        if (row.Columns)
            if (const auto it = row.Columns->find(column); it != row.Columns->end())
                number = it->second;
        errors.push_back({row.Line, number, column + ": " + text});
        faulty.insert(column);
    };
    const auto cell = [&](const char* column) -> const std::string* {
        const auto it = row.Cells.find(column);
        return it == row.Cells.end() || it->second.empty() ? nullptr : &it->second;
    };
    // What search prints for the panel: a cell that says the same keeps the value unchecked,
    // as an empty one does, whatever the panel holds.
    const std::vector<std::string> exported = PanelCells(current, "");
    const auto shown = [&](std::string_view column) -> const std::string& {
        return exported[std::size_t(
            std::find(std::begin(PanelColumns), std::end(PanelColumns), column) -
            std::begin(PanelColumns))];
    };
    const auto given = [&](const char* column) -> const std::string* {
        const std::string* text = cell(column);
        return text && found && *text == shown(column) ? nullptr : text;
    };

    const SettingsTexts was = TextsOf(current);
    SettingsTexts t = was;

    if (const std::string* mac = cell("mac")) {
        const auto bytes = ParseMac(*mac);
        if (!bytes)
            fail("mac", Quoted(*mac) + " is not a MAC address like 00:50:2A:10:00:A5");
        else if (!std::equal(bytes->begin(), bytes->end(), current.Mac))
            fail("mac", *mac + " is not the panel's MAC " + MacText(current.Mac));
    } else {
        fail("mac", "empty: the MAC names the panel");
    }
    // via is this computer's address the reply came to, not the panel's: any is taken.
    for (const char* column : {"version", "identity"})
        if (const std::string* text = given(column); text && found)
            fail(column, Quoted(*text) + " is not the panel's " + Quoted(shown(column)) +
                             ": the column is read-only (search reports it, a write cannot "
                             "set it); leave it as exported, or empty");

    if (const std::string* type = given("type")) {
        if (const auto parsed = ParseDeviceType(*type)) {
            if (static_cast<int>(*parsed) != was.Type) changed.insert("type");
            t.Type = static_cast<int>(*parsed);
        } else {
            fail("type", Quoted(*type) + " is not flat, villa or help");
        }
    }
    for (const auto& [column, field] :
         {std::pair{"address", &t.Address}, std::pair{"facility", &t.Facility}}) {
        const std::string* text = given(column);
        if (!text) continue;
        // A zero byte would end the panel's identity early; other control bytes no one means.
        if (std::any_of(text->begin(), text->end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
            fail(column, Quoted(*text) + " holds a control character");
        } else if (std::string_view(column) == "facility" && *text != "0" && *text != "1") {
            // The window lets "0.5" and "01" by and sends their first character.
            fail(column, Quoted(*text) + " is not 0 or 1 (Facility NO. between 0-1)");
        } else if (auto gbk = Utf8ToGbk(*text)) {
            if (*gbk != *field) changed.insert(column);
            *field = std::move(*gbk);
        } else {
            fail(column, Quoted(*text) + " holds a character the panels cannot take (GBK)");
        }
    }
    for (const auto& [column, bytes] :
         {std::pair{"ip", &t.Ip}, std::pair{"mask", &t.Subnet}, std::pair{"gateway", &t.Gateway},
          std::pair{"server", &t.Server}}) {
        const std::string* text = given(column);
        if (!text) continue;
        if (const std::string plain = WithoutLeadingZeros(*text); plain != *text) {
            fail(column, Quoted(*text) +
                             " has a part with a leading zero, which some programs "
                             "read as octal: write " +
                             plain + " if that is what is meant");
        } else if (const auto parsed = ParseIpv4(*text)) {
            for (int at = 0; at < 4; ++at) {
                const std::string byte = std::to_string((*parsed)[at]);
                if (byte != (*bytes)[at]) changed.insert(column);
                (*bytes)[at] = byte;
            }
        } else {
            fail(column, Quoted(*text) + " is not an IPv4 address like 192.168.1.20");
        }
    }
    if (const std::string* text = given("unlock")) {
        // The write carries one typed digit; anything longer would be cut to its first character.
        if (text->size() != 1 || (*text)[0] < '0' || (*text)[0] > '9')
            fail("unlock", Quoted(*text) + " is not a number of seconds: " + UnlockRange);
        else if (std::to_string(current.UnlockTime) != *text || !found)
            changed.insert("unlock");
        t.Unlock = *text;
    } else {
        // Kept: the write carries the panel's byte as it is, 10 s or more too.
        t.Unlock.assign(1, static_cast<char>(current.UnlockTime + '0'));
    }
    WriteFields fields;
    for (int c = 0; c < WriteFieldCount; ++c)
        fields[std::size_t(c)] = changed.count(PanelColumns[c]) != 0;
    if (changes) *changes = fields;
    // What is written must read back as asked, unless the user asked for exactly these bytes.
    const auto readsBack = [&](const CheckFailure& f) {
        return !(asWritten && f.Box == SettingsBox::Address && !f.Why.empty());
    };
    // Of a panel that did not answer only what the cells say is known: its type and address
    // when the row gives both.
    if (!found && !asWritten && !faulty.count("type") && !faulty.count("address") && cell("type") &&
        cell("address"))
        if (const auto back = ReadsBackOtherwise(t.Type, t.Address))
            fail("address", DeviceTypeName(static_cast<DeviceType>(t.Type)) + std::string(" ") +
                                GbkToUtf8(t.Address) + " " + back->Why +
                                " (or --as-written to write it all the same)");
    if (!found) return errors.size() != before ? std::nullopt : std::optional(t);
    // Nothing is sent for a row that changes nothing, so there is nothing to check.
    if (changed.empty()) return errors.size() != before ? std::nullopt : std::optional(t);

    // Every failed check, not only the first: mend each and check again.
    SettingsTexts probe = t;
    try {
        for (int round = 0; round < 32; ++round) {
            std::optional<CheckFailure> failure = FirstFailedCheck(probe, own, readsBack);
            if (!failure && changed.count("mask")) failure = CheckMask(probe);
            if (!failure) break;
            const char* column = ColumnOf(failure->Box);
            // A check speaks of the fields the row changes.
            if (!faulty.count(column) && Concerns(*failure, fields))
                fail(column, Explained(*failure, probe));
            Mend(probe, *failure);
        }
    } catch (const ConvertError& error) {
        fail("ip", error.what());
    }
    if (errors.size() != before) return std::nullopt;
    return t;
}

std::vector<std::string> PanelCells(const PanelRecord& found, std::string_view via) {
    return {MacText(found.Mac),
            DeviceTypeName(DeviceTypeOf(found)),
            GbkToUtf8(ShownAddress(found)),
            FieldText(&found.Facility, 1),
            Ipv4Text(found.Ip),
            Ipv4Text(found.Subnet),
            Ipv4Text(found.Gateway),
            Ipv4Text(found.Server),
            std::to_string(found.UnlockTime),
            FieldText(found.Version, sizeof found.Version),
            FieldText(&found.TypeLetter, PanelIdentityLength),
            std::string(via)};
}
