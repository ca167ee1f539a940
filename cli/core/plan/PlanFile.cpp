#include "plan/PlanFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#endif

#include "files/Utf8Files.h"

namespace {

std::string TooLarge(const std::string& name) {
    return name + " is larger than a plan can be (" + std::to_string(MaxPlanBytes >> 20) +
           " MiB, some 30,000 panels): split it into several plans";
}

// Up to one byte past the largest plan, so that a larger one (a pipe has no size) is told.
bool ReadAll(std::FILE* in, std::string& text) {
    char buffer[65536];
    std::size_t got;
    while (text.size() <= MaxPlanBytes && (got = std::fread(buffer, 1, sizeof buffer, in)) > 0)
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
        if (!ReadAll(stdin, text)) {
            error =
                std::string("cannot read the plan from standard input: ") + std::strerror(errno);
            return false;
        }
        if (text.size() <= MaxPlanBytes) return true;
        error = TooLarge("the plan on standard input");
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
    std::error_code noSize;
    const auto size = std::filesystem::file_size(Utf8Path(path), noSize);
    if (!noSize && size > MaxPlanBytes) {
        std::fclose(in);
        error = TooLarge(path);
        return false;
    }
    const bool read = ReadAll(in, text);
    const int readError = errno;
    std::fclose(in);
    if (!read) {
        error = "cannot read " + path + ": " + std::strerror(readError);
        return false;
    }
    if (text.size() <= MaxPlanBytes) return true;
    error = TooLarge(path);
    return false;
}

std::string PlanName(const std::string& path) {
    return path == "-" ? "stdin" : path;
}
