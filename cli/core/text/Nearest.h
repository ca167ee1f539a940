#pragma once

// The name a person most likely meant when they typed one that does not exist: a column of a
// plan, a command or an option of callpanel. One rule for all, so that each says the same.

#include <string>
#include <string_view>
#include <vector>

// Insertions, deletions, substitutions and swaps of two neighbours ("wiat" is one from "wait")
// that turn `a` into `b`.
std::size_t EditDistance(std::string_view a, std::string_view b);

// The name among `known` nearest to `typed` within `within` edits, the first of equals; failing
// that, the one name `typed` begins (three characters at least, as "ignore" for
// "ignore-extra"); otherwise "".
std::string Nearest(std::string_view typed, const std::vector<std::string>& known,
                    std::size_t within);

// How far a typed name may be from a known one and still be a typing mistake rather than a
// different word: one edit for up to five characters, two beyond.
std::size_t TypingEdits(std::string_view typed);
