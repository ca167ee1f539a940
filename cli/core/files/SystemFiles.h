#pragma once

// What writing a file safely needs of the system, one implementation per system:
// SystemFilesPosix.cpp and SystemFilesWin32.cpp. Names are UTF-8 on both.

#include <string>

namespace SystemFiles {

// How a step ended: done, the name was taken (by a file, a folder or a link), or another
// failure, with the system's words for it.
enum class Outcome { Done, Taken, Failed };

struct Result {
    Outcome Is = Outcome::Done;
    std::string Why; // the system's words when it failed
    explicit operator bool() const { return Is == Outcome::Done; }
};

// A file made new for writing: never one that was there, never through a link.
class NewFile {
  public:
    NewFile() = default;
    NewFile(const NewFile&) = delete;
    NewFile& operator=(const NewFile&) = delete;
    ~NewFile(); // closes it when still open; the name stays

    // Makes `path`, failing with Taken when anything has the name, a dangling link too.
    // `ownerOnly`: readable by its owner alone from the moment it exists (where the system
    // has such permissions).
    Result Create(const std::string& path, bool ownerOnly);
    Result Write(const std::string& bytes);
    // The bytes on the disk, not only in the system's cache.
    Result Sync();
    Result Close();

  private:
#ifdef _WIN32
    void* Handle = nullptr;
#else
    int Descriptor = -1;
#endif
};

// Puts `from` in place of `to`, which may exist and is then replaced in one step; a link at
// `to` is refused, so that the file it points to is neither replaced nor followed.
Result Replace(const std::string& from, const std::string& to);
// Gives `from` the name `to` only if nothing has it yet (Taken otherwise), in one step.
Result PlaceNew(const std::string& from, const std::string& to);
// Makes a rename or a new name in `folder` survive a crash, where the system allows it.
void SyncFolder(const std::string& folder);
void Remove(const std::string& path);

} // namespace SystemFiles
