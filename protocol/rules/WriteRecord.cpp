#include "WriteRecord.h"

#include <cstdio>
#include <cstring>

#include "PanelKeys.h"

namespace {

constexpr uint8_t DigitZero = '0';

template <std::size_t N> void Copy(const uint8_t (&from)[N], uint8_t (&to)[N]) {
    std::memcpy(to, from, N);
}

std::string Escaped(const char* bytes, std::size_t size) {
    std::string out;
    for (std::size_t at = 0; at < size; ++at) {
        const auto c = static_cast<unsigned char>(bytes[at]);
        if (c >= 0x20 && c < 0x7F && c != '\\') {
            out += char(c);
        } else {
            char hex[5];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        }
    }
    return out;
}

} // namespace

PanelRecord AsPending(const PanelRecord& reported) {
    PanelRecord pending = reported;
    pending.UnlockTime = static_cast<uint8_t>(reported.UnlockTime + DigitZero);
    return pending;
}

PanelRecord AsReported(const PanelRecord& pending) {
    PanelRecord reported = pending;
    reported.UnlockTime = static_cast<uint8_t>(pending.UnlockTime - DigitZero);
    return reported;
}

void KeepUnchanged(const PanelRecord& reported, const WriteFields& changed, PanelRecord& staged) {
    if (!changed[TypeField]) staged.TypeLetter = reported.TypeLetter;
    if (!changed[AddressField] && !changed[TypeField])
        std::memcpy(staged.Address, reported.Address, sizeof staged.Address);
    if (!changed[FacilityField]) staged.Facility = reported.Facility;
    staged.Terminator = 0;
    std::memcpy(staged.Mac, reported.Mac, 3);
    if (!changed[MacField]) Copy(reported.Mac, staged.Mac);
    if (!changed[IpField]) Copy(reported.Ip, staged.Ip);
    if (!changed[MaskField]) Copy(reported.Subnet, staged.Subnet);
    if (!changed[GatewayField]) Copy(reported.Gateway, staged.Gateway);
    if (!changed[ServerField]) Copy(reported.Server, staged.Server);
    if (!changed[UnlockField])
        staged.UnlockTime = static_cast<uint8_t>(reported.UnlockTime + DigitZero);
}

WriteFields ChangedBytes(const PanelRecord& from, const PanelRecord& to) {
    WriteFields changed;
    changed[TypeField] = from.TypeLetter != to.TypeLetter;
    changed[AddressField] = std::memcmp(from.Address, to.Address, sizeof from.Address) != 0;
    changed[FacilityField] = from.Facility != to.Facility;
    changed[MacField] = !Same(from.Mac, to.Mac);
    changed[IpField] = !Same(from.Ip, to.Ip);
    changed[MaskField] = !Same(from.Subnet, to.Subnet);
    changed[GatewayField] = !Same(from.Gateway, to.Gateway);
    changed[ServerField] = !Same(from.Server, to.Server);
    changed[UnlockField] = from.UnlockTime != to.UnlockTime;
    return changed;
}

bool Concerns(const CheckFailure& failure, const WriteFields& changed) {
    // The checks that keep a panel reachable say why; they look at two fields.
    const bool cutOff = !failure.Why.empty();
    switch (failure.Box) {
    case SettingsBox::Address:
        return changed[AddressField] || changed[TypeField];
    case SettingsBox::Facility:
        return changed[FacilityField];
    case SettingsBox::Unlock:
        return changed[UnlockField] || changed[TypeField];
    case SettingsBox::Mac:
        return changed[MacField];
    case SettingsBox::Ip:
        return changed[IpField] || (cutOff && changed[MaskField]);
    case SettingsBox::Subnet:
        return changed[MaskField];
    case SettingsBox::Gateway:
        return changed[GatewayField] || (cutOff && changed[IpField]);
    case SettingsBox::Server:
        return changed[ServerField];
    }
    return true;
}

bool SegmentConcerned(const WriteFields& changed) {
    return changed[IpField] || changed[MaskField] || changed[GatewayField];
}

std::string FieldBytes(const PanelRecord& r, WriteField field) {
    switch (field) {
    case TypeField:
        return Escaped(&r.TypeLetter, 1);
    case AddressField:
        return Escaped(r.Address, sizeof r.Address);
    case FacilityField:
        return Escaped(&r.Facility, 1);
    default:
        break;
    }
    return "";
}
