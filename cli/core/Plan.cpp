#include "Plan.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "PanelTexts.h"
#include "TerminalText.h"

namespace {

std::string Quoted(std::string_view text) {
    std::string quoted(1, '\''); // a zero byte or ESC shown, not obeyed
    quoted.append(TerminalText(text)).append(1, '\'');
    return quoted;
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
    case SettingsBox::Ip:
        t.Ip[failure.Index] = "1";
        break;
    case SettingsBox::Subnet:
        t.Subnet[failure.Index] = "0";
        break;
    case SettingsBox::Gateway:
        t.Gateway[failure.Index] = "1";
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

std::optional<std::array<uint8_t, 6>> ParseMac(std::string_view text) {
    if (text.size() != 17) return std::nullopt;
    std::array<uint8_t, 6> mac{};
    const char separator = text[2];
    if (separator != ':' && separator != '-') return std::nullopt;
    for (int at = 0; at < 6; ++at) {
        if (at > 0 && text[at * 3 - 1] != separator) return std::nullopt;
        unsigned value = 0;
        for (const char c : text.substr(at * 3, 2)) {
            value <<= 4;
            if (c >= '0' && c <= '9')
                value |= unsigned(c - '0');
            else if (c >= 'a' && c <= 'f')
                value |= unsigned(c - 'a' + 10);
            else if (c >= 'A' && c <= 'F')
                value |= unsigned(c - 'A' + 10);
            else
                return std::nullopt;
        }
        mac[at] = static_cast<uint8_t>(value);
    }
    return mac;
}

std::optional<SettingsTexts> RowSettings(const PlanRow& row, const PanelRecord& current,
                                         std::vector<PlanError>& errors, bool found) {
    const std::size_t before = errors.size();
    std::set<std::string, std::less<>> faulty;
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
    // The write always sends 00:50:2A as the first three bytes.
    if (found && !faulty.count("mac") &&
        (current.Mac[0] != 0x00 || current.Mac[1] != 0x50 || current.Mac[2] != 0x2A))
        fail("mac", MacText(current.Mac) + " does not begin with 00:50:2A, which a write sets");

    if (const std::string* type = cell("type")) {
        if (const auto parsed = ParseDeviceType(*type))
            t.Type = static_cast<int>(*parsed);
        else
            fail("type", Quoted(*type) + " is not flat, villa or help");
    }
    for (const auto& [column, field] :
         {std::pair{"address", &t.Address}, std::pair{"facility", &t.Facility}}) {
        if (const std::string* text = cell(column)) {
            // A zero byte would end the panel's identity early; other control bytes no one means.
            if (std::any_of(text->begin(), text->end(),
                            [](char c) { return static_cast<unsigned char>(c) < 0x20; }))
                fail(column, "holds a control character");
            else if (auto gbk = Utf8ToGbk(*text))
                *field = std::move(*gbk);
            else
                fail(column, Quoted(*text) + " holds a character the panels cannot take (GBK)");
        }
    }
    for (const auto& [column, bytes] :
         {std::pair{"ip", &t.Ip}, std::pair{"mask", &t.Subnet}, std::pair{"gateway", &t.Gateway},
          std::pair{"server", &t.Server}}) {
        if (const std::string* text = cell(column)) {
            if (const auto parsed = ParseIpv4(*text)) {
                for (int at = 0; at < 4; ++at)
                    (*bytes)[at] = std::to_string((*parsed)[at]);
            } else {
                fail(column, Quoted(*text) + " is not an IPv4 address like 192.168.1.20");
            }
        }
    }
    if (const std::string* text = cell("unlock")) t.Unlock = *text;
    // The write carries one typed digit; anything longer would be cut to its first character.
    const bool digit = t.Unlock.size() == 1 && t.Unlock[0] >= '0' && t.Unlock[0] <= '9';
    const bool unlockKept = found && t.Unlock == was.Unlock;
    if (unlockKept && !digit)
        // A panel's own time of 10 s or more, kept: the write carries its byte as it is.
        t.Unlock.assign(1, static_cast<char>(current.UnlockTime + '0'));
    else if ((found || cell("unlock") != nullptr) && !digit)
        fail("unlock", Quoted(t.Unlock) + " is not a number of seconds from 0 to 9");
    // Of a panel that did not answer only what the cells say is known.
    if (!found) return errors.size() != before ? std::nullopt : std::optional(t);

    // Nothing is sent for a row that changes nothing, so there is nothing to check.
    const auto same = [](const auto& a, const auto& b) {
        return std::equal(std::begin(a), std::end(a), std::begin(b));
    };
    if (errors.size() == before && t.Type == was.Type && t.Address == was.Address &&
        t.Facility == was.Facility && same(t.Mac, was.Mac) && same(t.Ip, was.Ip) &&
        same(t.Subnet, was.Subnet) && same(t.Gateway, was.Gateway) && same(t.Server, was.Server) &&
        unlockKept)
        return t;
    // The last-byte rule holds for the addresses the row changes; a panel may already sit on
    // one it forbids (x.y.10.255 in a /16).
    const auto unchanged = [&](const CheckFailure& failure) {
        switch (failure.Box) {
        case SettingsBox::Ip:
            return same(t.Ip, was.Ip);
        case SettingsBox::Gateway:
            return same(t.Gateway, was.Gateway);
        case SettingsBox::Server:
            return same(t.Server, was.Server);
        default:
            return false;
        }
    };
    // Every failed window check, not only the first: mend each and check again.
    SettingsTexts probe = t;
    try {
        for (int round = 0; round < 32; ++round) {
            const std::optional<CheckFailure> failure = FirstFailedCheck(probe);
            if (!failure) break;
            const char* column = ColumnOf(failure->Box);
            if (!faulty.count(column) && !unchanged(*failure)) fail(column, failure->Text);
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
