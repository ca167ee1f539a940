// callpanel's plan reader and checks on a large site, without the network: a plan of ROWS rows
// (default 5000, half of them with a Chinese address) as search would print it, read, each row's
// settings laid over the panel of its MAC among all found and checked, staged, then the site
// checks: what apply does between its search and its first write. Prints the median and
// the worst of the rounds.
//   callpanel-bench-plan asbuilt ROWS FOLDER: what assign spends on its as-built plan, which it
// writes whole (synced, then put in place) after every row: a schedule of ROWS rows (default
// 2000) assigned one row at a time, the file rewritten in FOLDER after each. Prints the median
// and the worst rewrite and their sum.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "PanelTexts.h"
#include "PrintedPlans.h"
#include "SettingsChecks.h"
#include "commission/AsBuilt.h"
#include "files/WholeFile.h"
#include "plan/Changes.h"
#include "plan/Plan.h"
#include "site/SiteChecks.h"

namespace {

PanelRecord Panel(int n) {
    PanelRecord r{};
    // 10 bytes: eight digits and one GBK character on every other panel.
    char identity[13];
    std::snprintf(identity, sizeof identity, "H%08d", n);
    if (n % 2)
        std::memcpy(identity + 9, "\xCB\xCE", 2);
    else
        std::memcpy(identity + 9, "00", 2);
    identity[11] = '1';
    std::memcpy(&r.TypeLetter, identity, PanelIdentityLength);
    const uint8_t mac[6] = {0x00, 0x50, 0x2A, uint8_t(n >> 16), uint8_t(n >> 8), uint8_t(n)};
    const uint8_t ip[4] = {10, uint8_t(n / 62500), uint8_t(n / 250 % 250), uint8_t(n % 250 + 2)};
    const uint8_t mask[4] = {255, 0, 0, 0}, gateway[4] = {10, 0, 0, 1}, server[4] = {10, 0, 0, 2};
    std::memcpy(r.Mac, mac, 6);
    std::memcpy(r.Ip, ip, 4);
    std::memcpy(r.Subnet, mask, 4);
    std::memcpy(r.Gateway, gateway, 4);
    std::memcpy(r.Server, server, 4);
    std::memcpy(r.Version, "V1.4", 4);
    r.UnlockTime = 5;
    return r;
}

} // namespace

int AsBuilt(int rows, const std::string& folder) {
    std::string csv = "# location,type,address,facility,ip,mask,gateway,server,unlock\n";
    for (int n = 0; n < rows; ++n) {
        char line[160];
        std::snprintf(line, sizeof line,
                      "Entrance %d,flat,%08d01,0,10.%d.%d.%d,255.0.0.0,10.0.0.1,10.0.0.2,7\n", n, n,
                      n / 62500, n / 250 % 250, n % 250 + 2);
        csv += line;
    }
    const Plan schedule = ReadPlan(csv, PlanKind::Schedule);
    if (!schedule.Errors.empty()) {
        std::fprintf(stderr, "%s\n", schedule.Errors[0].Text.c_str());
        return 1;
    }
    const std::string path = folder + "/schedule-as-built.csv";
    std::vector<AsBuiltRow> taken(schedule.Rows.size());
    std::vector<double> rewriteMs; // each row's rewrite of the file
    double composingMs = 0;        // the part of them spent composing the text, without the file
    std::string error;
    for (int n = 0; n < rows; ++n) {
        const auto start = std::chrono::steady_clock::now();
        taken[std::size_t(n)] = {MacText(Panel(n).Mac), "verified"};
        const std::string text = AsBuiltText(schedule, taken);
        composingMs +=
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count();
        if (!WriteWhole(path, text, error)) {
            std::fprintf(stderr, "%s\n", error.c_str());
            return 1;
        }
        rewriteMs.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
    }
    double sumMs = 0;
    for (const double t : rewriteMs)
        sumMs += t;
    std::sort(rewriteMs.begin(), rewriteMs.end());
    std::printf("as-built plan of %d rows rewritten after each row: median %.2f ms, worst %.2f "
                "ms, %.0f ms in all (%.0f ms of it composing the text)\n",
                rows, rewriteMs[rewriteMs.size() / 2], rewriteMs.back(), sumMs, composingMs);
    return 0;
}

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "asbuilt")
        return AsBuilt(argc > 2 ? std::atoi(argv[2]) : 2000, argc > 3 ? argv[3] : ".");
    const int rows = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int rounds = argc > 2 ? std::atoi(argv[2]) : 7;
    std::vector<PanelRecord> panels;
    for (int n = 0; n < rows; ++n)
        panels.push_back(Panel(n));
    const std::string csv = PrintedPlan(panels, "10.0.0.9");

    std::vector<double> times;
    std::size_t refused = 0;
    for (int round = 0; round < rounds; ++round) {
        const auto start = std::chrono::steady_clock::now();
        const Plan plan = ReadPlan(csv);
        // As apply takes it: each row finds its panel among all those found.
        const Changes changes = PlanChanges(plan.Rows, panels, "", {});
        std::vector<PlanError> errors = plan.Errors;
        errors.insert(errors.end(), changes.Errors.begin(), changes.Errors.end());
        const std::vector<std::string>& problems = changes.Site.Conflicts;
        times.push_back(
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
                .count());
        refused = errors.size() + problems.size() + (changes.Rows.size() != std::size_t(rows));
        if (!errors.empty()) std::fprintf(stderr, "%s\n", errors[0].Text.c_str());
        if (!problems.empty()) std::fprintf(stderr, "%s\n", problems[0].c_str());
    }
    std::sort(times.begin(), times.end());
    std::printf("%d rows (%zu bytes) read and checked: median %.1f ms, worst %.1f ms of %d "
                "rounds; %zu problems\n",
                rows, csv.size(), times[times.size() / 2], times.back(), rounds, refused);
    return refused == 0 ? 0 : 1;
}
