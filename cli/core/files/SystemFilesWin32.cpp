#include "files/SystemFiles.h"

#include <windows.h>

#include <algorithm>

#include "WideText.h"

namespace SystemFiles {

namespace {

Result Failure(DWORD code = GetLastError()) {
    const bool taken = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS;
    wchar_t* text = nullptr;
    FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM |
                       FORMAT_MESSAGE_IGNORE_INSERTS,
                   nullptr, code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
    std::string why = text ? Utf8(text) : "error " + std::to_string(code);
    if (text) LocalFree(text);
    while (!why.empty() && (why.back() == '\n' || why.back() == '\r' || why.back() == '.'))
        why.pop_back();
    return {taken ? Outcome::Taken : Outcome::Failed, why};
}

} // namespace

NewFile::~NewFile() {
    if (Handle) CloseHandle(Handle);
}

Result NewFile::Create(const std::string& path, bool ownerOnly) {
    // CREATE_NEW fails on any name that exists, a link too. The files go under the user's own
    // profile or where the user named them, whose permissions they inherit.
    (void)ownerOnly;
    const HANDLE handle = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                      FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return Failure();
    Handle = handle;
    return {};
}

Result NewFile::Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const DWORD chunk = DWORD(std::min<std::size_t>(bytes.size() - done, 1u << 30));
        DWORD wrote = 0;
        if (!WriteFile(Handle, bytes.data() + done, chunk, &wrote, nullptr)) return Failure();
        done += wrote;
    }
    return {};
}

Result NewFile::Sync() {
    return FlushFileBuffers(Handle) ? Result{} : Failure();
}

Result NewFile::Close() {
    const HANDLE handle = Handle;
    Handle = nullptr;
    return CloseHandle(handle) ? Result{} : Failure();
}

Result Replace(const std::string& from, const std::string& to) {
    const DWORD there = GetFileAttributesW(Wide(to).c_str());
    if (there != INVALID_FILE_ATTRIBUTES && (there & FILE_ATTRIBUTE_REPARSE_POINT))
        return {
            Outcome::Failed,
            "the name is a link, which is never replaced nor written through; name a plain file"};
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)
               ? Result{}
               : Failure();
}

Result PlaceNew(const std::string& from, const std::string& to) {
    // Without MOVEFILE_REPLACE_EXISTING the move fails when the name is taken.
    return MoveFileExW(Wide(from).c_str(), Wide(to).c_str(), MOVEFILE_WRITE_THROUGH) ? Result{}
                                                                                     : Failure();
}

void SyncFolder(const std::string& folder) {
    // Windows has no way to sync a folder's entries; MOVEFILE_WRITE_THROUGH asks the move to be
    // on the disk before it returns.
    (void)folder;
}

void Remove(const std::string& path) {
    DeleteFileW(Wide(path).c_str());
}

} // namespace SystemFiles
