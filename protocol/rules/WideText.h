#pragma once

// Texts are UTF-8 everywhere but at the Windows API, whose W functions take UTF-16: the window's
// texts, callpanel's file names, arguments and environment. Windows only.

#include <string>
#include <string_view>

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);
