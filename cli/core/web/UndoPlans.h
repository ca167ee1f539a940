#pragma once

// The undo plans of the site folder as the page's Undo offers them: each with its time and its
// rows, and the ones the person ticks put in the order their runs made them, because several
// undo plans are applied as one only earliest first.

#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

struct UndoPlanFile {
    std::string Name;
    // Local time, "2026-12-08 10:15:00": the time the name says (undo-DATE.csv, as the program
    // names them), otherwise when the file was last written.
    std::string Time;
    int Rows = -1; // its panels; -1 when it cannot be read as a plan
};

// Whether `a` was made before `b`: by time, then by the number a name taken in the same second
// got (undo-DATE.csv before undo-DATE-2.csv before undo-DATE-10.csv), then by name.
bool MadeBefore(const UndoPlanFile& a, const UndoPlanFile& b);

// `names` earliest first, each timed as `known` (the folder's undo plans) times it, or by its
// name alone when it is not among them.
std::vector<std::string> EarliestFirst(const std::vector<std::string>& names,
                                       const std::vector<UndoPlanFile>& known);

// The plans a request of the page names: its list `plans`, or its one `plan` (none when it is
// empty); each a plain file name of the site folder ending with .csv. false with `error`
// (nothing then is queued).
bool RequestedPlans(const nlohmann::json& body, std::vector<std::string>& names,
                    std::string& error);

// The folder's undo plans, newest first. Each file is read once while it stays as it was (the
// page asks on every change of the site).
class UndoPlanList {
  public:
    std::vector<UndoPlanFile> Of(const std::string& folder);

  private:
    struct Seen {
        long long Modified = 0;
        std::uintmax_t Bytes = 0;
        int Rows = -1;
    };
    std::map<std::string, Seen> Read; // by path
};
