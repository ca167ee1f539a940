#include "web/UndoPlans.h"

#include <algorithm>
#include <climits>
#include <tuple>

#include "commission/WorkDone.h"
#include "files/Utf8Files.h"
#include "plan/Plan.h"
#include "plan/PlanFile.h"
#include "text/LocalTime.h"
#include "web/SiteFolder.h"

namespace {

// The number a name taken in the same second got: 2 for undo-DATE-2.csv, 1 for undo-DATE.csv
// and for any name that says no time.
long long SameSecondNumber(const std::string& name) {
    const std::size_t dash = name.rfind('-'), dot = name.rfind('.');
    // undo-YYYY-MM-DD-HHMMSS is 22 characters: a dash after it begins the number.
    if (UndoPlanTime(name).empty() || dash == std::string::npos || dash < 22 || dot <= dash)
        return 1;
    // UndoPlanTime let through digits alone; more than fit come after every other.
    const std::string digits = name.substr(dash + 1, dot - dash - 1);
    return digits.size() > 18 ? LLONG_MAX : std::stoll(digits);
}

int RowsOf(const std::string& path) {
    std::string text, error;
    if (!LoadPlanText(path, text, error)) return -1;
    const Plan plan = ReadPlan(text);
    return plan.Errors.empty() ? int(plan.Rows.size()) : -1;
}

} // namespace

bool MadeBefore(const UndoPlanFile& a, const UndoPlanFile& b) {
    return std::make_tuple(a.Time, SameSecondNumber(a.Name), a.Name) <
           std::make_tuple(b.Time, SameSecondNumber(b.Name), b.Name);
}

std::vector<std::string> EarliestFirst(const std::vector<std::string>& names,
                                       const std::vector<UndoPlanFile>& known) {
    std::vector<UndoPlanFile> timed;
    for (const std::string& name : names) {
        const auto it = std::find_if(known.begin(), known.end(),
                                     [&name](const UndoPlanFile& f) { return f.Name == name; });
        timed.push_back(it != known.end() ? *it : UndoPlanFile{name, UndoPlanTime(name)});
    }
    std::stable_sort(timed.begin(), timed.end(), MadeBefore);
    std::vector<std::string> ordered;
    for (const UndoPlanFile& f : timed)
        ordered.push_back(f.Name);
    return ordered;
}

bool RequestedPlans(const nlohmann::json& body, std::vector<std::string>& names,
                    std::string& error) {
    names.clear();
    error.clear();
    const auto list = body.find("plans");
    if (list == body.end()) {
        const auto one = body.find("plan");
        // An empty plan is none: the report of the site alone.
        if (one != body.end() && one->is_string() && !one->get<std::string>().empty())
            names.push_back(one->get<std::string>());
    } else if (!list->is_array() || list->empty()) {
        error = "plans: a list of the undo plans to apply as one";
    } else {
        for (const auto& name : *list)
            names.push_back(name.is_string() ? name.get<std::string>() : std::string());
    }
    for (const std::string& name : names)
        if (error.empty() && !PlainName(name, ".csv", error)) break;
    return error.empty();
}

std::vector<UndoPlanFile> UndoPlanList::Of(const std::string& folder) {
    std::vector<UndoPlanFile> plans;
    std::map<std::string, Seen> kept;
    for (const FolderFile& file : FolderFiles(folder, ".csv")) {
        if (!file.Undo) continue;
        std::string error;
        const std::string path = PathInFolder(folder, file.Name, ".csv", error);
        Seen seen = Read.count(path) ? Read[path] : Seen{file.Modified, file.Bytes, -2};
        if (seen.Rows == -2 || seen.Modified != file.Modified || seen.Bytes != file.Bytes)
            seen = {file.Modified, file.Bytes, RowsOf(path)};
        kept[path] = seen;
        std::string time = UndoPlanTime(file.Name);
        if (time.empty()) time = LocalTimeText("%Y-%m-%d %H:%M:%S", file.Modified);
        plans.push_back({file.Name, time, seen.Rows});
    }
    // Files gone are forgotten, so that a long day's list does not grow without end.
    Read = std::move(kept);
    std::sort(plans.begin(), plans.end(),
              [](const UndoPlanFile& a, const UndoPlanFile& b) { return MadeBefore(b, a); });
    return plans;
}
