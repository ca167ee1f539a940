#pragma once

// The plan that takes a write back: before set or apply write anything, the settings of every
// panel they are about to change are saved as a plan that `callpanel apply` accepts.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "plan/Changes.h"

// The writable columns (mac to unlock) of each row that writes, as its panel is now, for a
// person to read, and the columns raw and undoes (UndoColumns) that say it byte for byte: an
// address with zero bytes or bytes no GBK character has, any unlocking time, the old MAC. A row
// that gives the panel a new MAC is keyed by the new one: the panel answers by it afterwards.
std::string UndoPlanText(const std::vector<RowChange>& rows);

// A report's writable fields as the raw and undoes cells give them (unlocking time in seconds):
// "00502A1000A5 483031303130313030300031 0A000105 FFFFFF00 0A000101 0A000102 0C".
std::string RawCell(const PanelRecord& reported);
// The fields of a raw or undoes cell over a zeroed record; nullopt when it is not one.
std::optional<PanelRecord> ParseRawCell(std::string_view cell);

// Where a run's undo plan goes when none is named: in $XDG_STATE_HOME/callpanel/ (by default
// ~/.local/state/callpanel/; %LOCALAPPDATA%\callpanel\ on Windows), named by the local date and
// time, undo-2026-12-07-203207.csv, with -2, -3, ... after a name already taken. Empty, with
// `error` set, when the folder cannot be named.
std::string DefaultUndoPath(std::string& error);
// The folder of those undo plans; empty, with `error` set, when it cannot be named.
std::string UndoFolder(std::string& error);

// Whether the user's --undo `path` can take a new undo plan: its folder exists and the name is
// not taken, not even by a symlink. false with `error` set to why not.
bool UndoPathFree(const std::string& path, std::string& error);

// Writes `text` to a new file at `path`, readable by its owner alone; never over an existing file
// nor through a symlink, and on the disk when it returns, before any write it takes back. Only
// the default folder is made (`makeFolder`), readable by its owner alone. false with `error` set
// when any of it fails (a file it made is then removed).
bool SaveUndoPlan(const std::string& path, const std::string& text, bool makeFolder,
                  std::string& error);
