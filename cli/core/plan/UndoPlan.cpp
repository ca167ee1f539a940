#include "plan/UndoPlan.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "PanelTexts.h"
#include "files/Utf8Files.h"
#include "files/WholeFile.h"
#include "plan/CsvReader.h"
#include "plan/Plan.h"

namespace {

std::string StateFolder(std::string& error) {
#ifdef _WIN32
    // In UTF-16 from the system: a user name outside the code page survives.
    if (const std::string local = Utf8Environment("LOCALAPPDATA"); !local.empty())
        return local + "\\callpanel";
    error = "LOCALAPPDATA is not set";
    return "";
#else
    if (const char* state = std::getenv("XDG_STATE_HOME"); state && *state == '/')
        return std::string(state) + "/callpanel";
    if (const char* home = std::getenv("HOME"); home && *home)
        return std::string(home) + "/.local/state/callpanel";
    error = "neither XDG_STATE_HOME nor HOME is set";
    return "";
#endif
}

// Undo plans describe a building's network: the folder is its owner's alone, also one that an
// earlier version made open to all.
bool MakePrivateFolder(const std::filesystem::path& folder, std::error_code& code) {
    namespace fs = std::filesystem;
#ifdef _WIN32
    fs::create_directories(folder, code); // under the user's own profile
    return !code;
#else
    fs::path made;
    for (const fs::path& part : folder) {
        made /= part;
        if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
            code.assign(errno, std::generic_category());
            return false;
        }
    }
    if (fs::is_symlink(folder, code) || code) return !code;
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::replace, code);
    return !code;
#endif
}

std::string AlreadyThere(const std::string& path) {
    return "cannot write the undo plan " + path +
           ": the name is taken (an undo plan never replaces a file); name a new file";
}

} // namespace

std::string UndoFolder(std::string& error) {
    return StateFolder(error);
}

std::string UndoPlanText(const std::vector<RowChange>& rows) {
    const std::vector<std::string> header(std::begin(PanelColumns),
                                          std::begin(PanelColumns) + WritableColumns);
    std::string text = CsvLine(header);
    for (const RowChange& row : rows) {
        if (row.Kind != RowKind::Write) continue;
        std::vector<std::string> cells = PanelCells(row.Current, "");
        cells.resize(WritableColumns);
        cells[0] = MacText(row.Pending.Mac);
        text += CsvLine(cells);
    }
    return text;
}

std::string DefaultUndoPath(std::string& error) {
    const std::string folder = StateFolder(error);
    if (folder.empty()) return "";
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y-%m-%d-%H%M%S", &local);
    const std::string base = folder + (folder.back() == '\\' ? "" : "/") + "undo-" + stamp;
    std::error_code ignored;
    for (int n = 1;; ++n) {
        std::string path = base;
        if (n > 1) path.append(1, '-').append(std::to_string(n));
        path += ".csv";
        if (!std::filesystem::exists(std::filesystem::symlink_status(Utf8Path(path), ignored)))
            return path;
    }
}

bool UndoPathFree(const std::string& path, std::string& error) {
    namespace fs = std::filesystem;
    std::error_code code;
    const fs::path file = Utf8Path(path);
    if (fs::exists(fs::symlink_status(file, code))) {
        error = AlreadyThere(path);
        return false;
    }
    const fs::path folder = file.parent_path().empty() ? fs::path(".") : file.parent_path();
    if (!fs::is_directory(folder, code)) {
        error = "cannot write the undo plan " + path +
                ": its folder does not exist (--undo makes none)";
        return false;
    }
    return true;
}

bool SaveUndoPlan(const std::string& path, const std::string& text, bool makeFolder,
                  std::string& error) {
    std::error_code code;
    if (const auto folder = Utf8Path(path).parent_path(); makeFolder && !folder.empty())
        if (!MakePrivateFolder(folder, code)) {
            error = "cannot write the undo plan " + path + ": " + code.message();
            return false;
        }
    // On the disk before the first write that it takes back is sent.
    std::string why;
    switch (WriteWholeFile(path, text, why, {true, true, {}})) {
    case WholeFileWritten::Done:
        return true;
    case WholeFileWritten::NameTaken:
        error = AlreadyThere(path);
        return false;
    case WholeFileWritten::Failed:
        break;
    }
    error = "cannot write the undo plan " + why.substr(std::string("cannot write ").size());
    return false;
}
