#pragma once

// Results on standard output as an aligned table, CSV (quoted only where needed) or JSON.

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "Engine.h"

namespace Cli {

enum class Format { Table, Csv, Json };
std::optional<Format> ParseFormat(std::string_view name);

struct Table {
    std::vector<std::string> Columns;
    std::vector<std::vector<std::string>> Rows; // each as wide as Columns; UTF-8
    std::vector<std::string> Numbers = {};      // columns whose cells JSON gives as numbers
    // Per row, the cells JSON gives instead of the text ones, as JSON texts, by column name
    // (check's details as objects); empty or shorter: the text cells.
    std::vector<std::vector<std::pair<std::string, std::string>>> Json = {};
};

// `items` as a JSON array of objects with the keys `keys` in order, their values as strings.
std::string JsonObjects(const std::vector<std::string>& keys,
                        const std::vector<std::vector<std::string>>& items);

// Table: columns padded to the widest cell (wide characters count two). JSON: an array of
// objects whose keys are the column names and whose values are the cells as strings, or as
// numbers in the Numbers columns. CSV: CsvLine's.
std::string Render(const Table& table, Format format);

// One row per panel, in the columns a plan has (search --format csv).
Table PanelTable(const std::vector<FoundPanel>& panels);

} // namespace Cli
