#include "PlanFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "Utf8Files.h"

namespace {

bool ReadAll(std::FILE* in, std::string& text) {
    char buffer[65536];
    std::size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
        text.append(buffer, got);
    return !std::ferror(in);
}

} // namespace

bool LoadPlanText(const std::string& path, std::string& text, std::string& error) {
    text.clear();
    if (path == "-") {
#ifdef _WIN32
        _setmode(_fileno(stdin), _O_BINARY); // the reader counts CR itself
#endif
        if (ReadAll(stdin, text)) return true;
        error = std::string("cannot read the plan from standard input: ") + std::strerror(errno);
        return false;
    }
    std::error_code ignored;
    if (std::filesystem::is_directory(Utf8Path(path), ignored)) {
        error = path + " is a directory, not a plan: name a CSV file";
        return false;
    }
    std::FILE* in = OpenUtf8File(path, "rb");
    if (!in) {
        error = "cannot read " + path + ": " + std::strerror(errno);
        return false;
    }
    const bool read = ReadAll(in, text);
    const int readError = errno;
    std::fclose(in);
    if (!read) error = "cannot read " + path + ": " + std::strerror(readError);
    return read;
}

std::string PlanName(const std::string& path) {
    return path == "-" ? "stdin" : path;
}
