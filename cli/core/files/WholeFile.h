#pragma once

// A file written whole or not at all: the text goes to a new file beside it, which then takes
// the old one's place, so that a crash, Ctrl+C or a full disk never leaves half a file.

#include <string>

// False with `error` set when it fails; the old file is then as it was. `ownerOnly`: readable
// by its owner alone.
bool WriteWhole(const std::string& path, const std::string& text, std::string& error,
                bool ownerOnly = false);
