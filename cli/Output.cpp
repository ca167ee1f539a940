#include "Output.h"

#include <algorithm>
#include <iterator>
#include <nlohmann/json.hpp>

#include "PanelTexts.h"
#include "plan/Plan.h"
#include "text/TerminalText.h"

namespace Cli {

namespace {

// Columns a terminal gives the text: East Asian wide characters take two.
size_t DisplayWidth(std::string_view text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size();) {
        const auto lead = static_cast<unsigned char>(text[i]);
        const size_t length = std::min(Utf8LeadLength(lead), text.size() - i);
        char32_t cp = length == 1   ? lead
                      : length == 2 ? lead & 0x1F
                      : length == 3 ? lead & 0x0F
                                    : lead & 0x07;
        for (size_t k = 1; k < length; ++k)
            cp = (cp << 6) | (static_cast<unsigned char>(text[i + k]) & 0x3F);
        i += length;
        const bool wide = (cp >= 0x1100 && cp <= 0x115F) || (cp >= 0x2E80 && cp <= 0xA4CF) ||
                          (cp >= 0xAC00 && cp <= 0xD7A3) || (cp >= 0xF900 && cp <= 0xFAFF) ||
                          (cp >= 0xFE30 && cp <= 0xFE4F) || (cp >= 0xFF00 && cp <= 0xFF60) ||
                          (cp >= 0xFFE0 && cp <= 0xFFE6);
        width += wide ? 2 : 1;
    }
    return width;
}

// A panel's texts may hold control characters; on a terminal they are shown, never obeyed.
std::string RenderTable(const Table& given) {
    Table table;
    for (const auto& column : given.Columns)
        table.Columns.push_back(TerminalText(column));
    for (const auto& row : given.Rows) {
        table.Rows.emplace_back();
        for (const auto& cell : row)
            table.Rows.back().push_back(TerminalText(cell));
    }
    std::vector<size_t> widths;
    for (const auto& column : table.Columns)
        widths.push_back(DisplayWidth(column));
    for (const auto& row : table.Rows)
        for (size_t c = 0; c < row.size() && c < widths.size(); ++c)
            widths[c] = std::max(widths[c], DisplayWidth(row[c]));
    std::string out;
    auto line = [&](const std::vector<std::string>& cells) {
        std::string text;
        for (size_t c = 0; c < cells.size(); ++c) {
            text += cells[c];
            if (c + 1 < cells.size()) text.append(widths[c] - DisplayWidth(cells[c]) + 2, ' ');
        }
        while (!text.empty() && text.back() == ' ')
            text.pop_back();
        out += text;
        out += '\n';
    };
    line(table.Columns);
    for (const auto& row : table.Rows)
        line(row);
    return out;
}

std::string RenderCsv(const Table& table) {
    std::string out = CsvLine(table.Columns);
    for (const auto& row : table.Rows)
        out += CsvLine(row);
    return out;
}

std::string RenderJson(const Table& table) {
    auto rows = nlohmann::ordered_json::array();
    for (std::size_t r = 0; r < table.Rows.size(); ++r) {
        const auto& row = table.Rows[r];
        nlohmann::ordered_json object = nlohmann::ordered_json::object();
        for (size_t c = 0; c < table.Columns.size() && c < row.size(); ++c) {
            const bool number = std::find(table.Numbers.begin(), table.Numbers.end(),
                                          table.Columns[c]) != table.Numbers.end();
            if (number && !row[c].empty() &&
                std::all_of(row[c].begin(), row[c].end(),
                            [](char d) { return d >= '0' && d <= '9'; }) &&
                row[c].size() < 10)
                object[table.Columns[c]] = std::stol(row[c]);
            else
                object[table.Columns[c]] = row[c];
            if (r < table.Json.size())
                for (const auto& [column, json] : table.Json[r])
                    if (column == table.Columns[c])
                        object[column] = nlohmann::ordered_json::parse(json);
        }
        rows.push_back(std::move(object));
    }
    return rows.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace) + "\n";
}

} // namespace

std::string JsonObjects(const std::vector<std::string>& keys,
                        const std::vector<std::vector<std::string>>& items) {
    auto array = nlohmann::ordered_json::array();
    for (const auto& item : items) {
        nlohmann::ordered_json object = nlohmann::ordered_json::object();
        for (std::size_t k = 0; k < keys.size() && k < item.size(); ++k)
            object[keys[k]] = item[k];
        array.push_back(std::move(object));
    }
    return array.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace);
}

std::optional<Format> ParseFormat(std::string_view name) {
    if (name == "table") return Format::Table;
    if (name == "csv") return Format::Csv;
    if (name == "json") return Format::Json;
    return std::nullopt;
}

std::string Render(const Table& table, Format format) {
    switch (format) {
    case Format::Csv:
        return RenderCsv(table);
    case Format::Json:
        return RenderJson(table);
    case Format::Table:
        break;
    }
    return RenderTable(table);
}

Table PanelTable(const std::vector<FoundPanel>& panels) {
    Table table;
    table.Columns.assign(std::begin(PanelColumns), std::end(PanelColumns));
    table.Numbers = {"unlock"};
    for (const FoundPanel& panel : panels)
        table.Rows.push_back(PanelCells(panel.Record, panel.Via));
    return table;
}

} // namespace Cli
