#pragma once

#include "PanelRecord.h"

// Longest line: 12 identity characters, " - ", four bytes of up to three digits and three points.
constexpr int PanelLineSize = PanelIdentityLength + 3 + 15 + 1;

// The list line of a panel, "%s - %d.%d.%d.%d": its identity up to the first zero byte, then its
// IP address. Returns the line's length; `out` is zero-terminated.
int FormatPanelLine(const PanelRecord& record, char (&out)[PanelLineSize]);
