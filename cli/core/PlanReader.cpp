// Reading a plan: the CSV reader's records into rows by the header's column names.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <set>

#include "CsvReader.h"
#include "Plan.h"
#include "TerminalText.h"

namespace {

constexpr const char* SaveAsUtf8 =
    "save it from the spreadsheet as \"CSV UTF-8\" (or convert it, e.g. iconv -f GBK -t UTF-8)";

std::string Quoted(std::string_view text) {
    std::string quoted(1, '\''); // a zero byte or ESC shown, not obeyed
    quoted.append(TerminalText(text)).append(1, '\'');
    return quoted;
}

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

// Where the text stops being UTF-8: byte offset of the first bad sequence, or npos.
std::size_t FirstNonUtf8(std::string_view text) {
    for (std::size_t at = 0; at < text.size();) {
        // Most of a plan is ASCII: eight bytes at a time while no high bit is set.
        for (std::uint64_t word; at + 8 <= text.size(); at += 8) {
            std::memcpy(&word, text.data() + at, 8);
            if ((word & 0x8080808080808080u) != 0) break;
        }
        if (at >= text.size()) break;
        if (static_cast<unsigned char>(text[at]) < 0x80) {
            ++at;
            continue;
        }
        const std::size_t length = Utf8CharacterLength(text.substr(at));
        if (length == 0) return at;
        at += length;
    }
    return std::string_view::npos;
}

// A spreadsheet's "Unicode text": a UTF-16 byte order mark, or ASCII with every other byte zero.
bool LooksUtf16(std::string_view text) {
    if (text.size() >= 2 &&
        ((text[0] == '\xFF' && text[1] == '\xFE') || (text[0] == '\xFE' && text[1] == '\xFF')))
        return true;
    const std::size_t probe = std::min<std::size_t>(text.size(), 64) & ~std::size_t(1);
    if (probe < 4) return false;
    const auto zeros = std::count(text.begin(), text.begin() + std::ptrdiff_t(probe), '\0');
    return std::size_t(zeros) * 2 >= probe;
}

class Reader {
  public:
    explicit Reader(Plan& plan) : Out(plan) {}

    void Read(std::string_view text) {
        if (LooksUtf16(text)) {
            Out.Errors.push_back(
                {1, 0, "the plan is UTF-16 text, not UTF-8 CSV: " + std::string(SaveAsUtf8)});
            return;
        }
        if (const std::size_t bad = FirstNonUtf8(text); bad != std::string_view::npos) {
            const auto before = text.substr(0, bad);
            const int line = 1 + int(std::count(before.begin(), before.end(), '\n'));
            Out.Errors.push_back({line, 0,
                                  "the plan is not UTF-8 text (a GBK or other ANSI save?): " +
                                      std::string(SaveAsUtf8)});
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
        if (!Header) Out.Errors.push_back({1, 0, "no header line"});
    }

  private:
    // Names in any case; columns not of PanelColumns are the user's own and ignored.
    void TakeHeader(const CsvRecord& record) {
        auto columns = std::make_shared<PlanColumnNumbers>();
        for (std::size_t at = 0; at < record.Fields.size(); ++at) {
            // No name of ours is longer than this; a user's long note is skipped unread.
            if (record.Fields[at].size() > LongestColumn) continue;
            const std::string name = Lower(record.Fields[at]);
            if (std::none_of(std::begin(PanelColumns), std::end(PanelColumns),
                             [&](std::string_view known) { return name == known; }))
                continue;
            if (!columns->emplace(name, int(at) + 1).second)
                Out.Errors.push_back({record.Line, int(at) + 1,
                                      "column " + Quoted(name) + " appears twice in the header"});
        }
        if (!columns->count("mac"))
            Out.Errors.push_back(
                {record.Line, 0, "the header lacks the column 'mac', which names the panels"});
        HeaderWidth = int(record.Fields.size());
        Header = std::move(columns);
    }

    void TakeRow(CsvRecord& record) {
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
        // Both are sorted by name: each cell goes in at the end, without a search.
        for (const auto& [column, number] : *Header)
            row.Cells.emplace_hint(row.Cells.end(), column,
                                   std::move(record.Fields[std::size_t(number) - 1]));
        if (const auto mac = row.Cells.find("mac"); mac != row.Cells.end()) {
            const int column = Header->at("mac");
            if (const auto bytes = ParseMac(mac->second)) {
                const auto [first, inserted] = Macs.emplace(*bytes, record.Line);
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
    std::shared_ptr<const PlanColumnNumbers> Header;
    int HeaderWidth = 0;
    std::map<std::array<uint8_t, 6>, int> Macs; // first line of each MAC
};

} // namespace

Plan ReadPlan(std::string_view csvText) {
    Plan plan;
    Reader reader(plan);
    reader.Read(csvText);
    std::stable_sort(plan.Errors.begin(), plan.Errors.end(),
                     [](const PlanError& a, const PlanError& b) { return a.Line < b.Line; });
    return plan;
}
