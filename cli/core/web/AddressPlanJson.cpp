#include "web/AddressPlanJson.h"

#include "commission/AddressPlan.h"

nlohmann::json AddressPlanJson(const LiveSite& site) {
    nlohmann::json blocks = nlohmann::json::array();
    for (const AddressBlock& block : AddressPlan(site.Present())) {
        nlohmann::json used = nlohmann::json::array();
        for (const AddressSquare& s : block.Used)
            used.push_back(
                {{"last", s.Last}, {"kind", s.Kind}, {"colour", s.Colour}, {"title", s.Title}});
        blocks.push_back({{"prefix", block.Prefix}, {"used", std::move(used)}});
    }
    nlohmann::json legend = nlohmann::json::array();
    for (const auto& [meaning, colour] : AddressLegend())
        legend.push_back({{"meaning", meaning}, {"colour", colour}});
    return {{"blocks", std::move(blocks)},
            {"free", FreeAddressColour()},
            {"legend", std::move(legend)}};
}
