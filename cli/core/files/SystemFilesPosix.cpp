#include "files/SystemFiles.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace SystemFiles {

namespace {

Result Failure() {
    return {errno == EEXIST ? Outcome::Taken : Outcome::Failed, std::strerror(errno)};
}

} // namespace

NewFile::~NewFile() {
    if (Descriptor >= 0) ::close(Descriptor);
}

Result NewFile::Create(const std::string& path, bool ownerOnly) {
    // O_EXCL with O_CREAT also fails on a link, dangling or not: nothing is written through one.
    Descriptor = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC,
                        ownerOnly ? 0600 : 0666);
    return Descriptor >= 0 ? Result{} : Failure();
}

Result NewFile::Write(const std::string& bytes) {
    std::size_t done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::write(Descriptor, bytes.data() + done, bytes.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return n < 0 ? Failure() : Result{Outcome::Failed, std::strerror(EIO)};
        done += std::size_t(n);
    }
    return {};
}

Result NewFile::Sync() {
    return ::fsync(Descriptor) == 0 ? Result{} : Failure();
}

Result NewFile::Close() {
    const int descriptor = Descriptor;
    Descriptor = -1;
    return ::close(descriptor) == 0 ? Result{} : Failure();
}

Result Replace(const std::string& from, const std::string& to) {
    // rename() would replace a link itself, not the file it points to; it is refused all the
    // same, as someone meant that name to lead elsewhere.
    struct stat there {};
    if (::lstat(to.c_str(), &there) == 0 && S_ISLNK(there.st_mode))
        return {
            Outcome::Failed,
            "the name is a link, which is never replaced nor written through; name a plain file"};
    return ::rename(from.c_str(), to.c_str()) == 0 ? Result{} : Failure();
}

Result PlaceNew(const std::string& from, const std::string& to) {
#ifdef RENAME_NOREPLACE
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return {};
    if (errno != EINVAL && errno != ENOSYS) return Failure();
#endif
    // A file system without the flag gets the same effect from a hard link: making the second
    // name fails when the name is taken, and the first name is removed afterwards.
    if (::link(from.c_str(), to.c_str()) != 0) return Failure();
    ::unlink(from.c_str());
    return {};
}

void SyncFolder(const std::string& folder) {
    const int descriptor =
        ::open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (descriptor < 0) return;
    ::fsync(descriptor);
    ::close(descriptor);
}

void Remove(const std::string& path) {
    ::unlink(path.c_str());
}

} // namespace SystemFiles
