#pragma once

// The checks and the staging of a Write, without Qt: the window runs them on its boxes' texts,
// the command-line tool on the rows of a plan. Texts and order are the window's own.

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "PanelRecord.h"

// What the window's boxes hold. Address, facility and unlocking time are GBK wire bytes (their
// lengths and comparisons are of bytes); the other boxes are UTF-8 as typed.
struct SettingsTexts {
    int Type = 0; // 0 Flat Camera, 1 Help Station, 2 Villa Camera
    std::string Address, Facility;
    std::string Mac[3];                                  // MAC bytes 4..6, hexadecimal texts
    std::string Ip[4], Subnet[4], Gateway[4], Server[4]; // decimal texts
    std::string Unlock;
};

enum class SettingsBox { Address, Facility, Mac, Ip, Subnet, Gateway, Server, Unlock };

// Message box flags.
inline constexpr int CheckIconError = 16;
inline constexpr int CheckIconInformation = 64;

// The first failed check: its box and the message the window shows for it.
struct CheckFailure {
    SettingsBox Box;
    int Index;               // byte 0..3 (0..2 for Mac) within the box, 0 otherwise
    std::string Text, Title; // UTF-8, the window's exact texts
    int Flags;               // CheckIconError or CheckIconInformation
    bool SelectAll;          // the box's whole text is selected after the focus moves there
    std::string Why;         // for the checks that keep a panel reachable: what is wrong, in
                             // words ("a loopback address"); empty for the window's own checks
};

using Ipv4Bytes = std::array<uint8_t, 4>;

// A box text that is not a valid integer. what(): "'<text>' is not a valid integer value."
class ConvertError : public std::runtime_error {
  public:
    explicit ConvertError(std::string text);
    const std::string& Text() const { return BoxText; } // the offending text, as given

  private:
    std::string BoxText;
};

// Signed 32-bit decimal: leading blanks, an optional sign, then decimal digits up to the end of
// the text. Throws ConvertError.
int StrToInt(std::string_view text);
// Scans like "%x": leading white space, then hexadecimal digits of either case up to the first
// other character; the low 8 bits of their value. nullopt when no digit follows the blanks.
std::optional<uint8_t> HexByte(std::string_view text);
// Byte strings compared as unsigned bytes; a string that begins the other sorts first.
// Negative, zero or positive.
int CompareBytes(std::string_view a, std::string_view b);

// What the window shows for a directory record (unlocking time in decimal seconds).
SettingsTexts TextsOf(const PanelRecord& directoryRecord);

// The window's "10" in every empty MAC, IP, subnet, gateway, server and unlocking time text.
void FillEmpty(SettingsTexts& t);

// The window's checks in its order (a type and address that would read back as another, see
// ReadsBackOtherwise, fails as the address's length does), then those that keep the panel
// reachable, with the window's "Invalid IP！": an IP in 0.x, loopback, multicast, the limited
// broadcast, one of `ownAddresses` (this computer's) or, under a mask of /1 to /30, its subnet's
// network or broadcast address; a gateway equal to the IP. nullopt when all pass. Throws
// ConvertError when an IP, gateway or server text is not a valid integer; a mask text that is none
// is left to StageSettings. With `counts`, a failure it rejects is passed over (with the rest of
// its address box) and the checks go on.
using CheckFilter = std::function<bool(const CheckFailure&)>;
std::optional<CheckFailure> FirstFailedCheck(const SettingsTexts& t,
                                             const std::vector<Ipv4Bytes>& ownAddresses = {},
                                             const CheckFilter& counts = {});
// The command line's check of the mask, which the window leaves unchecked: contiguous, /1 to
// /30 ("Invalid subnet mask！"). Throws ConvertError for a mask text that is not an integer.
std::optional<CheckFailure> CheckMask(const SettingsTexts& t);

// The type and address a panel reports once a write has staged `type` and `address` (GBK bytes,
// as StageSettings puts them), when that is not what was asked: the wire has no type of its own
// for a villa camera, which is a flat camera ('H') whose ten-byte address ends in six '0', so a
// flat camera's address ending so reads back as a villa camera's four; and a zero byte ends an
// address. Why: what reads back and why, then what to write instead, in words. Every face asks
// this before it writes (FirstFailedCheck does), and `check` to judge a plan's row.
struct ReadBack {
    int Type;            // as SettingsTexts::Type
    std::string Address; // GBK bytes, as ShownAddress gives them
    std::string Why;
};
std::optional<ReadBack> ReadsBackOtherwise(int type, std::string_view address);

// Writes the settings into `pending` field by field in the window's order (type letter,
// address, facility, terminator, MAC, IP, subnet, gateway, server, unlocking time character).
// Throws ConvertError part-way: the fields before the failing one stay written. Meant for texts
// that passed FirstFailedCheck; a MAC text without a value leaves its byte as it was.
void StageSettings(const SettingsTexts& t, PanelRecord& pending);

// (ip & mask) == (gateway & mask) for every byte of the staged record.
bool SameSegment(const PanelRecord& staged);
inline constexpr const char* SegmentText = "IP and Gateway must be in same network segment";

// True when a panel now reporting `reported` (a directory record, unlocking time in seconds)
// holds what `pending` staged (unlocking time as the typed digit): identity, MAC, the four
// addresses and the unlocking time. With the panel's current record as `reported` it also tells
// whether a write would change nothing.
bool ReportsStaged(const PanelRecord& reported, const PanelRecord& pending);
