#include "files/WholeFile.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>

#include "files/Utf8Files.h"

bool WriteWhole(const std::string& path, const std::string& text, std::string& error,
                bool ownerOnly) {
    const std::string part = path + ".part";
    std::error_code code;
    const auto fail = [&](const std::string& why) {
        error = "cannot write " + path + ": " + why;
        std::filesystem::remove(Utf8Path(part), code);
        return false;
    };
    std::FILE* out = OpenUtf8File(part, "wb");
    if (!out) return fail(std::strerror(errno));
    const bool written =
        std::fwrite(text.data(), 1, text.size(), out) == text.size() && std::fflush(out) == 0;
    const int writeError = errno;
    if (std::fclose(out) != 0 || !written) return fail(std::strerror(written ? errno : writeError));
    if (ownerOnly) {
        std::filesystem::permissions(
            Utf8Path(part),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write, code);
        if (code) return fail(code.message());
    }
    std::filesystem::rename(Utf8Path(part), Utf8Path(path), code);
    if (code) return fail(code.message());
    return true;
}
