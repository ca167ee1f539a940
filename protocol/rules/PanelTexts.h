#pragma once

// How a panel record reads as text, without Qt: device type, address, MAC and IPv4 texts, and
// the GBK the panels use on the wire. The window and the command-line tool share these rules.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "PanelKeys.h"
#include "PanelRecord.h"

// The window's device type selector, by its indexes.
enum class DeviceType { Flat = 0, Help = 1, Villa = 2 };

// 'H' is a flat camera, any other letter a help station; a flat camera whose address is ten
// bytes with the 5th to 10th all '0' is a villa camera.
DeviceType DeviceTypeOf(const PanelRecord& r);

// The address as shown: wire bytes up to the first zero byte (at most 10), cut after the 4th
// when bytes 5 to 10 are all '0'. GBK bytes, as the record holds them.
std::string ShownAddress(const PanelRecord& r);

// Panel bytes to UTF-8, for every screen and output: a byte that is not part of a whole GBK
// character becomes U+FFFD, one per byte.
std::string GbkToUtf8(std::string_view gbk);
// UTF-8 to GBK; nullopt when the text is not valid UTF-8 or a character has no GBK form.
std::optional<std::string> Utf8ToGbk(std::string_view utf8);
// UTF-8 to the bytes a panel receives, for texts typed into the window: ASCII as it stands,
// other characters in GBK, '?' for each character (or stray byte) without a GBK form.
std::string WireBytes(std::string_view utf8);

// The bytes of a fixed field up to its first zero byte (at most `size`), as UTF-8 from GBK.
std::string FieldText(const char* bytes, std::size_t size);

// "00:50:2A:10:00:A5": upper-case hexadecimal, colons between.
std::string MacText(const uint8_t (&mac)[6]);
std::string MacText(const MacAddress& mac);
// The MAC of a text such as MacText gives, in either case; '-' between the bytes is read too.
std::optional<MacAddress> ParseMac(std::string_view text);
// "192.168.1.20".
std::string Ipv4Text(const uint8_t (&a)[4]);
// Strict: exactly four decimal parts of 1 to 3 digits, each 0 to 255, no blanks or signs.
std::optional<std::array<uint8_t, 4>> ParseIpv4(std::string_view text);

// "flat", "villa", "help".
const char* DeviceTypeName(DeviceType t);
// The names above, in any case.
std::optional<DeviceType> ParseDeviceType(std::string_view name);

// Bytes of the UTF-8 character that begins with `lead`: 2 to 4, or 1 for a byte that begins no
// character (ASCII, a continuation byte, or one never used).
std::size_t Utf8LeadLength(unsigned char lead);
