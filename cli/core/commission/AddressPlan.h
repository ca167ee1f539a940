#pragma once

// The address plan that the handover report draws and the commissioning page draws from the
// live site: each /24 block that holds panels as 16 x 16 squares, one per address, coloured by
// what holds it. One decision for both, so that the page and the printed report never disagree.

#include <string>
#include <utility>
#include <vector>

#include "PanelRecord.h"

struct AddressSquare {
    int Last = 0;       // the address's last number, 0 to 255
    std::string Kind;   // the panel's type ("flat", "villa", "help"), or "clash" for two or more
    std::string Colour; // the colour the square is drawn in, "#rrggbb"
    std::string Title;  // "10.1.2.5: flat 0101000001 (00:50:2A:A8:01:64)", " - clash" after two
};

struct AddressBlock {
    std::string Prefix;              // "10.1.2.", the block's first three numbers
    std::vector<AddressSquare> Used; // the addresses panels hold, by address
};

// The blocks that hold `panels`, by address.
std::vector<AddressBlock> AddressPlan(const std::vector<PanelRecord>& panels);

// The colour of an address no panel holds.
const char* FreeAddressColour();

// What each colour means, in the order the legend shows them: the types, a clash, free.
std::vector<std::pair<std::string, std::string>> AddressLegend();
