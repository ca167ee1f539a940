#include "PanelLine.h"

#include <cstdio>
#include <cstring>

int FormatPanelLine(const PanelRecord& record, char (&out)[PanelLineSize]) {
    // The identity is three fields in a row, ended by the record's zero terminator; a zero byte
    // inside it ends the text early.
    char identity[PanelIdentityLength + 1] = {};
    identity[0] = record.TypeLetter;
    std::memcpy(identity + 1, record.Address, sizeof record.Address);
    identity[PanelIdentityLength - 1] = record.Facility;
    const int n = std::snprintf(out, sizeof out, "%s - %d.%d.%d.%d", identity, record.Ip[0],
                                record.Ip[1], record.Ip[2], record.Ip[3]);
    return n < 0 ? 0 : n;
}
