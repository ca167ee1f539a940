#include "files/WholeFile.h"

#include <random>

#include "files/SystemFiles.h"

namespace {

// The folder part of a path as the system takes it: "" for a bare name.
std::string FolderOf(const std::string& path) {
    const std::size_t slash = path.find_last_of(
#ifdef _WIN32
        "/\\"
#else
        "/"
#endif
    );
    if (slash == std::string::npos) return "";
    return slash == 0 ? path.substr(0, 1) : path.substr(0, slash);
}

// ".NAME.1f3a9c07d2e4b865.part" beside NAME: hidden, and not a name anyone could plant a link
// at beforehand.
std::string RandomPartName(const std::string& target, int) {
    static std::random_device source;
    static const char Digits[] = "0123456789abcdef";
    std::string letters;
    for (int at = 0; at < 4; ++at) {
        const unsigned value = source();
        for (int shift = 0; shift < 32; shift += 8)
            letters += Digits[(value >> shift) & 15];
    }
    const std::string folder = FolderOf(target);
    const std::string name = target.substr(folder.empty() ? 0 : folder.size() + 1);
    return (folder.empty() ? "" : target.substr(0, folder.size() + 1)) + "." + name + "." +
           letters + ".part";
}

} // namespace

WholeFileWritten WriteWholeFile(const std::string& path, const std::string& text,
                                std::string& error, const WholeFileWay& way) {
    using namespace SystemFiles;
    const auto partName = way.PartName ? way.PartName : RandomPartName;
    std::string part;
    NewFile file;
    Result made{Outcome::Taken, ""};
    // A name that is taken belongs to someone else, and so does a link planted there: the next
    // name is tried.
    for (int attempt = 0; attempt < 16 && made.Is == Outcome::Taken; ++attempt) {
        part = partName(path, attempt);
        made = file.Create(part, way.OwnerOnly);
    }
    const auto fail = [&](const Result& result, bool remove, WholeFileWritten outcome) {
        error = "cannot write " + path + ": " + result.Why;
        if (remove) Remove(part);
        return outcome;
    };
    if (!made) return fail(made, false, WholeFileWritten::Failed);
    Result step = file.Write(text);
    if (step) step = file.Sync();
    const Result closed = file.Close();
    if (step) step = closed;
    if (!step) return fail(step, true, WholeFileWritten::Failed);
    step = way.MustBeNew ? PlaceNew(part, path) : Replace(part, path);
    if (!step)
        return fail(step, true,
                    step.Is == Outcome::Taken ? WholeFileWritten::NameTaken
                                              : WholeFileWritten::Failed);
    SyncFolder(FolderOf(path));
    return WholeFileWritten::Done;
}
