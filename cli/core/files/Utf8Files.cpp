#include "files/Utf8Files.h"

#include <cstdlib>
#include <fcntl.h>

#ifdef _WIN32
#include <io.h>
#include <sys/stat.h>
#include <windows.h>

#include "WideText.h"

std::string Utf8Environment(const char* name) {
    const wchar_t* value = _wgetenv(Wide(name).c_str());
    return value != nullptr ? Utf8(value) : std::string();
}

std::FILE* OpenUtf8File(const std::string& path, const char* mode) {
    return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

std::filesystem::path Utf8Path(const std::string& path) {
    return std::filesystem::path(Wide(path));
}

#else

#include <unistd.h>

std::string Utf8Environment(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? value : "";
}

std::FILE* OpenUtf8File(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

std::filesystem::path Utf8Path(const std::string& path) {
    return std::filesystem::path(path);
}

#endif
