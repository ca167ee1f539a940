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

#include "PanelRecord.h"
#include "PanelTexts.h"
#include "SettingsChecks.h"
#include "WriteRecord.h"
#include "plan/CsvReader.h"

// search --format csv prints these, in this order. A plan needs only mac, and a column it leaves
// out keeps the panels' values. version, identity and via are read-only: a write cannot set
// them, so a plan's cell must be empty or what the panel reports (via: any, it is this
// computer's address).
inline constexpr const char* PanelColumns[] = {"mac",    "type",    "address",  "facility",
                                               "ip",     "mask",    "gateway",  "server",
                                               "unlock", "version", "identity", "via"};
inline constexpr const char* ReadOnlyColumns[] = {"version", "identity", "via"};
// An undo plan's own columns, beside those of PanelColumns: `raw`, the bytes a row puts back
// (the panel's as it reported them before the run: MAC, identity, IP, mask, gateway, server and
// unlocking time, each field in hex, fields apart by a space), which wins over the other cells;
// and `undoes`, the same fields as the run wrote them. A row with them is taken only as an exact
// restore: the panel must hold, in each field the run changed, what the run wrote or already
// what the row puts back.
inline constexpr const char* UndoColumns[] = {"raw", "undoes"};
// The as-built plan's column of its own (the '#' columns stay the user's): "writing" from
// before a row's write leaves until its result, then the result ("verified", "unchanged", or
// what went wrong); empty for a row no panel has taken.
inline constexpr const char* AsBuiltStatusColumn = "status";
// The unlocking time a write takes, as messages, --help and the manual say it.
inline constexpr const char* UnlockRange = "1 to 9 (0 to 9 for a villa camera or help station)";

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
    // The user's own columns (a name beginning with '#'): name and cell, in header order.
    std::vector<std::pair<std::string, std::string>> Notes = {};
};

struct Plan {
    std::vector<PlanRow> Rows;
    std::vector<PlanError> Errors;        // every problem of the file, in file order
    std::vector<std::string> Header = {}; // as written, known names in lower case
};

// A schedule is a plan without its key: the rows are given to panels as they come.
// An as-built plan is a schedule being assigned: its mac cells are empty until a panel took
// the row. A plan keyed by MAC may be one too: a row with an empty mac cell is "not assigned
// yet", which check, report and apply say and pass over.
enum class PlanKind { KeyedByMac, Schedule, AsBuilt };

// The bytes of a plan (PlanAsUtf8, then CsvReader's rules). The header row is required; its
// names are read in any case; an empty name or one beginning with '#' is the user's own column,
// ignored, and any other unknown name is an error naming the nearest known one. A missing mac
// column, a repeated column, a broken or unclosed quote, a row with more or fewer fields than
// the header, a mac cell that is no MAC, a MAC on two rows and a plan without rows are errors;
// reading goes on after a bad line at the next line. A cell ="..." is read as the text inside
// (how search --format csv keeps a text that begins like a formula). A row with a bad or
// repeated MAC is still in Rows; a row of the wrong width is not. Errors come sorted by line.
// A schedule must not have a mac column (the as-built plan gets one); its other rules are the
// plan's.
Plan ReadPlan(std::string_view csvText, PlanKind kind = PlanKind::KeyedByMac);

// The row's settings laid over the panel's current ones (`current`, the directory record of the
// panel the row's MAC found). An empty cell, and one that says what search prints for the
// panel, keeps the current value unchecked, whatever the panel holds. `mac` is the key: it must
// parse and equal the panel's MAC, and it is not changed; version and identity, read-only, must
// say what the panel reports. Every problem is appended to `errors` with the row's line and the
// cell's column, texts beginning with the column's name: bad type, IPv4 text (a part with a
// leading zero is ambiguous) or unlocking time (one digit: the write carries one typed
// character), a facility other than 0 or 1, an address or facility without a GBK form or with
// a control character, and every failed check of the fields the row changes (the window's, the
// mask's, and those that keep the panel reachable, with `own`: this computer's addresses), not
// only the first. nullopt when there was any problem. The same-segment
// rule is left to the site checks. With `found` false (the panel did not answer; `current`
// holds only its MAC) only what the cells say on their own is checked. `changes`: the
// fields whose values the row changes (a changed type does not mark the address). A type and
// address that would read back as another (ReadsBackOtherwise) are refused, also of a panel that
// did not answer, unless `asWritten`.
std::optional<SettingsTexts> RowSettings(const PlanRow& row, const PanelRecord& current,
                                         std::vector<PlanError>& errors, bool found = true,
                                         const std::vector<Ipv4Bytes>& own = {},
                                         WriteFields* changes = nullptr, bool asWritten = false);

// Added for the search output and the round trip: the cells of one found panel in the order of
// PanelColumns (unlock in decimal seconds, texts decoded from GBK); `via` is the local address
// the reply came to.
std::vector<std::string> PanelCells(const PanelRecord& found, std::string_view via);
