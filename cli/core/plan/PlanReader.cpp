// Reading a plan: the CSV reader's records into rows by the header's column names.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>

#include "plan/CsvReader.h"
#include "plan/Plan.h"
#include "plan/PlanEncoding.h"
#include "text/MessageText.h"
#include "text/Nearest.h"

namespace {

constexpr std::size_t LongestColumn = [] {
    std::size_t longest = 0;
    for (const std::string_view name : PanelColumns)
        longest = std::max(longest, name.size());
    return longest;
}();

std::string Lower(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
    return out;
}

// The known name a header cell most likely meant ("IP Address": ip, "subnet": mask), or "".
std::string NearestColumn(std::string_view header) {
    std::string letters;
    for (const char c : Lower(header))
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9')) letters += c;
    if (letters.empty()) return "";
    static const std::pair<const char*, const char*> Aliases[] = {
        {"subnet", "mask"}, {"netmask", "mask"}, {"gw", "gateway"},   {"router", "gateway"},
        {"kind", "type"},   {"device", "type"},  {"call", "address"}, {"door", "unlock"}};
    for (const auto& [alias, name] : Aliases)
        if (letters.rfind(alias, 0) == 0) return name;
    std::string best;
    for (const std::string_view known : PanelColumns) // "ipaddress" begins with "ip"
        if (letters.rfind(known, 0) == 0 && known.size() > best.size()) best = known;
    if (!best.empty()) return best;
    // Further than two edits is a guess.
    return Nearest(letters,
                   std::vector<std::string>(std::begin(PanelColumns), std::end(PanelColumns)), 2);
}

// A cell a spreadsheet keeps as text: ="..." (what search writes for a text that begins like a
// formula, and what keeps leading zeros), read as what is inside.
void TakeTextFormula(std::string& cell) {
    if (cell.size() < 3 || cell.compare(0, 2, "=\"") != 0 || cell.back() != '"') return;
    std::string inner;
    for (std::size_t at = 2; at + 1 < cell.size(); ++at) {
        if (cell[at] == '"') {
            if (cell[at + 1] != '"' || at + 2 >= cell.size()) return; // not one quoted text
            ++at;
        }
        inner += cell[at];
    }
    cell = std::move(inner);
}

class Reader {
  public:
    Reader(Plan& plan, PlanKind kind) : Out(plan), Kind(kind) {}

    void Read(std::string_view bytes) {
        std::string text;
        if (const auto fault = PlanAsUtf8(bytes, text)) {
            Out.Errors.push_back({fault->Line, 0, fault->Text});
            return;
        }
        CsvReader csv(text);
        CsvRecord record;
        std::vector<CsvFault> faults;
        while (csv.Next(record, faults)) {
            if (!Header)
                TakeHeader(record);
            else
                TakeRow(record);
        }
        for (CsvFault& f : faults)
            Out.Errors.push_back({f.Line, f.Column, std::move(f.Text)});
        if (!Header)
            Out.Errors.push_back({1, 0, "no header line"});
        else if (DataRecordCount == 0)
            Out.Errors.push_back(
                {HeaderLine, 0, "the plan has a header but no rows: nothing to apply"});
    }

  private:
    // Names in any case. A name of ours, an empty one or one that begins with '#' (the user's
    // own notes, ignored); any other name is refused, so that a misspelt column is not dropped.
    void TakeHeader(const CsvRecord& record) {
        auto columns = std::make_shared<PlanColumnNumbers>();
        for (std::size_t at = 0; at < record.Fields.size(); ++at) {
            const std::string& field = record.Fields[at];
            const std::string name = field.size() > LongestColumn ? field : Lower(field);
            Out.Header.push_back(field.empty() || field[0] == '#' ? field : name);
            if (!field.empty() && field[0] == '#') NoteColumns.push_back(at);
            if (field.empty() || field[0] == '#') continue;
            const auto known = [&](std::string_view column) { return name == column; };
            // An undo plan's raw columns belong to plans keyed by MAC, which is what it is.
            const bool undo = Kind == PlanKind::KeyedByMac &&
                              std::any_of(std::begin(UndoColumns), std::end(UndoColumns), known);
            // The as-built plan's own column, which check, report and apply read past.
            const bool asBuilt = Kind != PlanKind::Schedule && name == AsBuiltStatusColumn;
            if (!undo && !asBuilt &&
                std::none_of(std::begin(PanelColumns), std::end(PanelColumns), known)) {
                const std::string nearest = NearestColumn(field);
                Out.Errors.push_back(
                    {record.Line, int(at) + 1,
                     "unknown column " + Quoted(field) +
                         (nearest.empty() ? "" : ": did you mean " + nearest + "?") +
                         " (a column of your own begins with #)"});
                continue;
            }
            if (!columns->emplace(name, int(at) + 1).second)
                Out.Errors.push_back({record.Line, int(at) + 1,
                                      "column " + Quoted(name) + " appears twice in the header"});
        }
        if (Kind != PlanKind::Schedule && !columns->count("mac"))
            Out.Errors.push_back(
                {record.Line, 0, "the header lacks the column 'mac', which names the panels"});
        if (Kind == PlanKind::Schedule && columns->count("mac"))
            Out.Errors.push_back({record.Line, columns->at("mac"),
                                  "a schedule has no column 'mac': a row goes to the next new "
                                  "panel, and the as-built plan records its MAC"});
        HeaderWidth = int(record.Fields.size());
        HeaderLine = record.Line;
        Header = std::move(columns);
    }

    void TakeRow(CsvRecord& record) {
        ++DataRecordCount;
        const int width = int(record.Fields.size());
        if (width < HeaderWidth) {
            std::string name;
            for (const auto& [column, number] : *Header)
                if (number == width + 1) name.assign(1, ' ').append(Quoted(column));
            Out.Errors.push_back({record.Line, width + 1,
                                  "missing column" + name + ": the line has " +
                                      std::to_string(width) + " fields, the header " +
                                      std::to_string(HeaderWidth)});
            return;
        }
        if (width > HeaderWidth) {
            Out.Errors.push_back({record.Line, HeaderWidth + 1,
                                  "the line has " + std::to_string(width) +
                                      " fields, more than the header's " +
                                      std::to_string(HeaderWidth)});
            return;
        }
        PlanRow row{record.Line, {}, Header};
        for (const std::size_t at : NoteColumns)
            row.Notes.emplace_back(Out.Header[at], record.Fields[at]);
        // Both are sorted by name: each cell goes in at the end, without a search.
        for (const auto& [column, number] : *Header)
            TakeTextFormula(row.Cells
                                .emplace_hint(row.Cells.end(), column,
                                              std::move(record.Fields[std::size_t(number) - 1]))
                                ->second);
        if (const auto mac = row.Cells.find("mac");
            mac != row.Cells.end() && !mac->second.empty()) {
            const int column = Header->at("mac");
            if (const auto bytes = ParseMac(mac->second)) {
                const auto [first, inserted] = FirstLineOfMac.emplace(*bytes, record.Line);
                if (!inserted)
                    Out.Errors.push_back({record.Line, column,
                                          "mac: " + mac->second + " is also on line " +
                                              std::to_string(first->second)});
            } else {
                Out.Errors.push_back({record.Line, column,
                                      "mac: " + Quoted(mac->second) +
                                          " is not a MAC address like 00:50:2A:10:00:A5"});
            }
        }
        Out.Rows.push_back(std::move(row));
    }

    Plan& Out;
    PlanKind Kind;
    std::vector<std::size_t> NoteColumns;
    std::shared_ptr<const PlanColumnNumbers> Header;
    int HeaderWidth = 0;
    int DataRecordCount = 0;
    int HeaderLine = 1;
    std::map<MacAddress, int> FirstLineOfMac; // the line each MAC was first seen on
};

} // namespace

Plan ReadPlan(std::string_view csvText, PlanKind kind) {
    Plan plan;
    Reader reader(plan, kind);
    reader.Read(csvText);
    std::stable_sort(plan.Errors.begin(), plan.Errors.end(),
                     [](const PlanError& a, const PlanError& b) { return a.Line < b.Line; });
    return plan;
}
