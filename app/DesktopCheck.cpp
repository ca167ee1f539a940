#include "DesktopCheck.h"

#include <cstdlib>
#include <string_view>

namespace {

bool Set(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0';
}

} // namespace

bool HasDesktop() {
    if (Set("DISPLAY") || Set("WAYLAND_DISPLAY")) return true;
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    if (platform == nullptr || *platform == '\0') return false;
    // "wayland;xcb" tries each in turn: the first decides whether a desktop is needed.
    std::string_view first(platform);
    first = first.substr(0, first.find(';'));
    first = first.substr(0, first.find(':')); // "xcb:display=..." carries options after the colon.
    return first != "xcb" && first.substr(0, 7) != "wayland";
}

void PickPlatform() {
    if (Set("QT_QPA_PLATFORM") || Set("DISPLAY") || !Set("WAYLAND_DISPLAY")) return;
    setenv("QT_QPA_PLATFORM", "wayland", 1);
}
