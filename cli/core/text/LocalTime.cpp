#include "text/LocalTime.h"

#include <ctime>

std::string LocalTimeText(const char* format) {
    return LocalTimeText(format, static_cast<long long>(std::time(nullptr)));
}

std::string LocalTimeText(const char* format, long long at) {
    const std::time_t when = static_cast<std::time_t>(at);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &when);
#else
    localtime_r(&when, &local);
#endif
    char text[48];
    if (std::strftime(text, sizeof text, format, &local) == 0) return {};
    return text;
}
