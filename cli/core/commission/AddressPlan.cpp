#include "commission/AddressPlan.h"

#include <map>

#include "plan/Plan.h"

namespace {

const char* const ClashColour = "#d00000";

const char* TypeColour(const std::string& type) {
    if (type == "villa") return "#2e8b57";
    if (type == "help") return "#e08a00";
    return "#2f6fb5"; // Flat cameras, and any type letter that names no known kind.
}

uint32_t Number(const uint8_t (&ip)[4]) {
    return uint32_t(ip[0]) << 24 | uint32_t(ip[1]) << 16 | uint32_t(ip[2]) << 8 | ip[3];
}

// The square of one address and the panels that hold it.
AddressSquare Square(const std::string& prefix, int last,
                     const std::vector<const PanelRecord*>& holders) {
    AddressSquare square;
    square.Last = last;
    const bool clash = holders.size() > 1;
    square.Kind = clash ? "clash" : PanelCells(*holders.front(), "")[1];
    square.Colour = clash ? ClashColour : TypeColour(square.Kind);
    square.Title = prefix + std::to_string(last) + ":";
    for (const PanelRecord* p : holders) {
        const auto cells = PanelCells(*p, "");
        square.Title += " " + cells[1] + " " + cells[2] + " (" + cells[0] + ")";
    }
    if (clash) square.Title += " - clash";
    return square;
}

} // namespace

std::vector<AddressBlock> AddressPlan(const std::vector<PanelRecord>& panels) {
    std::map<uint32_t, std::vector<const PanelRecord*>> byIp;
    for (const PanelRecord& p : panels)
        byIp[Number(p.Ip)].push_back(&p);
    std::vector<AddressBlock> blocks;
    for (const auto& [ip, holders] : byIp) {
        const uint32_t block = ip >> 8;
        const std::string prefix = std::to_string(block >> 16) + "." +
                                   std::to_string((block >> 8) & 255) + "." +
                                   std::to_string(block & 255) + ".";
        if (blocks.empty() || blocks.back().Prefix != prefix) blocks.push_back({prefix, {}});
        blocks.back().Used.push_back(Square(prefix, int(ip & 255), holders));
    }
    return blocks;
}

const char* FreeAddressColour() {
    return "#f2f2f2";
}

std::vector<std::pair<std::string, std::string>> AddressLegend() {
    return {{"flat", TypeColour("flat")},
            {"villa", TypeColour("villa")},
            {"help", TypeColour("help")},
            {"two or more panels on one address", ClashColour},
            {"free", "#bbb"}};
}
