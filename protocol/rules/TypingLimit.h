#pragma once

// The typing limit of the window's edit boxes, for both faces: it counts the bytes a panel
// receives (WireBytes: two for a Chinese character), not the characters shown.

#include <optional>
#include <string_view>

// The longest beginning of `input`, in whole characters, whose wire bytes fit beside `kept`
// (the box's text without what the input replaces) within `limit`; all of it when `limit` is 0.
// UTF-8 in and out. A box already past its limit can shrink but never grow.
std::string_view FittingInput(std::string_view kept, std::string_view input, int limit);

// What a paste puts in place of the selection, on both faces: the first line of `clipboard` (the
// boxes hold one line), cut like typed input. Nothing at all, not even the selection removed,
// when that line has text and none of it fits.
std::optional<std::string_view> PastedInput(std::string_view kept, std::string_view clipboard,
                                            int limit);
