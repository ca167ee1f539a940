#include "SettingsChecks.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>

#include "PanelTexts.h"

namespace {

constexpr const char* RangeText = "Pls input a number between 0 - 255！";
constexpr const char* InvalidIpText = "Invalid IP！";
constexpr const char* InvalidMaskText = "Invalid subnet mask！";
constexpr const char* InputAgainTitle = "Pls input again";
constexpr const char* ErrorTitle = "Error";
constexpr int FlatCamera = 0;
constexpr int VillaCamera = 2;
constexpr std::size_t AddressLength = 10;
constexpr std::size_t ShortAddressLength = 4;

bool InByteRange(int value) {
    return value >= 0 && value <= 255;
}
// A host byte of 0 or 255 would name the network or the broadcast.
bool IsNetworkOrBroadcast(int value) {
    return value == 0 || value == 255;
}

CheckFailure Information(SettingsBox box, const char* text) {
    return CheckFailure{box, 0, text, ErrorTitle, CheckIconInformation, false, {}};
}

// One address box: its fourth byte first, then every byte's range. Converts in that order, so a
// bad fourth byte is the one the conversion error quotes.
std::optional<CheckFailure> CheckAddress(SettingsBox box, const std::string (&bytes)[4]) {
    if (IsNetworkOrBroadcast(StrToInt(bytes[3])))
        return CheckFailure{box, 3, InvalidIpText, InputAgainTitle, CheckIconError, false, {}};
    for (int at = 0; at < 4; ++at)
        if (!InByteRange(StrToInt(bytes[at])))
            return CheckFailure{box, at, RangeText, InputAgainTitle, CheckIconError, true, {}};
    return std::nullopt;
}

// The low 8 bits of each text, as the staging takes them.
Ipv4Bytes BytesOf(const std::string (&texts)[4]) {
    Ipv4Bytes bytes;
    for (int at = 0; at < 4; ++at)
        bytes[at] = static_cast<uint8_t>(StrToInt(texts[at]));
    return bytes;
}

uint32_t Joined(const Ipv4Bytes& b) {
    return uint32_t(b[0]) << 24 | uint32_t(b[1]) << 16 | uint32_t(b[2]) << 8 | b[3];
}

CheckFailure Unreachable(SettingsBox box, int index, const char* text, std::string why) {
    // This failure behaves as the window's "Invalid IP！" does: the focus moves to the box, and
    // its text is not selected.
    return CheckFailure{box, index, text, InputAgainTitle, CheckIconError, false, std::move(why)};
}

// The prefix length (the count of leading one bits) of a contiguous mask, or -1 for a mask
// whose ones are not contiguous.
int PrefixLength(const Ipv4Bytes& mask) {
    const uint32_t m = Joined(mask);
    int ones = 0;
    while (ones < 32 && (m & (0x80000000u >> ones)) != 0)
        ++ones;
    const uint32_t contiguous = ones == 0 ? 0 : ~uint32_t(0) << (32 - ones);
    return m == contiguous ? ones : -1;
}

// Only /1 to /30 leave room for a network address, a gateway and the panel.
bool UsableMask(int prefix) {
    return prefix >= 1 && prefix <= 30;
}

// An IP address a panel cannot be reached at.
std::optional<CheckFailure> CutOffIp(const SettingsTexts& t, const std::vector<Ipv4Bytes>& own) {
    const Ipv4Bytes ip = BytesOf(t.Ip);
    const auto badIp = [](int index, const char* why) {
        return Unreachable(SettingsBox::Ip, index, InvalidIpText, why);
    };
    if (ip[0] == 0) return badIp(0, "in 0.0.0.0/8, which names no host");
    if (ip[0] == 127) return badIp(0, "a loopback address");
    if (ip[0] >= 224 && ip[0] <= 239) return badIp(0, "a multicast address");
    if (ip == Ipv4Bytes{255, 255, 255, 255}) return badIp(3, "the limited broadcast address");
    for (const Ipv4Bytes& address : own)
        if (address == ip) return badIp(3, "an address of this computer");
    // A mask that is no mask (the window leaves it unchecked) has no network or broadcast.
    try {
        const Ipv4Bytes mask = BytesOf(t.Subnet);
        if (UsableMask(PrefixLength(mask))) {
            const uint32_t host = Joined(ip) & ~Joined(mask);
            if (host == 0) return badIp(3, "the network address of its subnet");
            if (host == ~Joined(mask)) return badIp(3, "the broadcast address of its subnet");
        }
    } catch (const ConvertError&) {
        // A mask text that is not an integer is not this check's to report: the staging
        // refuses it later, at the point where the window refuses it too.
    }
    return std::nullopt;
}

std::optional<CheckFailure> GatewayIsIp(const SettingsTexts& t) {
    if (BytesOf(t.Gateway) == BytesOf(t.Ip))
        return Unreachable(SettingsBox::Gateway, 3, InvalidIpText, "the panel's own IP address");
    return std::nullopt;
}

} // namespace

std::optional<CheckFailure> CheckMask(const SettingsTexts& t) {
    const Ipv4Bytes mask = BytesOf(t.Subnet);
    const int prefix = PrefixLength(mask);
    const auto bad = [](int index, std::string why) {
        return CheckFailure{SettingsBox::Subnet, index, InvalidMaskText, InputAgainTitle,
                            CheckIconError,      true,  std::move(why)};
    };
    if (prefix < 0) {
        int at = 0;
        while (at < 3 && mask[at] == 255)
            ++at;
        return bad(at, "not a subnet mask: its ones must come first, without a gap");
    }
    if (prefix == 0) return bad(0, "/0, which makes every address local");
    if (prefix > 30) {
        std::string why = std::to_string(prefix);
        why.insert(0, 1, '/').append(", which leaves no room for a gateway");
        return bad(3, std::move(why));
    }
    return std::nullopt;
}

namespace {

void StageBytes(const std::string (&texts)[4], uint8_t (&bytes)[4]) {
    for (int at = 0; at < 4; ++at)
        bytes[at] = static_cast<uint8_t>(StrToInt(texts[at]));
}

std::string Decimal(unsigned value) {
    return std::to_string(value);
}

void DecimalBytes(const uint8_t (&bytes)[4], std::string (&texts)[4]) {
    for (int at = 0; at < 4; ++at)
        texts[at] = Decimal(bytes[at]);
}

} // namespace

ConvertError::ConvertError(std::string text)
    : std::runtime_error("'" + text + "' is not a valid integer value."), BoxText(std::move(text)) {
}

int StrToInt(std::string_view text) {
    const auto fail = [&text]() { return ConvertError(std::string(text)); };
    std::size_t at = 0;
    while (at < text.size() && text[at] == ' ')
        ++at;
    bool negative = false;
    if (at < text.size() && (text[at] == '+' || text[at] == '-')) {
        negative = text[at] == '-';
        ++at;
    }
    if (at == text.size()) throw fail();
    // Accumulate as a negative number so that the most negative value fits.
    constexpr long long Lowest = std::numeric_limits<int32_t>::min();
    long long value = 0;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        if (c < '0' || c > '9') throw fail();
        value = value * 10 - (c - '0');
        if (value < Lowest) throw fail();
    }
    if (!negative) {
        value = -value;
        if (value > std::numeric_limits<int32_t>::max()) throw fail();
    }
    return static_cast<int>(value);
}

std::optional<uint8_t> HexByte(std::string_view text) {
    std::size_t at = 0;
    // The white space that "%x" skips in the C locale.
    while (at < text.size() && text[at] != 0 && std::strchr(" \t\n\v\f\r", text[at]) != nullptr)
        ++at;
    unsigned value = 0;
    bool any = false;
    for (; at < text.size(); ++at) {
        const char c = text[at];
        unsigned digit;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        else
            break;
        value = ((value << 4) | digit) & 0xFFu; // only the low 8 bits are kept anyway
        any = true;
    }
    if (!any) return std::nullopt;
    return static_cast<uint8_t>(value);
}

int CompareBytes(std::string_view a, std::string_view b) {
    const std::size_t common = std::min(a.size(), b.size());
    for (std::size_t i = 0; i < common; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

SettingsTexts TextsOf(const PanelRecord& r) {
    SettingsTexts t;
    t.Type = static_cast<int>(DeviceTypeOf(r));
    t.Address = ShownAddress(r);
    if (r.Facility != 0) t.Facility = std::string(1, r.Facility);
    for (int at = 0; at < 3; ++at) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02X", r.Mac[3 + at]);
        t.Mac[at] = hex;
    }
    DecimalBytes(r.Ip, t.Ip);
    DecimalBytes(r.Subnet, t.Subnet);
    DecimalBytes(r.Gateway, t.Gateway);
    DecimalBytes(r.Server, t.Server);
    t.Unlock = Decimal(r.UnlockTime);
    return t;
}

void FillEmpty(SettingsTexts& t) {
    const auto fill = [](std::string& text) {
        if (text.empty()) text = "10";
    };
    for (std::string& text : t.Mac)
        fill(text);
    for (std::string(*box)[4] : {&t.Ip, &t.Subnet, &t.Gateway, &t.Server})
        for (std::string& text : *box)
            fill(text);
    fill(t.Unlock);
}

std::optional<CheckFailure> FirstFailedCheck(const SettingsTexts& t,
                                             const std::vector<Ipv4Bytes>& ownAddresses,
                                             const CheckFilter& counts) {
    const auto fails = [&](const std::optional<CheckFailure>& failure) {
        return failure && (!counts || counts(*failure));
    };
    for (const auto& [box, bytes] :
         {std::pair{SettingsBox::Ip, &t.Ip}, std::pair{SettingsBox::Gateway, &t.Gateway},
          std::pair{SettingsBox::Server, &t.Server}})
        if (auto failure = CheckAddress(box, *bytes); fails(failure)) return failure;
    std::optional<CheckFailure> failure;
    if (t.Type == FlatCamera && t.Address.size() != AddressLength)
        failure =
            Information(SettingsBox::Address, "Invalid Address bits ，10 bits for Flat station！");
    if (t.Type != FlatCamera && t.Address.size() != ShortAddressLength)
        failure = Information(SettingsBox::Address,
                              "Invalid Address bits ，4 bits for Help station & Villa camera！");
    else if (const auto readBack = ReadsBackOtherwise(t.Type, t.Address))
        failure = CheckFailure{SettingsBox::Address,
                               0,
                               t.Type == FlatCamera && readBack->Type == VillaCamera
                                   ? "Flat station address can not end with 000000 ，it reads "
                                     "back as Villa camera！"
                                   : "Invalid Address ，it reads back as another address！",
                               ErrorTitle,
                               CheckIconInformation,
                               true,
                               readBack->Why};
    if (fails(failure)) return failure;
    failure.reset();
    if (t.Facility.empty())
        failure = Information(SettingsBox::Facility, "Invalid facility NO.");
    else if (CompareBytes(t.Facility, "0") < 0 || CompareBytes(t.Facility, "1") > 0)
        failure = Information(SettingsBox::Facility, "Facility NO. between 0-1");
    if (fails(failure)) return failure;
    failure.reset();
    if (t.Type == FlatCamera &&
        (CompareBytes(t.Unlock, "1") < 0 || CompareBytes(t.Unlock, "9") > 0))
        failure = Information(SettingsBox::Unlock, "Unlocking time between 1-9");
    if (fails(failure)) return failure;
    // A MAC byte that holds no hexadecimal digit has no value to send.
    for (int at = 0; at < 3; ++at)
        if (!HexByte(t.Mac[at])) {
            failure = CheckFailure{
                SettingsBox::Mac, at, "Invalid MAC！", InputAgainTitle, CheckIconError, true, {}};
            if (fails(failure)) return failure;
            break;
        }
    if (failure = CutOffIp(t, ownAddresses); fails(failure)) return failure;
    if (failure = GatewayIsIp(t); fails(failure)) return failure;
    return std::nullopt;
}

namespace {

// The type letter and address as a write stages them.
void StageIdentity(int type, std::string_view address, PanelRecord& pending) {
    pending.TypeLetter = (type == FlatCamera || type == VillaCamera) ? 'H' : 'P';
    for (std::size_t at = 0; at < address.size() && at < AddressLength; ++at)
        pending.Address[at] = address[at];
    if (address.size() == ShortAddressLength)
        for (std::size_t at = ShortAddressLength; at < AddressLength; ++at)
            pending.Address[at] = '0';
}

} // namespace

std::optional<ReadBack> ReadsBackOtherwise(int type, std::string_view address) {
    // Only an address of the length the type takes is written; the others fail before.
    if (address.size() != (type == FlatCamera ? AddressLength : ShortAddressLength))
        return std::nullopt;
    PanelRecord staged{};
    StageIdentity(type, address, staged);
    ReadBack back{static_cast<int>(DeviceTypeOf(staged)), ShownAddress(staged), {}};
    if (back.Type == type && back.Address == address) return std::nullopt;
    const auto named = [](int t, std::string_view a) {
        return std::string(DeviceTypeName(static_cast<DeviceType>(t))) + " " +
               GbkToUtf8(std::string(a));
    };
    back.Why = "reads back as " + named(back.Type, back.Address);
    if (type == FlatCamera && back.Type == VillaCamera)
        back.Why += ": on the wire a flat camera whose address ends in six zeros is a villa "
                    "camera; write villa " +
                    GbkToUtf8(back.Address) +
                    " if that is meant, or give the flat camera an address that does not end "
                    "in 000000";
    else
        back.Why += ": a zero byte ends the address on the wire; leave it out";
    return back;
}

void StageSettings(const SettingsTexts& t, PanelRecord& pending) {
    StageIdentity(t.Type, t.Address, pending);
    pending.Facility = t.Facility.empty() ? '\0' : t.Facility[0];
    pending.Terminator = 0;
    pending.Mac[0] = 0x00;
    pending.Mac[1] = 0x50;
    pending.Mac[2] = 0x2A;
    for (int at = 0; at < 3; ++at)
        if (const std::optional<uint8_t> byte = HexByte(t.Mac[at])) pending.Mac[3 + at] = *byte;
    StageBytes(t.Ip, pending.Ip);
    StageBytes(t.Subnet, pending.Subnet);
    StageBytes(t.Gateway, pending.Gateway);
    StageBytes(t.Server, pending.Server);
    pending.UnlockTime = t.Unlock.empty() ? 0 : static_cast<uint8_t>(t.Unlock[0]);
}

bool SameSegment(const PanelRecord& staged) {
    for (int at = 0; at < 4; ++at)
        if ((staged.Ip[at] & staged.Subnet[at]) != (staged.Gateway[at] & staged.Subnet[at]))
            return false;
    return true;
}

bool ReportsStaged(const PanelRecord& reported, const PanelRecord& pending) {
    const auto same = [](const auto& a, const auto& b) {
        static_assert(sizeof a == sizeof b);
        return std::memcmp(&a, &b, sizeof a) == 0;
    };
    return reported.TypeLetter == pending.TypeLetter && same(reported.Address, pending.Address) &&
           reported.Facility == pending.Facility && same(reported.Mac, pending.Mac) &&
           same(reported.Ip, pending.Ip) && same(reported.Subnet, pending.Subnet) &&
           same(reported.Gateway, pending.Gateway) && same(reported.Server, pending.Server) &&
           // the write request sends the typed digit as a number of seconds
           reported.UnlockTime == static_cast<uint8_t>(pending.UnlockTime - '0');
}
