#pragma once

// The window's texts are UTF-8 everywhere else; the Windows API's W functions take UTF-16.

#include <string>
#include <string_view>

std::wstring Wide(std::string_view utf8);
std::string Utf8(std::wstring_view wide);
