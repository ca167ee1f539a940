#include "plan/UndoPlan.h"

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "PanelTexts.h"
#include "WriteRecord.h"
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

namespace {

// The writable fields in the order of the raw cell, with their sizes.
struct RawField {
    std::size_t Offset, Size;
};
constexpr RawField RawFields[] = {
    {offsetof(PanelRecord, Mac), 6},       {offsetof(PanelRecord, TypeLetter), 12},
    {offsetof(PanelRecord, Ip), 4},        {offsetof(PanelRecord, Subnet), 4},
    {offsetof(PanelRecord, Gateway), 4},   {offsetof(PanelRecord, Server), 4},
    {offsetof(PanelRecord, UnlockTime), 1}};

} // namespace

std::string RawCell(const PanelRecord& reported) {
    static const char Digits[] = "0123456789ABCDEF";
    const auto* bytes = reinterpret_cast<const unsigned char*>(&reported);
    std::string cell;
    for (const RawField& field : RawFields) {
        if (!cell.empty()) cell += ' ';
        for (std::size_t at = 0; at < field.Size; ++at) {
            const unsigned char byte = bytes[field.Offset + at];
            cell += Digits[byte >> 4];
            cell += Digits[byte & 15];
        }
    }
    return cell;
}

std::optional<PanelRecord> ParseRawCell(std::string_view cell) {
    PanelRecord record{};
    auto* bytes = reinterpret_cast<unsigned char*>(&record);
    std::size_t at = 0;
    const auto digit = [&](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        return -1;
    };
    for (const RawField& field : RawFields) {
        if (&field != RawFields && (at >= cell.size() || cell[at++] != ' ')) return std::nullopt;
        for (std::size_t n = 0; n < field.Size; ++n, at += 2) {
            if (at + 1 >= cell.size()) return std::nullopt;
            const int high = digit(cell[at]), low = digit(cell[at + 1]);
            if (high < 0 || low < 0) return std::nullopt;
            bytes[field.Offset + n] = static_cast<unsigned char>(high * 16 + low);
        }
    }
    if (at != cell.size()) return std::nullopt;
    record.Terminator = 0;
    return record;
}

std::string UndoPlanText(const std::vector<RowChange>& rows) {
    std::vector<std::string> header(std::begin(PanelColumns),
                                    std::begin(PanelColumns) + WritableColumns);
    header.insert(header.end(), std::begin(UndoColumns), std::end(UndoColumns));
    std::string text = CsvLine(header);
    for (const RowChange& row : rows) {
        if (row.Kind != RowKind::Write) continue;
        std::vector<std::string> cells = PanelCells(row.Current, "");
        cells.resize(WritableColumns);
        cells[0] = MacText(row.Pending.Mac);
        cells.push_back(RawCell(row.Current));
        cells.push_back(RawCell(AsReported(row.Pending)));
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
    // The undo plan must be on the disk before the first write that it takes back is sent.
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
