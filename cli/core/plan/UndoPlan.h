#pragma once

// The plan that takes a write back: before set or apply write anything, the settings of every
// panel they are about to change are saved as a plan that `callpanel apply` accepts.

#include <string>
#include <vector>

#include "plan/Changes.h"

// The writable columns (mac to unlock) of each row that writes, as its panel is now. A row that
// gives the panel a new MAC is keyed by the new one: the panel answers by it afterwards.
std::string UndoPlanText(const std::vector<RowChange>& rows);

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
