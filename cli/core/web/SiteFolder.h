#pragma once

// The site folder of `callpanel ui`: its schedules, plans, undo plans and reports. Names that
// come from the page never reach outside it: one plain file name each, no path, no link out.

#include <cstdint>
#include <string>
#include <vector>

// `name` is a plain file name that may stand for a file of the folder: not empty, no '/' or
// '\\', no ':' (a Windows drive or stream), no control character, not "." or "..", not
// beginning with '.', at most 200 bytes, ending with `suffix` (any case). false with `error`.
bool PlainName(const std::string& name, const std::string& suffix, std::string& error);

// The path of `name` in `folder` once PlainName holds and the name is not a symbolic link
// (which could point anywhere); empty with `error` otherwise. The file need not exist.
std::string PathInFolder(const std::string& folder, const std::string& name,
                         const std::string& suffix, std::string& error);

struct FolderFile {
    std::string Name;
    long long Modified = 0; // seconds since the epoch
    std::uintmax_t Bytes = 0;
    bool AsBuilt = false; // ends with -as-built.csv
    bool Undo = false;    // an undo plan: undo-*.csv
};
// The regular files of `folder` ending with `suffix`, newest first (links left out).
std::vector<FolderFile> FolderFiles(const std::string& folder, const std::string& suffix);

// The site folders under `root` (made when missing), by name.
std::vector<std::string> SiteFolders(const std::string& root, std::string& error);
// Where sites live when no folder is given: the documents folder's "Call panel sites"
// (XDG_DOCUMENTS_DIR or ~/Documents; the user's Documents on Windows).
std::string DefaultSitesRoot();
