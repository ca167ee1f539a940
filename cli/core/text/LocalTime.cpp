#include "text/LocalTime.h"

#include <ctime>

std::string LocalTimeText(const char* format) {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[48];
    if (std::strftime(text, sizeof text, format, &local) == 0) return {};
    return text;
}
