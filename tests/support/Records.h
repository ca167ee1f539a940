#pragma once

#include <initializer_list>

#include "PanelRecord.h"

// Fills the fields of a record from readable arguments: the 12-character identity (type letter,
// 10-character address, facility), the addresses byte by byte, the version text.
PanelRecord MakeRecord(const char* identity12, std::initializer_list<int> mac,
                       std::initializer_list<int> ip, std::initializer_list<int> subnet,
                       std::initializer_list<int> gateway, std::initializer_list<int> server,
                       const char* version, int spare, int unlockTime);

#include <string>
#include <vector>

// Panels whose records hold what the write rules would not make of their texts: four digits and
// zero bytes, a type letter other than H and P, a zero facility byte, address bytes that are no
// GBK character, unlocking times of 0, 12 and 255 s, another maker's MAC. A write that leaves a
// field alone must send its bytes as they are. IP 10.200.13.7/24, gateway .1, server .2.
struct UnusualPanel {
    const char* Name;
    PanelRecord Record;
};
std::vector<UnusualPanel> UnusualPanels();

// The new block of a write request (bytes 52 to 95) that gives a panel `r`'s settings.
std::string NewBlock(const PanelRecord& r);
