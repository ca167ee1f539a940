#include "Handover.h"

#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <memory>
#include <set>

#ifdef _WIN32
#include <windows.h>

#include "WideText.h"
#else
#include <unistd.h>
#endif

#include "Common.h"
#include "ComputerAddresses.h"
#include "PanelTexts.h"
#include "commission/HtmlReport.h"
#include "commission/WorkDone.h"
#include "files/Utf8Files.h"
#include "files/WholeFile.h"
#include "plan/PlanFile.h"
#include "plan/UndoPlan.h"
#include "text/LocalTime.h"

namespace Cli {

namespace {

std::string HostName() {
#ifdef _WIN32
    wchar_t name[256];
    DWORD size = 256;
    if (GetComputerNameExW(ComputerNameDnsHostname, name, &size)) return Utf8(name);
    return "";
#else
    char name[256] = {};
    if (gethostname(name, sizeof name - 1) != 0) return "";
    return name;
#endif
}

std::string UserName() {
#ifdef _WIN32
    return Utf8Environment("USERNAME");
#else
    if (const std::string user = Utf8Environment("USER"); !user.empty()) return user;
    return Utf8Environment("LOGNAME");
#endif
}

// The site is named by the folder its plan is kept in, as installers keep one per building; a
// plan alone in the current folder by its own name.
std::string SiteName(const std::string& planPath) {
    namespace fs = std::filesystem;
    const auto text = [](const fs::path& p) {
        const auto u8 = p.u8string();
        return std::string(u8.begin(), u8.end());
    };
    const bool file = !planPath.empty() && planPath != "-";
    const fs::path plan = file ? Utf8Path(planPath) : fs::path();
    std::error_code code;
    // The path is made absolute, so that "plan.csv" is named by the folder it is in.
    const fs::path folder = fs::absolute(file ? plan : fs::path("here"), code).parent_path();
    std::string name = code ? "" : text(folder.filename());
    if (name.empty() && file) name = text(plan.stem());
    return name;
}

std::string FileTime(const std::filesystem::path& file) {
    std::error_code code;
    const auto written = std::filesystem::last_write_time(file, code);
    if (code) return "";
    const std::time_t at = std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(
            std::chrono::file_clock::to_sys(written)));
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &at);
#else
    localtime_r(&at, &local);
#endif
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S", &local);
    return text;
}

// The as-built and undo plans of the folders WorkDoneFolders names, each file once.
std::vector<RunRecord> RunRecords(const ReportOptions& options) {
    namespace fs = std::filesystem;
    std::string error;
    std::vector<fs::path> folders;
    for (const std::string& folder :
         WorkDoneFolders(options.PlanPath, options.SiteFolder, UndoFolder(error)))
        folders.push_back(Utf8Path(folder));
    std::vector<RunRecord> records;
    std::set<fs::path> seen;
    for (const fs::path& folder : folders) {
        std::error_code code;
        for (const auto& entry : fs::directory_iterator(folder, code)) {
            const auto u8 = entry.path().filename().u8string();
            const std::string name(u8.begin(), u8.end());
            const bool asBuilt =
                name.size() > 13 && name.rfind("-as-built.csv") == name.size() - 13;
            const std::string undoTime = UndoPlanTime(name);
            if (!asBuilt && undoTime.empty()) continue;
            std::error_code same;
            const fs::path canonical = fs::weakly_canonical(entry.path(), same);
            if (!seen.insert(canonical).second || !entry.is_regular_file(same)) continue;
            std::string text, problem;
            const auto path8 = entry.path().u8string();
            if (!LoadPlanText(std::string(path8.begin(), path8.end()), text, problem)) continue;
            records.push_back({asBuilt ? RunRecord::AsBuilt : RunRecord::Undo, name,
                               asBuilt ? FileTime(entry.path()) : undoTime, text});
        }
    }
    return records;
}

// This computer's addresses except loopback, which the site does not see.
std::vector<std::string> SiteFacingAddresses() {
    std::vector<std::string> addresses;
    for (const auto& a : ComputerAddresses())
        if (a[0] != 127)
            addresses.push_back(std::to_string(a[0]) + "." + std::to_string(a[1]) + "." +
                                std::to_string(a[2]) + "." + std::to_string(a[3]));
    return addresses;
}

// One report line per plan row, with the panel that answered for it, if any, and the row's
// own # notes.
ReportPanel PlannedPanel(const CheckRow& row, const Plan& plan,
                         const std::vector<FoundPanel>& found) {
    ReportPanel panel;
    panel.Result = row.Result;
    panel.Details = row.Details;
    const auto mac = ParseMac(row.Mac); // none for a row not assigned yet
    if (mac) std::copy(mac->begin(), mac->end(), panel.Record.Mac);
    panel.Found = false;
    for (const FoundPanel& p : found)
        if (mac && MacOf(p.Record) == *mac && !panel.Found) {
            panel.Record = p.Record;
            panel.Via = p.Via;
            panel.Found = true;
        }
    for (const PlanRow& given : plan.Rows)
        if (given.Line == row.Line && row.Line > 0) panel.Notes = given.Notes;
    return panel;
}

// The report's panels and faults against the plan; false after saying why the plan cannot be
// checked.
bool AddPlanCheck(ReportInput& input, const Plan& plan, const std::string& planPath,
                  const std::vector<FoundPanel>& found) {
    input.PlanName = PlanName(planPath);
    for (const std::string& column : plan.Header)
        if (!column.empty() && column[0] == '#') input.NoteColumns.push_back(column);
    const PlanCheck check = CheckPlan(plan.Rows, RecordsOf(found), Factory());
    for (const PlanError& e : check.Errors)
        Error(Where(input.PlanName, e));
    if (!check.Errors.empty()) return false;
    input.Faults = check.Faults;
    for (const CheckRow& row : check.Rows)
        input.Panels.push_back(PlannedPanel(row, plan, found));
    return true;
}

} // namespace

std::string FolderName(const std::string& folder) {
    namespace fs = std::filesystem;
    std::error_code code;
    fs::path path = fs::absolute(Utf8Path(folder), code).lexically_normal();
    if (!path.has_filename()) path = path.parent_path();
    const auto u8 = path.filename().u8string();
    return std::string(u8.begin(), u8.end());
}

bool BuildReport(const ReportOptions& options, const Plan& plan,
                 const std::vector<FoundPanel>& found, ReportInput& input) {
    input.Site = options.Site.empty() ? SiteName(options.PlanPath) : options.Site;
    input.By = options.By.empty() ? UserName() : options.By;
    input.Host = HostName();
    input.Generated = LocalTimeText("%Y-%m-%d %H:%M (UTC%z)");
    input.Version = CALLPANEL_VERSION;
    input.ComputerAddresses = SiteFacingAddresses();
    if (options.PlanPath.empty()) {
        for (const FoundPanel& p : found)
            input.Panels.push_back({true, p.Record, p.Via, {}, "", ""});
        input.Faults = SiteFaults(RecordsOf(found), Factory());
    } else if (!AddPlanCheck(input, plan, options.PlanPath, found)) {
        return false;
    }
    std::vector<std::string> planned;
    for (const PlanRow& row : plan.Rows)
        if (const auto it = row.Cells.find("mac"); it != row.Cells.end())
            if (const auto mac = ParseMac(it->second)) {
                uint8_t raw[6];
                std::copy(mac->begin(), mac->end(), raw);
                planned.push_back(MacText(raw));
            }
    input.Runs = WorkDone(RunRecords(options), RecordsOf(found), planned);
    return true;
}

} // namespace Cli
