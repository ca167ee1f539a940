#include "commission/WorkDone.h"

#include <algorithm>
#include <set>

#include "PanelTexts.h"
#include "files/Utf8Files.h"
#include "plan/Changes.h"
#include "plan/PlanCheck.h"

namespace {

std::string Counted(int n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

using MacSet = std::set<std::string>;

// The rows given to panels, and how many of those panels are now as their row says.
bool FromAsBuilt(const RunRecord& record, const std::vector<PanelRecord>& found, ReportRun& run,
                 MacSet& macs) {
    const Plan plan = ReadPlan(record.Text, PlanKind::AsBuilt);
    if (plan.Rows.empty()) return false;
    std::vector<PlanRow> taken;
    for (const PlanRow& row : plan.Rows)
        if (const auto it = row.Cells.find("mac"); it != row.Cells.end())
            if (const auto mac = ParseMac(it->second)) {
                taken.push_back(row);
                uint8_t raw[6];
                std::copy(mac->begin(), mac->end(), raw);
                macs.insert(MacText(raw));
            }
    run.Panels = int(taken.size());
    const PlanCheck check = CheckPlan(taken, found, *ParseSubnet(FactorySubnet));
    run.Verified = int(std::count_if(check.Rows.begin(), check.Rows.end(), [](const CheckRow& r) {
        return r.Line > 0 && r.Result == "as planned";
    }));
    std::string schedule = record.Name;
    if (const auto at = schedule.rfind("-as-built"); at != std::string::npos)
        schedule.replace(at, 9, "");
    run.What = "assign: " + Counted(run.Panels, "row", "rows") + " of " +
               std::to_string(plan.Rows.size()) + " in " + schedule + " given to new panels";
    return true;
}

// The panels the run saved before writing, and how many now hold something else.
bool FromUndo(const RunRecord& record, const std::vector<PanelRecord>& found, const MacSet& known,
              ReportRun& run, MacSet& macs) {
    const Plan plan = ReadPlan(record.Text);
    if (!plan.Errors.empty() || plan.Rows.empty()) return false;
    bool ours = false;
    for (const PlanRow& row : plan.Rows) {
        const std::string mac = row.Cells.count("mac") ? row.Cells.at("mac") : "";
        const auto bytes = ParseMac(mac);
        if (!bytes) continue;
        ++run.Panels;
        uint8_t raw[6];
        std::copy(bytes->begin(), bytes->end(), raw);
        ours = ours || known.count(MacText(raw)) != 0;
        macs.insert(MacText(raw));
        for (const PanelRecord& panel : found) {
            if (!std::equal(bytes->begin(), bytes->end(), panel.Mac)) continue;
            ours = true;
            const auto cells = PanelCells(panel, "");
            bool other = false;
            for (int c = 1; c < WritableColumns && !other; ++c)
                if (const auto it = row.Cells.find(PanelColumns[c]);
                    it != row.Cells.end() && !it->second.empty())
                    other = it->second != cells[std::size_t(c)];
            run.Verified += other ? 1 : 0;
            break;
        }
    }
    run.What = "set or apply: wrote " + Counted(run.Panels, "panel", "panels");
    return ours;
}

} // namespace

std::vector<ReportRun> WorkDone(const std::vector<RunRecord>& records,
                                const std::vector<PanelRecord>& found,
                                const std::vector<std::string>& planned) {
    const MacSet known(planned.begin(), planned.end());
    std::vector<ReportRun> runs;
    std::vector<MacSet> macs;
    std::vector<bool> undo;
    for (const RunRecord& record : records) {
        ReportRun run{record.When, "", record.Name};
        MacSet written;
        const bool kept = record.Kind == RunRecord::AsBuilt
                              ? FromAsBuilt(record, found, run, written)
                              : FromUndo(record, found, known, run, written);
        if (!kept) continue;
        runs.push_back(std::move(run));
        macs.push_back(std::move(written));
        undo.push_back(record.Kind == RunRecord::Undo);
    }
    // An assign's undo plan holds the panels its as-built plan gave rows to (those its rows
    // changed): one run, begun when its undo plan was named.
    std::vector<bool> merged(runs.size(), false);
    for (std::size_t a = 0; a < runs.size(); ++a) {
        if (undo[a]) continue;
        for (std::size_t u = 0; u < runs.size(); ++u)
            if (undo[u] && !merged[u] && !macs[u].empty() &&
                std::includes(macs[a].begin(), macs[a].end(), macs[u].begin(), macs[u].end())) {
                runs[a].When = runs[u].When;
                runs[a].Record += ", undo plan " + runs[u].Record;
                merged[u] = true;
                break;
            }
    }
    std::vector<ReportRun> kept;
    for (std::size_t at = 0; at < runs.size(); ++at)
        if (!merged[at]) kept.push_back(std::move(runs[at]));
    runs = std::move(kept);
    std::stable_sort(runs.begin(), runs.end(),
                     [](const ReportRun& a, const ReportRun& b) { return a.When < b.When; });
    return runs;
}

std::vector<std::string> WorkDoneFolders(const std::string& planPath, const std::string& siteFolder,
                                         const std::string& undoFolder) {
    std::vector<std::string> folders;
    const auto add = [&folders](const std::string& folder) {
        if (!folder.empty() && std::find(folders.begin(), folders.end(), folder) == folders.end())
            folders.push_back(folder);
    };
    add(siteFolder);
    const bool plan = !planPath.empty() && planPath != "-";
    if (plan) {
        // The plan's folder as its path names it: "plan.csv" is in the current folder.
        const auto parent = Utf8Path(planPath).parent_path().u8string();
        add(parent.empty() ? "." : std::string(parent.begin(), parent.end()));
    } else if (siteFolder.empty()) {
        add(".");
    }
    add(undoFolder);
    return folders;
}

std::string UndoPlanTime(const std::string& fileName) {
    // undo-YYYY-MM-DD-HHMMSS[-N].csv
    const std::string digits = "dddd-dd-dd-dddddd";
    if (fileName.rfind("undo-", 0) != 0 || fileName.size() < 5 + digits.size() + 4 ||
        fileName.compare(fileName.size() - 4, 4, ".csv") != 0)
        return "";
    const std::string stamp = fileName.substr(5, digits.size());
    for (std::size_t at = 0; at < digits.size(); ++at)
        if (digits[at] == 'd' ? (stamp[at] < '0' || stamp[at] > '9') : stamp[at] != '-') return "";
    const std::string rest =
        fileName.substr(5 + digits.size(), fileName.size() - 9 - digits.size());
    if (!rest.empty() &&
        (rest[0] != '-' || rest.size() < 2 ||
         !std::all_of(rest.begin() + 1, rest.end(), [](char c) { return c >= '0' && c <= '9'; })))
        return "";
    return stamp.substr(0, 10) + " " + stamp.substr(11, 2) + ":" + stamp.substr(13, 2) + ":" +
           stamp.substr(15, 2);
}
