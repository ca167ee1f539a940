#include "Utf8Files.h"

#ifdef _WIN32
#include <windows.h>

namespace {

std::wstring Wide(const std::string& utf8) {
    if (utf8.empty()) return {};
    const int size = static_cast<int>(utf8.size());
    const int n = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    std::wstring wide(static_cast<std::size_t>(n > 0 ? n : 0), L'\0');
    if (n > 0) MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, wide.data(), n);
    return wide;
}

} // namespace

std::FILE* OpenUtf8File(const std::string& path, const char* mode) {
    return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

std::filesystem::path Utf8Path(const std::string& path) {
    return std::filesystem::path(Wide(path));
}

#else

std::FILE* OpenUtf8File(const std::string& path, const char* mode) {
    return std::fopen(path.c_str(), mode);
}

std::filesystem::path Utf8Path(const std::string& path) {
    return std::filesystem::path(path);
}

#endif
