#include "ui/Secret.h"

#include <cstdint>
#include <cstdio>

#ifdef _WIN32
// windows.h comes first, because the other two need its types.
#include <windows.h>

#include <bcrypt.h>
#include <shellapi.h>
#else
#include <fcntl.h>
#include <sys/random.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace Cli {

std::string NewSecret() {
    uint8_t bytes[16];
#ifdef _WIN32
    if (BCryptGenRandom(nullptr, bytes, sizeof bytes, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0)
        return {};
#else
    if (getrandom(bytes, sizeof bytes, 0) != static_cast<ssize_t>(sizeof bytes)) return {};
#endif
    std::string text;
    for (uint8_t b : bytes) {
        char hex[3];
        std::snprintf(hex, sizeof hex, "%02x", b);
        text += hex;
    }
    return text;
}

bool OpenInBrowser(const std::string& url) {
#ifdef _WIN32
    const int size = MultiByteToWideChar(CP_UTF8, 0, url.c_str(), -1, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, url.c_str(), -1, wide.data(), size);
    return reinterpret_cast<INT_PTR>(
               ShellExecuteW(nullptr, L"open", wide.c_str(), nullptr, nullptr, SW_SHOWNORMAL)) > 32;
#else
    // xdg-open's own chatter would mix into callpanel's lines; its child is reaped by a second
    // fork's parent ending at once, so that no zombie waits for callpanel to end.
    const pid_t child = fork();
    if (child < 0) return false;
    if (child == 0) {
        if (fork() != 0) _exit(0);
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        execlp("xdg-open", "xdg-open", url.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return true;
#endif
}

} // namespace Cli
