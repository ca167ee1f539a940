#pragma once

// Texts from a plan or a panel inside messages: shown, never obeyed, and never so long that the
// message is lost; and lists of problems kept to a length a person reads.

#include <string>
#include <string_view>
#include <vector>

// In single quotes, escaped for a terminal (TerminalText); a text longer than MessageCellLength
// characters is cut there, with "…" and its whole length in bytes after the quotes.
std::string Quoted(std::string_view text);
inline constexpr std::size_t MessageCellLength = 40;

// The first `limit` lines, then "… N more" for the rest.
inline constexpr std::size_t MessageLineLimit = 20;
std::vector<std::string> Limited(const std::vector<std::string>& lines,
                                 std::size_t limit = MessageLineLimit);
