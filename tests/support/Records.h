#pragma once

#include <initializer_list>

#include "PanelRecord.h"

// Fills the fields of a record from readable arguments: the 12-character identity (type letter,
// 10-character address, facility), the addresses byte by byte, the version text.
PanelRecord MakeRecord(const char* identity12, std::initializer_list<int> mac,
                       std::initializer_list<int> ip, std::initializer_list<int> subnet,
                       std::initializer_list<int> gateway, std::initializer_list<int> server,
                       const char* version, int spare, int unlockTime);
