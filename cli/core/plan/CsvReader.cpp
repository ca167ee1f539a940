#include "plan/CsvReader.h"

#include <algorithm>

namespace {

constexpr std::string_view ByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view Separators = ",;\t";

// The separator is the one of , ; tab that the first line (outside quotes) holds most of; a line
// with none (a plan of one column) keeps the comma.
char SeparatorOf(std::string_view text) {
    std::size_t counts[3] = {};
    bool quoted = false;
    for (const char c : text) {
        if (c == '"') quoted = !quoted;
        if (quoted) continue;
        if (c == '\n' || c == '\r') break;
        if (const auto at = Separators.find(c); at != std::string_view::npos) ++counts[at];
    }
    const auto most = std::max_element(std::begin(counts), std::end(counts));
    return *most == 0 ? ',' : Separators[std::size_t(most - std::begin(counts))];
}

// Excel's first line "sep=;" names the separator: its length up to the line end, or 0.
std::size_t SepLine(std::string_view text, char& sep) {
    std::string_view line = text.substr(0, text.find_first_of("\r\n"));
    if (line.size() == 7 && line.front() == '"' && line.back() == '"')
        line = line.substr(1, 5); // "sep=;" as some programs quote it
    if (line.size() != 5) return 0;
    for (std::size_t at = 0; at < 3; ++at)
        if ((line[at] | 0x20) != "sep"[at]) return 0;
    if (line[3] != '=' || line[4] == '"') return 0;
    sep = line[4];
    return std::min(text.find_first_of("\r\n"), text.size());
}

bool IsControl(char c) {
    return static_cast<unsigned char>(c) < 0x20 || c == 0x7F;
}

} // namespace

CsvReader::CsvReader(std::string_view text) : Text(text) {
    if (Text.substr(0, ByteOrderMark.size()) == ByteOrderMark)
        Text.remove_prefix(ByteOrderMark.size());
    if (const std::size_t length = SepLine(Text, Sep); length > 0) {
        At = length;
        SkipLineEnd();
    } else {
        Sep = SeparatorOf(Text);
    }
    for (const char c : {'"', '\n', '\r'})
        Stops[static_cast<unsigned char>(c)] = QuotedStop;
    Stops[static_cast<unsigned char>(Sep)] = PlainStop;
}

bool CsvReader::AtLineEnd() const {
    return At >= Text.size() || Text[At] == '\n' || Text[At] == '\r';
}

void CsvReader::SkipLineEnd() {
    if (At >= Text.size()) return;
    if (Text[At] == '\r' && At + 1 < Text.size() && Text[At + 1] == '\n') ++At;
    ++At;
    ++Line;
}

void CsvReader::SkipRestOfLine() {
    while (!AtLineEnd())
        ++At;
    SkipLineEnd();
}

CsvReader::Field CsvReader::ReadField(std::string& out, CsvFault& fault, int column) {
    out.clear();
    while (At < Text.size() && Blank(Text[At]))
        ++At;
    if (At < Text.size() && Text[At] == '"') return ReadQuoted(out, fault, column);
    return ReadPlain(out, fault, column);
}

CsvReader::Field CsvReader::ReadQuoted(std::string& out, CsvFault& fault, int column) {
    const std::size_t open = At;
    const int openLine = Line;
    ++At;
    for (;;) {
        if (At >= Text.size()) {
            fault = {openLine, column, "quote not closed: the cell runs to the end of the file"};
            // Read on from the line after the quote, so the rows after it are still read.
            At = open;
            Line = openLine;
            SkipRestOfLine();
            return Field::Broken;
        }
        // The plain run up to the next quote or line end goes in whole.
        const std::size_t run = At;
        while (At < Text.size() && (Stops[static_cast<unsigned char>(Text[At])] & QuotedStop) == 0)
            ++At;
        out.append(Text.substr(run, At - run));
        if (At >= Text.size()) continue;
        const char c = Text[At++];
        if (c == '"') {
            if (At < Text.size() && Text[At] == '"') {
                out += '"';
                ++At;
                continue;
            }
            break;
        }
        if (c == '\n' || (c == '\r' && (At >= Text.size() || Text[At] != '\n'))) ++Line;
        out += c;
    }
    while (At < Text.size() && Blank(Text[At]))
        ++At;
    if (AtLineEnd()) return Field::LineEnded;
    if (Text[At] == Sep) {
        ++At;
        return Field::Ended;
    }
    fault = {Line, column,
             std::string("broken quote: a quoted cell must end with a quote followed by ") +
                 (Sep == '\t' ? "a tab" : std::string("'") + Sep + "'") + " or the line's end"};
    SkipRestOfLine();
    return Field::Broken;
}

CsvReader::Field CsvReader::ReadPlain(std::string& out, CsvFault& fault, int column) {
    const std::size_t start = At;
    while (At < Text.size() && Stops[static_cast<unsigned char>(Text[At])] == 0)
        ++At;
    if (At < Text.size() && Text[At] == '"') {
        fault = {Line, column,
                 "broken quote: a cell without quotes cannot hold one; quote the whole cell "
                 "and double the quote inside"};
        SkipRestOfLine();
        return Field::Broken;
    }
    std::size_t end = At;
    while (end > start && Blank(Text[end - 1]))
        --end;
    out.assign(Text.substr(start, end - start));
    if (AtLineEnd()) return Field::LineEnded;
    ++At; // Skips the separator that ended the field.
    return Field::Ended;
}

bool CsvReader::Next(CsvRecord& record, std::vector<CsvFault>& faults) {
    while (At < Text.size()) {
        // Blank lines belong to no record.
        std::size_t probe = At;
        while (probe < Text.size() && Blank(Text[probe]))
            ++probe;
        if (probe >= Text.size()) {
            At = probe;
            return false;
        }
        if (Text[probe] == '\n' || Text[probe] == '\r') {
            At = probe;
            SkipLineEnd();
            continue;
        }

        record.Line = Line;
        record.Fields.clear();
        bool broken = false;
        for (int column = 1;; ++column) {
            std::string field;
            CsvFault fault;
            const Field end = ReadField(field, fault, column);
            if (end == Field::Broken) {
                faults.push_back(std::move(fault));
                broken = true;
                break;
            }
            record.Fields.push_back(std::move(field));
            if (end == Field::LineEnded) {
                SkipLineEnd();
                break;
            }
        }
        if (broken) continue;
        if (std::all_of(record.Fields.begin(), record.Fields.end(),
                        [](const std::string& f) { return f.empty(); }))
            continue;
        return true;
    }
    return false;
}

std::string CsvLine(const std::vector<std::string>& fields) {
    std::string line;
    for (std::size_t at = 0; at < fields.size(); ++at) {
        std::string field = fields[at];
        // A spreadsheet runs a cell that begins like this as a formula; ="..." shows the text.
        if (!field.empty() && std::string_view("=+-@").find(field[0]) != std::string_view::npos) {
            std::string text = "=\"";
            for (const char c : field)
                text.append(c == '"' ? 2 : 1, c);
            field = text + "\"";
        }
        if (at > 0) line += ',';
        const auto blank = [](char c) { return c == ' ' || c == '\t'; };
        const bool plain =
            std::none_of(field.begin(), field.end(),
                         [](char c) { return c == ',' || c == '"' || IsControl(c); }) &&
            (field.empty() || (!blank(field.front()) && !blank(field.back())));
        if (plain) {
            line += field;
            continue;
        }
        line += '"';
        for (const char c : field) {
            if (c == '"') line += '"';
            line += c;
        }
        line += '"';
    }
    return line + "\n";
}
