#pragma once

#include <string>

namespace Cli {

// 128 bits from the system's random source (getrandom; BCryptGenRandom on Windows) as 32 hex
// digits; empty when the source fails, and then no page is served.
std::string NewSecret();

// Opens `url` in the user's default browser (xdg-open; ShellExecuteW on Windows) without
// waiting for it; false when it could not be started.
bool OpenInBrowser(const std::string& url);

} // namespace Cli
