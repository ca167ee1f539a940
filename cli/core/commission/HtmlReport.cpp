#include "commission/HtmlReport.h"

#include <algorithm>
#include <map>
#include <set>

#include "PanelTexts.h"
#include "commission/AddressPlan.h"
#include "plan/Plan.h"

namespace {

// The positions of PanelCells' cells, named.
enum Cell { Mac, Type, Address, Facility, Ip, Mask, Gateway, Server, Unlock, Version, Identity };

// The panel table's columns, as an installer reads a panel's label: what it is first.
const Cell Shown[] = {Type,    Address, Facility, Mac,     Ip,      Mask,
                      Gateway, Server,  Unlock,   Version, Identity};

const char* const Style = R"(
body { font: 10pt/1.35 "DejaVu Sans", Arial, sans-serif; color: #111; margin: 1.5em; }
h1 { font-size: 16pt; margin: 0 0 .2em; } h2 { font-size: 12pt; margin: 1em 0 .3em; }
h3 { font-size: 9pt; margin: 0 0 .1em; }
table.meta { width: auto; margin: 0 0 .6em; } table.meta th { background: none; }
table.meta th, table.meta td { border: 0; padding: 0 1em 0 0; }
.legend { color: #333; margin: .2em 0 .4em; }
table { border-collapse: collapse; width: 100%; }
th, td { border: 1px solid #bbb; padding: 1px 3px; text-align: left; vertical-align: top; }
th { background: #eee; }
td.mono { font-family: "DejaVu Sans Mono", monospace; font-size: 9pt; white-space: nowrap; }
tr.fault td { background: #fde2e2; }
.bad { color: #b00000; font-weight: bold; } .good { color: #106010; }
.counts td { min-width: 6em; }
.grids { font-size: 0; }
.grid { display: inline-block; vertical-align: top; margin: 0 8px 6px 0; font-size: 9pt; }
svg { display: block; }
@page { size: A4 landscape; margin: 10mm; }
@media print {
  body { margin: 0; font-size: 7pt; line-height: 1.1; }
  h1 { font-size: 13pt; } h2 { font-size: 10pt; }
  td.mono { font-size: 6.5pt; }
  /* One line a panel, as small as reads well: 2,000 panels in about 35 pages. */
  table.panels td { white-space: nowrap; padding: 0 2px; font-size: 6.5pt; line-height: 1.05; }
  thead { display: table-header-group; }
  tr, .grid, li { break-inside: avoid; page-break-inside: avoid; }
  h2 { break-after: avoid; page-break-after: avoid; }
}
)";

std::string Tag(const char* name, const std::string& text, const std::string& attributes = "") {
    return std::string("<") + name + attributes + ">" + HtmlEscaped(text) + "</" + name + ">";
}

// One /24 block as an SVG grid. The heading goes inside the grid's box, which is never split
// across pages, so that a heading and its grid stay on one page.
std::string BlockPicture(const AddressBlock& block) {
    // Small enough that five grids stand side by side and three rows of them on a landscape page.
    constexpr int Size = 9, Gap = 1, Left = 24, Top = 12;
    const std::string name = block.Prefix + "0/24";
    std::string out = "<div class=\"grid\">" + Tag("h3", name);
    const int width = Left + 16 * (Size + Gap), height = Top + 16 * (Size + Gap);
    out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + std::to_string(width) +
           "\" height=\"" + std::to_string(height) + "\" role=\"img\" aria-label=\"" +
           HtmlEscaped(name) + "\">";
    // Only every fourth column is numbered, because two digits do not fit over one square.
    for (int c = 0; c < 16; c += 4)
        out += "<text x=\"" + std::to_string(Left + c * (Size + Gap) + 1) +
               "\" y=\"9\" font-size=\"7\" fill=\"#666\">" + std::to_string(c) + "</text>";
    for (int r = 0; r < 16; ++r)
        out += "<text x=\"0\" y=\"" + std::to_string(Top + r * (Size + Gap) + 8) +
               "\" font-size=\"7\" fill=\"#666\">." + std::to_string(r * 16) + "</text>";
    auto used = block.Used.begin();
    for (int last = 0; last < 256; ++last) {
        std::string fill = FreeAddressColour(),
                    title = block.Prefix + std::to_string(last) + ": free";
        if (used != block.Used.end() && used->Last == last) {
            fill = used->Colour;
            title = used->Title;
            ++used;
        }
        out += "<rect x=\"" + std::to_string(Left + (last % 16) * (Size + Gap)) + "\" y=\"" +
               std::to_string(Top + (last / 16) * (Size + Gap)) + "\" width=\"" +
               std::to_string(Size) + "\" height=\"" + std::to_string(Size) + "\" fill=\"" + fill +
               "\" stroke=\"#999\" stroke-width=\"0.5\">" + Tag("title", title) + "</rect>";
    }
    return out + "</svg></div>\n";
}

// The address plan (AddressPlan) drawn: each /24 block that holds panels as 16 x 16 squares,
// one per address.
std::string AddressPicture(const std::vector<ReportPanel>& panels) {
    std::vector<PanelRecord> found;
    for (const ReportPanel& p : panels)
        if (p.Found) found.push_back(p.Record);
    const std::vector<AddressBlock> blocks = AddressPlan(found);
    if (blocks.empty()) return "<p>No panel answered.</p>\n";
    std::string out;
    for (const AddressBlock& block : blocks)
        out += BlockPicture(block);
    std::string legend = "<p>";
    for (const auto& [meaning, colour] : AddressLegend())
        legend += "<span style=\"color:" + colour + "\">&#9632;</span> " + HtmlEscaped(meaning) +
                  " &nbsp; ";
    legend += "</p>\n";
    return legend + "<div class=\"grids\">" + out + "</div>\n";
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

namespace {

// The plan's column an owner finds a panel by.
int LocationColumn(const std::vector<std::string>& notes) {
    for (std::size_t at = 0; at < notes.size(); ++at)
        if (notes[at].find("location") != std::string::npos ||
            notes[at].find("Location") != std::string::npos)
            return int(at);
    return notes.empty() ? -1 : 0;
}

std::string NoteOf(const ReportPanel& p, const std::string& column) {
    for (const auto& [name, value] : p.Notes)
        if (name == column) return value;
    return "";
}

std::string Heading(const std::string& note) {
    return note.size() > 1 && note[0] == '#' ? note.substr(note[1] == ' ' ? 2 : 1) : note;
}

const char* const Legend =
    "Details read \xE2\x80\x9C"
    "field: on the site \xE2\x86\x92 in the plan\xE2\x80\x9D: what "
    "the panel holds now, then what its plan row asks for. This report changes nothing.";

// What every section of the report needs to know besides the input: whether a plan was
// checked, and which of the plan's note columns tells an owner where a panel is.
struct ReportView {
    const ReportInput& Input;
    bool WithPlan;
    bool HasLocation;
    std::string LocationColumn;
};

// The document's head and the table that says which site, who, where, when and against what.
std::string HeadAndMeta(const ReportView& view) {
    const ReportInput& input = view.Input;
    const std::string title =
        "Call panels: handover report" + (input.Site.empty() ? "" : " \xE2\x80\x93 " + input.Site);
    std::string html = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n";
    html += Tag("title", title + " " + input.Generated) + "\n";
    html += "<style>" + std::string(Style) + "</style>\n</head>\n<body>\n";
    html += Tag("h1", title) + "\n";

    std::string addresses;
    for (const std::string& a : input.ComputerAddresses)
        addresses += (addresses.empty() ? "" : ", ") + a;
    html += "<table class=\"meta\"><tbody>\n";
    const auto meta = [&](const char* name, const std::string& value) {
        if (!value.empty()) html += "<tr>" + Tag("th", name) + Tag("td", value) + "</tr>\n";
    };
    meta("Site", input.Site);
    meta("Made by", input.By);
    meta("Computer", (input.Host.empty() ? std::string("this computer") : input.Host) +
                         (addresses.empty() ? "" : " (" + addresses + ")"));
    meta("Date", input.Generated);
    meta("Plan", view.WithPlan ? input.PlanName : "none: the site as found");
    meta("Tool", "callpanel " + input.Version);
    html += "</tbody></table>\n";
    return html;
}

// One problem row for each site fault, located by the places of the panels it names.
std::string FaultRows(const ReportView& view) {
    std::map<std::string, std::string> placeOf; // MAC -> location
    for (const ReportPanel& p : view.Input.Panels)
        if (view.HasLocation) placeOf[MacText(p.Record.Mac)] = NoteOf(p, view.LocationColumn);
    std::string rows;
    for (const SiteFault& f : view.Input.Faults) {
        std::string places;
        for (const std::string& mac : f.Macs)
            if (const auto it = placeOf.find(mac); it != placeOf.end() && !it->second.empty())
                places += (places.empty() ? "" : ", ") + it->second;
        std::string macs;
        for (const std::string& mac : f.Macs)
            macs += (macs.empty() ? "" : " ") + mac;
        rows += "<tr>" + Tag("td", places) + Tag("td", "site fault", " class=\"bad\"") +
                Tag("td", macs, " class=\"mono\"") + Tag("td", "") + Tag("td", "") +
                Tag("td", f.Text) + "</tr>\n";
    }
    return rows;
}

// Problems come first in the report: every plan row that is not as planned, then every site
// fault, or a sentence saying that there are none.
std::string ProblemsSection(const ReportView& view) {
    std::string html = Tag("h2", "Problems") + "\n";
    std::string problems;
    for (const ReportPanel& p : view.Input.Panels) {
        if (!view.WithPlan || p.Result == "as planned" || p.Result.empty()) continue;
        const auto cells = PanelCells(p.Record, "");
        problems +=
            "<tr>" +
            Tag("td", p.Result == "extra" ? "(not in the plan)" : NoteOf(p, view.LocationColumn)) +
            Tag("td", p.Result, " class=\"bad\"") + Tag("td", cells[Mac], " class=\"mono\"") +
            Tag("td", p.Found ? cells[Ip] : "", " class=\"mono\"") +
            Tag("td", p.Found ? cells[Type] + " " + cells[Address] : "") +
            Tag("td", p.Result == "missing" ? "did not answer" : p.Details) + "</tr>\n";
    }
    problems += FaultRows(view);
    if (problems.empty()) {
        html += "<p class=\"good\">None: " +
                std::string(view.WithPlan ? "every panel of the plan is as planned, none is extra; "
                                          : "") +
                "no address twice, every gateway on its panel's subnet, every server reachable, "
                "no panel left on the factory subnet.</p>\n";
        return html;
    }
    if (view.WithPlan) html += Tag("p", Legend, " class=\"legend\"") + "\n";
    html += "<table class=\"problems\"><thead><tr>";
    for (const char* h : {"location", "problem", "MAC", "IP", "type, call address", "details"})
        html += Tag("th", h);
    html += "</tr></thead>\n<tbody>\n" + problems + "</tbody></table>\n";
    return html;
}

// The counts of panels found by type, and with a plan by the result of its check.
std::string SummarySection(const ReportView& view) {
    const ReportInput& input = view.Input;
    std::map<std::string, int> types;
    std::map<std::string, int> results;
    int found = 0;
    for (const ReportPanel& p : input.Panels) {
        if (p.Found) {
            ++found;
            ++types[PanelCells(p.Record, "")[Type]];
        }
        if (view.WithPlan) ++results[p.Result];
    }
    std::string html = Tag("h2", "Summary") + "\n<table class=\"counts\"><thead><tr>";
    html += Tag("th", "panels found");
    for (const char* type : {"flat", "villa", "help"})
        html += Tag("th", type);
    // A partial as-built plan's rows without a panel yet are counted apart.
    std::vector<const char*> resultNames{"as planned", "differs", "missing", "extra"};
    if (results[NotAssignedYet] > 0) resultNames.push_back(NotAssignedYet);
    if (view.WithPlan)
        for (const char* result : resultNames)
            html += Tag("th", result);
    html += Tag("th", "site faults") + "</tr></thead><tbody><tr>";
    html += Tag("td", std::to_string(found));
    for (const char* type : {"flat", "villa", "help"})
        html += Tag("td", std::to_string(types[type]));
    if (view.WithPlan)
        for (const char* result : resultNames)
            html += Tag(
                "td", std::to_string(results[result]),
                results[result] > 0 && std::string(result) != "as planned" ? " class=\"bad\"" : "");
    html += Tag("td", std::to_string(input.Faults.size()),
                input.Faults.empty() ? " class=\"good\"" : " class=\"bad\"") +
            "</tr></tbody></table>\n";
    return html;
}

// The runs whose records lie beside the plan, and how many of their panels still hold what
// each run wrote.
std::string WorkDoneSection(const std::vector<ReportRun>& runs) {
    std::string html = Tag("h2", "Work done") + "\n";
    if (runs.empty())
        return html + "<p>No record of a run: no as-built plan beside the plan, no undo plan of "
                      "these panels.</p>\n";
    html += "<table class=\"runs\"><thead><tr>";
    for (const char* h :
         {"when", "what", "panels", "holding it now", "record (undo or as-built plan)"})
        html += Tag("th", h);
    html += "</tr></thead>\n<tbody>\n";
    for (const ReportRun& run : runs)
        html += "<tr>" + Tag("td", run.When) + Tag("td", run.What) +
                Tag("td", std::to_string(run.Panels)) +
                Tag("td", std::to_string(run.Verified),
                    run.Verified == run.Panels ? " class=\"good\"" : " class=\"bad\"") +
                Tag("td", run.Record, " class=\"mono\"") + "</tr>\n";
    html += "</tbody></table>\n";
    return html;
}

// The plan's note columns in the panel table's order: the location first, as an owner looks a
// panel up, and the other notes after the panel's settings.
std::vector<std::string> NotesInOrder(const ReportView& view) {
    std::vector<std::string> notes;
    if (view.HasLocation) notes.push_back(view.LocationColumn);
    for (const std::string& note : view.Input.NoteColumns)
        if (note != view.LocationColumn) notes.push_back(note);
    return notes;
}

// The table's heading row for the note columns in `notes` around the panel's settings.
std::string PanelHeadings(const ReportView& view, const std::vector<std::string>& notes) {
    std::vector<std::string> heads;
    if (view.HasLocation) heads.push_back(Heading(view.LocationColumn));
    for (const char* h : {"type", "call address", "facility", "MAC", "IP", "mask", "gateway",
                          "server", "unlock", "version", "identity"})
        heads.push_back(h);
    for (std::size_t n = view.HasLocation ? 1 : 0; n < notes.size(); ++n)
        heads.push_back(Heading(notes[n]));
    if (view.WithPlan) heads.insert(heads.end(), {"check", "details"});
    std::string html;
    for (const std::string& h : heads)
        html += Tag("th", h);
    return html;
}

// One row for each panel, marked when a site fault names it or its check did not pass.
std::string PanelRow(const ReportView& view, const ReportPanel& p,
                     const std::vector<std::string>& notes, const std::set<std::string>& faulty) {
    const auto cells = PanelCells(p.Record, p.Via);
    const bool bad = faulty.count(cells[Mac]) > 0 ||
                     (view.WithPlan && p.Result != "as planned" && !p.Result.empty());
    std::string html = bad ? "<tr class=\"fault\">" : "<tr>";
    if (view.HasLocation) html += Tag("td", NoteOf(p, view.LocationColumn));
    for (const Cell c : Shown) {
        const std::string text = c == Mac || p.Found ? cells[std::size_t(c)] : "";
        const bool mono = c == Mac || c == Ip || c == Mask || c == Gateway || c == Server ||
                          c == Address || c == Identity;
        html += Tag("td", text, mono ? " class=\"mono\"" : "");
    }
    for (std::size_t n = view.HasLocation ? 1 : 0; n < notes.size(); ++n)
        html += Tag("td", NoteOf(p, notes[n]));
    if (view.WithPlan) {
        html +=
            Tag("td", p.Result, p.Result == "as planned" ? " class=\"good\"" : " class=\"bad\"");
        html += Tag("td", p.Details);
    }
    return html + "</tr>\n";
}

std::string PanelsSection(const ReportView& view) {
    std::set<std::string> faulty;
    for (const SiteFault& f : view.Input.Faults)
        faulty.insert(f.Macs.begin(), f.Macs.end());
    const std::vector<std::string> notes = NotesInOrder(view);
    std::string html = Tag("h2", "Panels") + "\n<table class=\"panels\">\n<thead><tr>";
    html += PanelHeadings(view, notes) + "</tr></thead>\n<tbody>\n";
    for (const ReportPanel& p : view.Input.Panels)
        html += PanelRow(view, p, notes, faulty);
    return html + "</tbody>\n</table>\n";
}

} // namespace

std::string ReportHtml(const ReportInput& input) {
    const int location = LocationColumn(input.NoteColumns);
    const ReportView view{input, !input.PlanName.empty(), location >= 0,
                          location < 0 ? "" : input.NoteColumns[std::size_t(location)]};
    std::string html = HeadAndMeta(view);
    html += ProblemsSection(view);
    html += SummarySection(view);
    html += WorkDoneSection(input.Runs);
    html += PanelsSection(view);
    html += Tag("h2", "Address plan") + "\n" + AddressPicture(input.Panels);
    html += "</body>\n</html>\n";
    return html;
}
