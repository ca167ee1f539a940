#pragma once

// The plan that takes a write back: before set or apply write anything, the settings of every
// panel they are about to change are saved as a plan that `callpanel apply` accepts.

#include <string>
#include <vector>

#include "Changes.h"

// The writable columns (mac to unlock) of each row that writes, as its panel is now. A row that
// gives the panel a new MAC is keyed by the new one: the panel answers by it afterwards.
std::string UndoPlanText(const std::vector<RowChange>& rows);

// Where a run's undo plan goes when none is named: in $XDG_STATE_HOME/callpanel/ (by default
// ~/.local/state/callpanel/; %LOCALAPPDATA%\callpanel\ on Windows), named by the local date and
// time, undo-2026-12-07-203207.csv, with -2, -3, ... after a name already taken. Empty, with
// `error` set, when the folder cannot be named.
std::string DefaultUndoPath(std::string& error);

// Writes `text` to `path`, making its folder; false with `error` set when any of it fails (the
// file is then removed).
bool SaveUndoPlan(const std::string& path, const std::string& text, std::string& error);
