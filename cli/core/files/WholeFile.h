#pragma once

// Every file callpanel writes (as-built plans, undo plans, reports) is written whole or not at
// all, and survives a crash once written: the text goes to a new file of a random name beside
// the target, made so that it cannot be a link or an existing file, is synced to the disk, and
// then takes the target's name in one step; the folder is synced after.

#include <functional>
#include <string>

enum class WholeFileWritten { Done, NameTaken, Failed };

struct WholeFileWay {
    // Readable by its owner alone from the moment it exists.
    bool OwnerOnly = false;
    // The target must not exist: it is never replaced (an undo plan named by the user).
    // Otherwise an existing file is replaced, but a link at the target is refused.
    bool MustBeNew = false;
    // The name of the new file before it takes the target's, for attempt 0, 1, ...: by default
    // beside the target, with random letters. Tests give their own.
    std::function<std::string(const std::string& target, int attempt)> PartName = {};
};

// `error` says why when it is not Done ("cannot write PATH: ..."); the target is then as it
// was, and no file of the attempt is left.
WholeFileWritten WriteWholeFile(const std::string& path, const std::string& text,
                                std::string& error, const WholeFileWay& way = {});

// WriteWholeFile with a file that may be replaced; false when it was not written.
inline bool WriteWhole(const std::string& path, const std::string& text, std::string& error,
                       bool ownerOnly = false) {
    return WriteWholeFile(path, text, error, {ownerOnly, false, {}}) == WholeFileWritten::Done;
}
