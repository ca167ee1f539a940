#pragma once

// The time now on this computer's clock, as the report and the page print it.

#include <string>

// The local time now, formatted by strftime's `format` (at most 47 characters).
std::string LocalTimeText(const char* format);

// The local time of `at` (seconds since the epoch), formatted as LocalTimeText formats it.
std::string LocalTimeText(const char* format, long long at);
