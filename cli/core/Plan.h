#pragma once

// A site plan: one CSV row per panel, in the columns that `callpanel search --format csv`
// prints, so that a search can be exported, edited and applied again.

#include <array>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "CsvReader.h"
#include "PanelRecord.h"
#include "SettingsChecks.h"

// search --format csv prints these, in this order. version, identity and via are for reading
// only; a plan needs only mac, and a column it leaves out keeps the panels' values.
inline constexpr const char* PanelColumns[] = {"mac",    "type",    "address",  "facility",
                                               "ip",     "mask",    "gateway",  "server",
                                               "unlock", "version", "identity", "via"};

// Line: 1-based physical line of the file. Column: 1-based field number within the line (the
// CSV column), 0 when the problem is the whole line or the header as a whole.
struct PlanError {
    int Line;
    int Column;
    std::string Text;
};

// Looked up by plain names without building a std::string for each look-up.
using PlanCells = std::map<std::string, std::string, std::less<>>;
using PlanColumnNumbers = std::map<std::string, int, std::less<>>;

// One data row. Cells by column name (the header's columns of PanelColumns only), as written:
// blanks around a cell without quotes are dropped, a quoted cell keeps them; texts are
// UTF-8 as far as RowSettings is concerned. Columns: the header's field numbers by name, shared
// by the rows of one plan (null for hand-built rows; their errors then carry column 0).
struct PlanRow {
    int Line;
    PlanCells Cells;
    std::shared_ptr<const PlanColumnNumbers> Columns;
};

struct Plan {
    std::vector<PlanRow> Rows;
    std::vector<PlanError> Errors; // every problem of the file, in file order
};

// The CSV text of a plan (CsvReader's rules). The header row is required; its names are read in
// any case, unknown names are ignored. A text that is not UTF-8 is refused whole. A missing mac
// column, a repeated column, a broken or unclosed quote, a row with more or fewer fields than
// the header, a mac cell that is no MAC and a MAC on two rows are errors; reading goes on after
// a bad line at the next line. A row with a bad or repeated MAC is still in Rows; a row of the
// wrong width is not. Errors come sorted by line.
Plan ReadPlan(std::string_view csvText);

// The row's settings laid over the panel's current ones (`current`, the directory record of the
// panel the row's MAC found). An empty cell keeps the current value. `mac` is the key: it must
// parse, equal the panel's MAC and begin with 00:50:2A (the write sends those three bytes), and
// it is not changed. Every problem is appended to `errors` with the row's line and the cell's
// column, texts beginning with the column's name: bad type, IPv4 text or unlocking time (one
// digit 0 to 9: the write carries one typed character), an address or facility without a GBK
// form or with a control character, and every failed window check with the window's text (not
// only the first). nullopt when there was any. The same-segment rule is left to the site checks.
// The window's checks skip a row that changes nothing, and the last-byte rule for addresses
// skips the addresses the row keeps. With `found` false (the panel did not answer; `current`
// holds only its MAC) only what the cells say on their own is checked.
std::optional<SettingsTexts> RowSettings(const PlanRow& row, const PanelRecord& current,
                                         std::vector<PlanError>& errors, bool found = true);

// "00:50:2A:10:00:A5", either case; also '-' between the bytes.
std::optional<std::array<uint8_t, 6>> ParseMac(std::string_view text);

// Added for the search output and the round trip: the cells of one found panel in the order of
// PanelColumns (unlock in decimal seconds, texts decoded from GBK); `via` is the local address
// the reply came to.
std::vector<std::string> PanelCells(const PanelRecord& found, std::string_view via);
