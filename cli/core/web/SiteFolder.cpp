#include "web/SiteFolder.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <filesystem>

#include "files/Utf8Files.h"

namespace fs = std::filesystem;

namespace {

bool EndsWith(const std::string& text, const std::string& suffix) {
    if (text.size() < suffix.size()) return false;
    for (std::size_t i = 0; i < suffix.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - suffix.size() + i])) !=
            std::tolower(static_cast<unsigned char>(suffix[i])))
            return false;
    return true;
}

std::string Utf8Of(const fs::path& path) {
    const auto text = path.u8string();
    return std::string(text.begin(), text.end());
}

} // namespace

bool PlainName(const std::string& name, const std::string& suffix, std::string& error) {
    error.clear();
    if (name.empty())
        error = "no file name";
    else if (name.size() > 200)
        error = "a file name over 200 bytes";
    else if (name == "." || name == ".." || name[0] == '.')
        error = "a file name beginning with '.'";
    else if (name.find_first_of("/\\:") != std::string::npos)
        error = "a name with a path in it; only files of the site folder";
    else if (std::any_of(name.begin(), name.end(),
                         [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == 0x7f; }))
        error = "a file name with a control character";
    else if (!EndsWith(name, suffix))
        error = "not a " + suffix + " file";
    if (!error.empty()) error = "'" + name + "': " + error;
    return error.empty();
}

std::string PathInFolder(const std::string& folder, const std::string& name,
                         const std::string& suffix, std::string& error) {
    if (!PlainName(name, suffix, error)) return {};
    const fs::path path = Utf8Path(folder) / Utf8Path(name);
    std::error_code code;
    if (fs::is_symlink(fs::symlink_status(path, code))) {
        error = "'" + name + "' is a link; only files of the site folder";
        return {};
    }
    return Utf8Of(path);
}

std::vector<FolderFile> FolderFiles(const std::string& folder, const std::string& suffix) {
    std::vector<FolderFile> files;
    std::error_code code;
    for (fs::directory_iterator it(Utf8Path(folder), code), end; !code && it != end;
         it.increment(code)) {
        const std::string name = Utf8Of(it->path().filename());
        std::string error;
        if (!PlainName(name, suffix, error) || it->is_symlink(code) || !it->is_regular_file(code))
            continue;
        FolderFile file;
        file.Name = name;
        const auto written = it->last_write_time(code);
        file.Modified = std::chrono::duration_cast<std::chrono::seconds>(
                            written - fs::file_time_type::clock::now() +
                            std::chrono::system_clock::now().time_since_epoch())
                            .count();
        file.Bytes = it->file_size(code);
        file.AsBuilt = EndsWith(name, "-as-built.csv");
        file.Undo = name.rfind("undo-", 0) == 0;
        files.push_back(file);
    }
    std::sort(files.begin(), files.end(), [](const FolderFile& a, const FolderFile& b) {
        return a.Modified != b.Modified ? a.Modified > b.Modified : a.Name < b.Name;
    });
    return files;
}

std::vector<std::string> SiteFolders(const std::string& root, std::string& error) {
    std::vector<std::string> names;
    std::error_code code;
    fs::create_directories(Utf8Path(root), code);
    if (code) {
        error = root + ": " + code.message();
        return names;
    }
    for (fs::directory_iterator it(Utf8Path(root), code), end; !code && it != end;
         it.increment(code)) {
        const std::string name = Utf8Of(it->path().filename());
        std::string ignored;
        if (PlainName(name, "", ignored) && !it->is_symlink(code) && it->is_directory(code))
            names.push_back(name);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::string DefaultSitesRoot() {
#ifdef _WIN32
    const std::string home = Utf8Environment("USERPROFILE");
    return home + "\\Documents\\Call panel sites";
#else
    std::string documents = Utf8Environment("XDG_DOCUMENTS_DIR");
    if (documents.empty()) documents = Utf8Environment("HOME") + "/Documents";
    return documents + "/Call panel sites";
#endif
}
