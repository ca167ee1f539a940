#pragma once

// Text for a terminal: what a panel or a file holds must not move the cursor, change colours or
// cut a message short.

#include <string>
#include <string_view>

// Control characters as \0, \t, \n, \r, \e or \xNN (C1 controls as \u0080 to \u009F); a byte
// that is not part of UTF-8 as \xNN; characters that show as nothing or as a blank (U+00A0,
// U+200B, U+FEFF and other format characters) as \uNNNN. Other text as it stands.
std::string TerminalText(std::string_view text);

// Length of the well-formed UTF-8 character at the start of `text`; 0 when there is none there
// (an ASCII byte is 1).
std::size_t Utf8CharacterLength(std::string_view text);
