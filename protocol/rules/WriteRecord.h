#pragma once

// What a write sends, for the window's Write and callpanel alike: the fields the user changed
// as the texts stage them, every other byte as the panel reported it. A panel's odd bytes (a
// type letter other than H and P, zero bytes or non-GBK bytes in its address, an unlocking time
// of 10 s or more) are not the user's to lose by writing something else.

#include <string>

#include "PanelRecord.h"
#include "SettingsChecks.h"
#include "WriteFields.h"

// A report (unlocking time in seconds) as a write stages it (unlocking time as the character the
// request turns back into seconds: seconds + '0', modulo 256, so 12 s stays 12 s).
PanelRecord AsPending(const PanelRecord& reported);
// What a panel reports once it holds `pending`.
PanelRecord AsReported(const PanelRecord& pending);

// Puts the bytes of `reported` into `staged` wherever `changed` leaves a field alone. A changed
// type changes the address too (a villa camera's address ends in six "0", a flat camera's need
// not). The first three MAC bytes, which no box or cell shows, stay the panel's. Only the fields
// a write sends are touched.
void KeepUnchanged(const PanelRecord& reported, const WriteFields& changed, PanelRecord& staged);

// The fields whose bytes differ between two reports.
WriteFields ChangedBytes(const PanelRecord& from, const PanelRecord& to);

// Whether a failed check speaks of a field the write changes: a panel may already hold what a
// check forbids (a flat camera with a four-digit address, x.y.10.255 in a /16), and writing it
// back as it is changes nothing.
bool Concerns(const CheckFailure& failure, const WriteFields& changed);
// The same-segment rule concerns the IP address, the mask and the gateway.
bool SegmentConcerned(const WriteFields& changed);

// The bytes of an identity field (type, address or facility) as text, for the reports when the
// shown text hides what changes: printable ASCII as it is, any other byte as \xNN. Empty for
// the other fields, whose texts show every byte.
std::string FieldBytes(const PanelRecord& r, WriteField field);
