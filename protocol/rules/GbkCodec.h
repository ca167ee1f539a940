#pragma once

// The system's GBK converter, strict both ways: iconv on Linux, code page 936 on Windows. The
// lenient rules for panel texts (what a byte that is no character shows as) are built on top of
// these in PanelTexts, so that both systems show the same.

#include <optional>
#include <string>
#include <string_view>

// GBK bytes to UTF-8; nullopt when any byte sequence is not a GBK character (a lone lead byte, a
// bad trail byte, the user-defined area) or the system has no GBK tables.
std::optional<std::string> GbkDecodeStrict(std::string_view gbk);
// UTF-8 to GBK; nullopt when the text is not valid UTF-8 or a character has no GBK form.
std::optional<std::string> GbkEncodeStrict(std::string_view utf8);
