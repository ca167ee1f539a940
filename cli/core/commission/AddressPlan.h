#pragma once

// The address plan that the handover report draws and the commissioning page draws from the
// live site: each /24 block that holds panels as 16 x 16 squares, one per address, coloured by
// what holds it. One decision for both, so that the page and the printed report never disagree.

#include <string>
#include <utility>
#include <vector>

#include "PanelRecord.h"

struct AddressSquare {
    // The address's last number, 0 to 255.
    int Last = 0;
    // The panel's type ("flat", "villa", "help"), or "clash" when two or more panels hold it.
    std::string Kind;
    // The colour the square is drawn in, as "#rrggbb".
    std::string Colour;
    // What a pointer over the square shows: "10.1.2.5: flat 0101000001 (00:50:2A:A8:01:64)",
    // each panel that holds it, then " - clash" when there are two or more.
    std::string Title;
};

struct AddressBlock {
    // The block's first three numbers, as "10.1.2.".
    std::string Prefix;
    // The addresses that panels hold, in address order.
    std::vector<AddressSquare> Used;
};

// The blocks that hold `panels`, by address.
std::vector<AddressBlock> AddressPlan(const std::vector<PanelRecord>& panels);

// The colour of an address no panel holds.
const char* FreeAddressColour();

// What each colour means, in the order the legend shows them: the types, a clash, free.
std::vector<std::pair<std::string, std::string>> AddressLegend();
