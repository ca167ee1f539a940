#include "Commission.h"

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "ComputerAddresses.h"
#include "Engine.h"
#include "HtmlReport.h"
#include "Plan.h"
#include "PlanCheck.h"
#include "PlanFile.h"
#include "ReplaceFile.h"
#include "SearchRounds.h"
#include "TerminalText.h"

namespace Cli {

namespace {

void Error(const std::string& text) {
    std::fprintf(stderr, "callpanel: %s\n", TerminalText(text).c_str());
}

// A short write shows in OutputWritten through the stream's error flag.
void Print(const std::string& text) {
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
}

int OpenEngine(Engine& engine) {
    if (!engine.Open()) {
        Error("UDP port 8300 is held by another program (the window or another callpanel); "
              "close it and try again");
        return ExitPortHeld;
    }
    return ExitOk;
}

struct Site {
    std::vector<FoundPanel> Panels;
    bool MayBeShort = false;
};

// Every panel that answers, searched as `search` searches: rounds while they still find panels.
Site SearchSite(Engine& engine, const SearchOptions& search) {
    std::vector<FoundPanel> all;
    SearchRounds rounds(search.Repeat);
    for (bool again = true; again;) {
        SearchPlan plan;
        plan.Every = Millis(search.WaitMs);
        plan.LossRetries = 0;
        const Collected collected = engine.Search(plan);
        all.insert(all.end(), collected.Replies.begin(), collected.Replies.end());
        again = rounds.AskAgain(Distinct(all).size(), Distinct(collected.Replies).size(),
                                collected.Whole);
    }
    Site site{Distinct(all), rounds.StillFinding()};
    if (site.MayBeShort)
        Error("the list may be short: the last of " + std::to_string(rounds.Done()) +
              " rounds still found new panels; search again with a longer --wait");
    return site;
}

std::string Where(const std::string& name, const PlanError& e) {
    std::string where = name;
    if (e.Line > 0) where.append(":").append(std::to_string(e.Line));
    if (e.Line > 0 && e.Column > 0) where.append(":").append(std::to_string(e.Column));
    return where.append(": ").append(e.Text);
}

// The plan at `path`, or false after saying what is wrong with it.
bool LoadPlan(const std::string& path, PlanKind kind, Plan& plan) {
    std::string text, problem;
    if (!LoadPlanText(path, text, problem)) {
        Error(problem);
        return false;
    }
    plan = ReadPlan(text, kind);
    for (const PlanError& e : plan.Errors)
        Error(Where(PlanName(path), e));
    return plan.Errors.empty();
}

Subnet Factory() {
    return *ParseSubnet(FactorySubnet);
}

std::string LocalTime() {
    const std::time_t now = std::time(nullptr);
    std::tm local{};
#ifdef _WIN32
    localtime_s(&local, &now);
#else
    localtime_r(&now, &local);
#endif
    char text[48];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M (UTC%z)", &local);
    return text;
}

} // namespace

int RunCheck(const CheckOptions& options) {
    Plan plan;
    if (!LoadPlan(options.PlanPath, PlanKind::KeyedByMac, plan)) return ExitRefused;
    Engine engine;
    if (const int code = OpenEngine(engine)) return code;
    const Site site = SearchSite(engine, options.Search);
    const PlanCheck check = CheckPlan(plan.Rows, RecordsOf(site.Panels), Factory());
    for (const PlanError& e : check.Errors)
        Error(Where(PlanName(options.PlanPath), e));
    if (!check.Errors.empty()) return ExitRefused;

    Table table;
    table.Columns = {"mac", "result", "details"};
    for (const CheckRow& row : check.Rows)
        table.Rows.push_back({row.Mac, row.Result, row.Details});
    // A fault once per panel it concerns, so that a script finds it by the MAC.
    for (const SiteFault& fault : check.Faults)
        for (const std::string& mac : fault.Macs)
            table.Rows.push_back({mac, "site fault", fault.Text});
    Print(Render(table, options.Output));
    return check.Passed(options.IgnoreExtra) && !site.MayBeShort ? ExitOk : ExitFailed;
}

int RunReport(const ReportOptions& options) {
    Plan plan;
    if (!options.PlanPath.empty() && !LoadPlan(options.PlanPath, PlanKind::KeyedByMac, plan))
        return ExitRefused;
    Engine engine;
    if (const int code = OpenEngine(engine)) return code;
    const Site site = SearchSite(engine, options.Search);
    const auto records = RecordsOf(site.Panels);

    ReportInput input;
    input.Generated = LocalTime();
    input.Version = CALLPANEL_VERSION;
    for (const auto& a : ComputerAddresses())
        input.ComputerAddresses.push_back(std::to_string(a[0]) + "." + std::to_string(a[1]) + "." +
                                          std::to_string(a[2]) + "." + std::to_string(a[3]));
    if (options.PlanPath.empty()) {
        for (const FoundPanel& p : site.Panels)
            input.Panels.push_back({true, p.Record, p.Via, {}, "", ""});
        input.Faults = SiteFaults(records, Factory());
    } else {
        input.PlanName = PlanName(options.PlanPath);
        for (const std::string& column : plan.Header)
            if (!column.empty() && column[0] == '#') input.NoteColumns.push_back(column);
        const PlanCheck check = CheckPlan(plan.Rows, records, Factory());
        for (const PlanError& e : check.Errors)
            Error(Where(input.PlanName, e));
        if (!check.Errors.empty()) return ExitRefused;
        input.Faults = check.Faults;
        for (const CheckRow& row : check.Rows) {
            ReportPanel panel;
            panel.Result = row.Result;
            panel.Details = row.Details;
            const auto mac = ParseMac(row.Mac);
            std::copy(mac->begin(), mac->end(), panel.Record.Mac);
            panel.Found = false;
            for (const FoundPanel& p : site.Panels)
                if (MacOf(p.Record) == *mac && !panel.Found) {
                    panel.Record = p.Record;
                    panel.Via = p.Via;
                    panel.Found = true;
                }
            for (const PlanRow& given : plan.Rows)
                if (given.Line == row.Line && row.Line > 0) panel.Notes = given.Notes;
            input.Panels.push_back(std::move(panel));
        }
    }
    std::string error;
    if (!ReplaceFile(options.HtmlPath, ReportHtml(input), error)) {
        Error(error);
        return ExitFailed;
    }
    Error("report: " + options.HtmlPath + " (" + std::to_string(site.Panels.size()) + " panel(s))");
    return ExitOk;
}

} // namespace Cli
