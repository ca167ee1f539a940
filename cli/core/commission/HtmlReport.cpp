#include "commission/HtmlReport.h"

#include <algorithm>
#include <map>
#include <set>

#include "PanelTexts.h"
#include "plan/Plan.h"

namespace {

// Cells of PanelCells by name.
enum Cell { Mac, Type, Address, Facility, Ip, Mask, Gateway, Server, Unlock, Version, Identity };

// The panel table's columns, as an installer reads a panel's label: what it is first.
const Cell Shown[] = {Type,    Address, Facility, Mac,     Ip,      Mask,
                      Gateway, Server,  Unlock,   Version, Identity};

const char* const Style = R"(
body { font: 10pt/1.35 "DejaVu Sans", Arial, sans-serif; color: #111; margin: 1.5em; }
h1 { font-size: 16pt; margin: 0 0 .2em; } h2 { font-size: 12pt; margin: 1.2em 0 .4em; }
.meta { color: #444; margin: 0 0 .8em; }
table { border-collapse: collapse; width: 100%; }
th, td { border: 1px solid #bbb; padding: 2px 4px; text-align: left; vertical-align: top; }
th { background: #eee; }
td.mono { font-family: "DejaVu Sans Mono", monospace; font-size: 9pt; white-space: nowrap; }
tr.fault td { background: #fde2e2; }
.bad { color: #b00000; font-weight: bold; } .good { color: #106010; }
ul.faults li { color: #b00000; }
.counts td { min-width: 6em; }
svg { display: block; margin: .4em 0; }
@page { size: A4 landscape; margin: 10mm; }
@media print {
  body { margin: 0; font-size: 8pt; }
  td.mono { font-size: 7pt; }
  thead { display: table-header-group; }
  tr, svg, li { break-inside: avoid; page-break-inside: avoid; }
  h2 { break-after: avoid; page-break-after: avoid; }
}
)";

const char* TypeColour(const std::string& type) {
    if (type == "villa") return "#2e8b57";
    if (type == "help") return "#e08a00";
    return "#2f6fb5"; // flat, and a type letter of no kind
}

std::string Tag(const char* name, const std::string& text, const std::string& attributes = "") {
    return std::string("<") + name + attributes + ">" + HtmlEscaped(text) + "</" + name + ">";
}

uint32_t Number(const uint8_t (&ip)[4]) {
    return uint32_t(ip[0]) << 24 | uint32_t(ip[1]) << 16 | uint32_t(ip[2]) << 8 | ip[3];
}

// The address plan: each /24 block that holds panels as 16 x 16 squares, one per address, in
// the colour of the panel's type; an address two panels share in red.
std::string AddressPicture(const std::vector<ReportPanel>& panels) {
    std::map<uint32_t, std::vector<const ReportPanel*>> byIp;
    for (const ReportPanel& p : panels)
        if (p.Found) byIp[Number(p.Record.Ip)].push_back(&p);
    std::set<uint32_t> blocks;
    for (const auto& [ip, list] : byIp)
        blocks.insert(ip >> 8);
    std::string out;
    constexpr int Size = 14, Gap = 2, Left = 30, Top = 16;
    for (const uint32_t block : blocks) {
        const std::string prefix = std::to_string(block >> 16) + "." +
                                   std::to_string((block >> 8) & 255) + "." +
                                   std::to_string(block & 255) + ".";
        out += Tag("h3", prefix + "0/24");
        const int width = Left + 16 * (Size + Gap), height = Top + 16 * (Size + Gap);
        out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
               "\" height=\"" + std::to_string(height) + "\" role=\"img\" aria-label=\"" +
               HtmlEscaped(prefix + "0/24") + "\">";
        for (int c = 0; c < 16; ++c)
            out += "<text x=\"" + std::to_string(Left + c * (Size + Gap) + 3) +
                   "\" y=\"11\" font-size=\"8\" fill=\"#666\">" + std::to_string(c) + "</text>";
        for (int r = 0; r < 16; ++r)
            out += "<text x=\"0\" y=\"" + std::to_string(Top + r * (Size + Gap) + 11) +
                   "\" font-size=\"8\" fill=\"#666\">." + std::to_string(r * 16) + "</text>";
        for (int last = 0; last < 256; ++last) {
            const auto it = byIp.find(block << 8 | uint32_t(last));
            std::string fill = "#f2f2f2", title = prefix + std::to_string(last) + ": free";
            if (it != byIp.end()) {
                const auto& list = it->second;
                fill = list.size() > 1 ? "#d00000"
                                       : TypeColour(PanelCells(list.front()->Record, "")[Type]);
                title = prefix + std::to_string(last) + ":";
                for (const ReportPanel* p : list) {
                    const auto cells = PanelCells(p->Record, "");
                    title += " " + cells[Type] + " " + cells[Address] + " (" + cells[Mac] + ")";
                }
                if (list.size() > 1) title += " - clash";
            }
            out += "<rect x=\"" + std::to_string(Left + (last % 16) * (Size + Gap)) + "\" y=\"" +
                   std::to_string(Top + (last / 16) * (Size + Gap)) + "\" width=\"" +
                   std::to_string(Size) + "\" height=\"" + std::to_string(Size) + "\" fill=\"" +
                   fill + "\" stroke=\"#999\" stroke-width=\"0.5\">" + Tag("title", title) +
                   "</rect>";
        }
        out += "</svg>\n";
    }
    if (blocks.empty()) return "<p>No panel answered.</p>\n";
    std::string legend = "<p>";
    for (const char* type : {"flat", "villa", "help"})
        legend += "<span style=\"color:" + std::string(TypeColour(type)) + "\">&#9632;</span> " +
                  type + " &nbsp; ";
    legend += "<span style=\"color:#d00000\">&#9632;</span> two or more panels on one address "
              "&nbsp; <span style=\"color:#bbb\">&#9632;</span> free</p>\n";
    return legend + out;
}

} // namespace

std::string HtmlEscaped(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            out += "&amp;";
            break;
        case '<':
            out += "&lt;";
            break;
        case '>':
            out += "&gt;";
            break;
        case '"':
            out += "&quot;";
            break;
        case '\'':
            out += "&#39;";
            break;
        default:
            // Control characters a panel may report are shown, not passed on.
            if (static_cast<unsigned char>(c) < 0x20 && c != '\t' && c != '\n')
                out += "&#9647;";
            else
                out += c;
        }
    }
    return out;
}

std::string ReportHtml(const ReportInput& input) {
    const bool withPlan = !input.PlanName.empty();
    std::set<std::string> faulty;
    for (const SiteFault& f : input.Faults)
        faulty.insert(f.Macs.begin(), f.Macs.end());

    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += Tag("title", "Call panels: site report " + input.Generated) + "\n";
    html += "<style>" + std::string(Style) + "</style>\n</head>\n<body>\n";
    html += Tag("h1", "Call panels: site report") + "\n";
    std::string meta = "Found " + input.Generated + " by callpanel " + input.Version + " from ";
    std::string addresses;
    for (const std::string& a : input.ComputerAddresses)
        addresses += (addresses.empty() ? "" : ", ") + a;
    meta += addresses.empty() ? "this computer" : addresses;
    if (withPlan) meta += "; checked against the plan " + input.PlanName;
    html += Tag("p", meta + ".", " class=\"meta\"") + "\n";

    // Counts by type, and by check result with a plan.
    std::map<std::string, int> types;
    std::map<std::string, int> results;
    int found = 0;
    for (const ReportPanel& p : input.Panels) {
        if (p.Found) {
            ++found;
            ++types[PanelCells(p.Record, "")[Type]];
        }
        if (withPlan) ++results[p.Result];
    }
    html += Tag("h2", "Summary") + "\n<table class=\"counts\"><thead><tr>";
    html += Tag("th", "panels found");
    for (const char* type : {"flat", "villa", "help"})
        html += Tag("th", type);
    if (withPlan)
        for (const char* result : {"as planned", "differs", "missing", "extra"})
            html += Tag("th", result);
    html += Tag("th", "site faults") + "</tr></thead><tbody><tr>";
    html += Tag("td", std::to_string(found));
    for (const char* type : {"flat", "villa", "help"})
        html += Tag("td", std::to_string(types[type]));
    if (withPlan)
        for (const char* result : {"as planned", "differs", "missing", "extra"})
            html += Tag(
                "td", std::to_string(results[result]),
                results[result] > 0 && std::string(result) != "as planned" ? " class=\"bad\"" : "");
    html += Tag("td", std::to_string(input.Faults.size()),
                input.Faults.empty() ? " class=\"good\"" : " class=\"bad\"") +
            "</tr></tbody></table>\n";

    html += Tag("h2", "Site faults") + "\n";
    if (input.Faults.empty()) {
        html += "<p class=\"good\">None: no address twice, every gateway on its panel's subnet, "
                "every server reachable, no panel left on the factory subnet.</p>\n";
    } else {
        html += "<ul class=\"faults\">";
        for (const SiteFault& f : input.Faults)
            html += Tag("li", f.Text);
        html += "</ul>\n";
    }

    html += Tag("h2", "Panels") + "\n<table>\n<thead><tr>";
    std::vector<std::string> heads = {"type",   "call address", "facility", "MAC",
                                      "IP",     "mask",         "gateway",  "server",
                                      "unlock", "version",      "identity"};
    for (const std::string& note : input.NoteColumns)
        heads.push_back(note.size() > 1 && note[0] == '#' ? note.substr(note[1] == ' ' ? 2 : 1)
                                                          : note);
    if (withPlan) heads.insert(heads.end(), {"check", "details"});
    for (const std::string& h : heads)
        html += Tag("th", h);
    html += "</tr></thead>\n<tbody>\n";
    for (const ReportPanel& p : input.Panels) {
        const auto cells = PanelCells(p.Record, p.Via);
        const bool bad = faulty.count(cells[Mac]) > 0 ||
                         (withPlan && p.Result != "as planned" && !p.Result.empty());
        html += bad ? "<tr class=\"fault\">" : "<tr>";
        for (const Cell c : Shown) {
            const std::string text = c == Mac || p.Found ? cells[std::size_t(c)] : "";
            const bool mono = c == Mac || c == Ip || c == Mask || c == Gateway || c == Server ||
                              c == Address || c == Identity;
            html += Tag("td", text, mono ? " class=\"mono\"" : "");
        }
        for (const std::string& note : input.NoteColumns) {
            std::string text;
            for (const auto& [name, value] : p.Notes)
                if (name == note) text = value;
            html += Tag("td", text);
        }
        if (withPlan) {
            html += Tag("td", p.Result,
                        p.Result == "as planned" ? " class=\"good\"" : " class=\"bad\"");
            html += Tag("td", p.Details);
        }
        html += "</tr>\n";
    }
    html += "</tbody>\n</table>\n";
    html += Tag("h2", "Address plan") + "\n" + AddressPicture(input.Panels);
    html += "</body>\n</html>\n";
    return html;
}
