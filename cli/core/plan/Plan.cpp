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

// Turns "010.083.001.011" into "10.83.1.11" and leaves any other text as it is.
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
        // A time the row keeps is stored as the request's character, seconds + '0'; the message
        // gives it back in seconds.
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

// One plan row read over a panel's settings, column by column: the texts it stages, the
// columns whose values it changes, and its errors, each naming its column.
class RowReading {
  public:
    RowReading(const PlanRow& row, const PanelRecord& current, bool found,
               std::vector<PlanError>& errors)
        : Row(row), Current(current), Found(found), Errors(errors),
          Exported(PanelCells(current, "")), Was(TextsOf(current)), Texts(Was) {}

    void ReadMac();
    void ReadReadOnly();
    void ReadType();
    void ReadIdentityTexts();
    void ReadAddresses();
    void ReadUnlock();
    WriteFields Fields() const;
    void CheckReadsBack();
    void Fail(const std::string& column, const std::string& text);

  private:
    const std::string* Cell(const char* column) const;
    const std::string& Shown(std::string_view column) const;
    const std::string* Given(const char* column) const;

    const PlanRow& Row;
    const PanelRecord& Current;
    const bool Found;
    std::vector<PlanError>& Errors;
    // What search prints for the panel: a cell that says the same keeps the value unchecked,
    // as an empty one does, whatever the panel holds.
    const std::vector<std::string> Exported;
    const SettingsTexts Was;

  public:
    // The columns with an error, those whose values the row changes, and the texts it stages
    // (over Was).
    std::set<std::string, std::less<>> Faulty, Changed;
    SettingsTexts Texts;
};

void RowReading::Fail(const std::string& column, const std::string& text) {
    int number = 0;
    if (Row.Columns)
        if (const auto it = Row.Columns->find(column); it != Row.Columns->end())
            number = it->second;
    Errors.push_back({Row.Line, number, column + ": " + text});
    Faulty.insert(column);
}

const std::string* RowReading::Cell(const char* column) const {
    const auto it = Row.Cells.find(column);
    return it == Row.Cells.end() || it->second.empty() ? nullptr : &it->second;
}

const std::string& RowReading::Shown(std::string_view column) const {
    return Exported[std::size_t(
        std::find(std::begin(PanelColumns), std::end(PanelColumns), column) -
        std::begin(PanelColumns))];
}

const std::string* RowReading::Given(const char* column) const {
    const std::string* text = Cell(column);
    return text && Found && *text == Shown(column) ? nullptr : text;
}

void RowReading::ReadMac() {
    if (const std::string* mac = Cell("mac")) {
        const auto bytes = ParseMac(*mac);
        if (!bytes)
            Fail("mac", Quoted(*mac) + " is not a MAC address like 00:50:2A:10:00:A5");
        else if (!std::equal(bytes->begin(), bytes->end(), Current.Mac))
            Fail("mac", *mac + " is not the panel's MAC " + MacText(Current.Mac));
    } else {
        Fail("mac", "empty: the MAC names the panel");
    }
}

// The via cell holds this computer's address that the reply came to, not anything of the
// panel's, so any value in it is accepted.
void RowReading::ReadReadOnly() {
    for (const char* column : {"version", "identity"})
        if (const std::string* text = Given(column); text && Found)
            Fail(column, Quoted(*text) + " is not the panel's " + Quoted(Shown(column)) +
                             ": the column is read-only (search reports it, a write cannot "
                             "set it); leave it as exported, or empty");
}

void RowReading::ReadType() {
    if (const std::string* type = Given("type")) {
        if (const auto parsed = ParseDeviceType(*type)) {
            if (static_cast<int>(*parsed) != Was.Type) Changed.insert("type");
            Texts.Type = static_cast<int>(*parsed);
        } else {
            Fail("type", Quoted(*type) + " is not flat, villa or help");
        }
    }
}

void RowReading::ReadIdentityTexts() {
    for (const auto& [column, field] :
         {std::pair{"address", &Texts.Address}, std::pair{"facility", &Texts.Facility}}) {
        const std::string* text = Given(column);
        if (!text) continue;
        // A zero byte would end the panel's identity early, and no one means the other control
        // bytes, so every byte below 0x20 is refused.
        if (std::any_of(text->begin(), text->end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20; })) {
            Fail(column, Quoted(*text) + " holds a control character");
        } else if (std::string_view(column) == "facility" && *text != "0" && *text != "1") {
            // The window lets "0.5" and "01" by and sends their first character.
            Fail(column, Quoted(*text) + " is not 0 or 1 (Facility NO. between 0-1)");
        } else if (auto gbk = Utf8ToGbk(*text)) {
            if (*gbk != *field) Changed.insert(column);
            *field = std::move(*gbk);
        } else {
            Fail(column, Quoted(*text) + " holds a character the panels cannot take (GBK)");
        }
    }
}

void RowReading::ReadAddresses() {
    for (const auto& [column, bytes] :
         {std::pair{"ip", &Texts.Ip}, std::pair{"mask", &Texts.Subnet},
          std::pair{"gateway", &Texts.Gateway}, std::pair{"server", &Texts.Server}}) {
        const std::string* text = Given(column);
        if (!text) continue;
        if (const std::string plain = WithoutLeadingZeros(*text); plain != *text) {
            Fail(column, Quoted(*text) +
                             " has a part with a leading zero, which some programs "
                             "read as octal: write " +
                             plain + " if that is what is meant");
        } else if (const auto parsed = ParseIpv4(*text)) {
            for (int at = 0; at < 4; ++at) {
                const std::string byte = std::to_string((*parsed)[at]);
                if (byte != (*bytes)[at]) Changed.insert(column);
                (*bytes)[at] = byte;
            }
        } else {
            Fail(column, Quoted(*text) + " is not an IPv4 address like 192.168.1.20");
        }
    }
}

void RowReading::ReadUnlock() {
    if (const std::string* text = Given("unlock")) {
        // The write carries one typed digit; anything longer would be cut to its first character.
        if (text->size() != 1 || (*text)[0] < '0' || (*text)[0] > '9')
            Fail("unlock", Quoted(*text) + " is not a number of seconds: " + UnlockRange);
        else if (std::to_string(Current.UnlockTime) != *text || !Found)
            Changed.insert("unlock");
        Texts.Unlock = *text;
    } else {
        // Without an unlock cell the write carries the panel's own byte as it is, also a time of
        // 10 s or more that no typed digit could give.
        Texts.Unlock.assign(1, static_cast<char>(Current.UnlockTime + '0'));
    }
}

WriteFields RowReading::Fields() const {
    WriteFields fields;
    for (int c = 0; c < WriteFieldCount; ++c)
        fields[std::size_t(c)] = Changed.count(PanelColumns[c]) != 0;
    return fields;
}

// Of a panel that did not answer only what the cells say is known: its type and address when
// the row gives both.
void RowReading::CheckReadsBack() {
    if (Faulty.count("type") || Faulty.count("address") || !Cell("type") || !Cell("address"))
        return;
    if (const auto back = ReadsBackOtherwise(Texts.Type, Texts.Address))
        Fail("address", DeviceTypeName(static_cast<DeviceType>(Texts.Type)) + std::string(" ") +
                            GbkToUtf8(Texts.Address) + " " + back->Why +
                            " (or --as-written to write it all the same)");
}

} // namespace

std::optional<SettingsTexts> RowSettings(const PlanRow& row, const PanelRecord& current,
                                         std::vector<PlanError>& errors, bool found,
                                         const std::vector<Ipv4Bytes>& own, WriteFields* changes,
                                         bool asWritten) {
    const std::size_t before = errors.size();
    RowReading reading(row, current, found, errors);
    reading.ReadMac();
    reading.ReadReadOnly();
    reading.ReadType();
    reading.ReadIdentityTexts();
    reading.ReadAddresses();
    reading.ReadUnlock();
    const WriteFields fields = reading.Fields();
    if (changes) *changes = fields;
    if (!found && !asWritten) reading.CheckReadsBack();
    // Nothing is sent for a row that changes nothing, so there is nothing to check.
    if (!found || reading.Changed.empty())
        return errors.size() != before ? std::nullopt : std::optional(reading.Texts);

    // What is written must read back as asked, unless the user asked for exactly these bytes.
    const auto readsBack = [&](const CheckFailure& f) {
        return !(asWritten && f.Box == SettingsBox::Address && !f.Why.empty());
    };
    // Every failed check of the window, not only the first: mend each and check again.
    SettingsTexts probe = reading.Texts;
    try {
        for (int round = 0; round < 32; ++round) {
            std::optional<CheckFailure> failure = FirstFailedCheck(probe, own, readsBack);
            if (!failure && reading.Changed.count("mask")) failure = CheckMask(probe);
            if (!failure) break;
            const char* column = ColumnOf(failure->Box);
            // A check speaks of the fields the row changes.
            if (!reading.Faulty.count(column) && Concerns(*failure, fields))
                reading.Fail(column, Explained(*failure, probe));
            Mend(probe, *failure);
        }
    } catch (const ConvertError& error) {
        reading.Fail("ip", error.what());
    }
    if (errors.size() != before) return std::nullopt;
    return reading.Texts;
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
