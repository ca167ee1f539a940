// libFuzzer target: any file as a site plan, through the reader, the settings of each row over
// one fixed panel, staging and the site checks. Beside "no crash" it checks what the reader
// promises: sane error places, and that what passes reads back the same once printed again.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "PanelTexts.h"
#include "PrintedPlans.h"
#include "SettingsChecks.h"
#include "plan/Plan.h"
#include "plan/PlanEncoding.h"
#include "site/SiteChecks.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "plan fuzzer: %s\n", what);
    std::abort();
}

PanelRecord Panel() {
    PanelRecord r{};
    std::memcpy(&r.TypeLetter, "H01020304051", PanelIdentityLength);
    const uint8_t mac[6] = {0x00, 0x50, 0x2A, 0x10, 0x00, 0xA5};
    const uint8_t ip[4] = {192, 168, 1, 20}, mask[4] = {255, 255, 255, 0},
                  gateway[4] = {192, 168, 1, 1}, server[4] = {192, 168, 1, 2};
    std::memcpy(r.Mac, mac, 6);
    std::memcpy(r.Ip, ip, 4);
    std::memcpy(r.Subnet, mask, 4);
    std::memcpy(r.Gateway, gateway, 4);
    std::memcpy(r.Server, server, 4);
    std::memcpy(r.Version, "V1.4", 4);
    r.UnlockTime = 5;
    return r;
}

// The panel as it would report staged settings, printed by search and read back as a plan row.
void CheckReadBack(const PanelRecord& current, const PanelRecord& staged) {
    PanelRecord reported = current;
    std::memcpy(&reported.TypeLetter, &staged.TypeLetter, PanelIdentityLength);
    std::memcpy(reported.Mac, staged.Mac, 22); // MAC and the four addresses
    reported.UnlockTime = static_cast<uint8_t>(staged.UnlockTime - '0');
    if (!ReportsStaged(reported, staged)) Fail("staged settings do not read back as reported");

    const Plan again = ReadPlan(PrintedPlan({reported}, "10.0.0.1"));
    if (!again.Errors.empty() || again.Rows.size() != 1) Fail("printed panel does not read back");
    std::vector<PlanError> errors;
    const std::optional<SettingsTexts> texts = RowSettings(again.Rows[0], reported, errors);
    if (!texts || !errors.empty()) Fail("printed panel fails its own checks");
    PanelRecord restaged{};
    StageSettings(*texts, restaged);
    if (std::memcmp(&restaged.TypeLetter, &staged.TypeLetter, PanelIdentityLength + 1 + 22) != 0 ||
        restaged.UnlockTime != staged.UnlockTime)
        Fail("printed and read back, the settings changed");
}

bool IsPanelColumn(const std::string& name) {
    return std::find(std::begin(PanelColumns), std::end(PanelColumns), name) !=
           std::end(PanelColumns);
}

// An undo plan's own columns and the as-built plan's status, which search does not print.
bool IsUndoColumn(const std::string& name) {
    return name == AsBuiltStatusColumn ||
           std::find(std::begin(UndoColumns), std::end(UndoColumns), name) !=
               std::end(UndoColumns);
}

// The window's last-byte rule does not hold for an address the row keeps.
bool KeptAddress(const CheckFailure& failure, const SettingsTexts& t, const PanelRecord& current) {
    const SettingsTexts was = TextsOf(current);
    const auto same = [](const std::string(&a)[4], const std::string(&b)[4]) {
        return std::equal(std::begin(a), std::end(a), std::begin(b));
    };
    switch (failure.Box) {
    case SettingsBox::Ip:
        return same(t.Ip, was.Ip);
    case SettingsBox::Gateway:
        return same(t.Gateway, was.Gateway);
    case SettingsBox::Server:
        return same(t.Server, was.Server);
    default:
        return false;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const Plan plan = ReadPlan(text);

    // Line ends as the reader counts them: LF, CRLF or a lone CR.
    // memchr, not a loop here: every comparison in this file is traced for the fuzzer.
    int lines = 1;
    const char* const end = text.data() + size;
    for (const char lineEnd : {'\n', '\r'})
        for (const char* at = text.data(); at != end;) {
            const void* found = std::memchr(at, lineEnd, std::size_t(end - at));
            if (!found) break;
            at = static_cast<const char*>(found) + 1;
            if (lineEnd == '\n' || at == end || *at != '\n') ++lines;
        }
    int previous = 0;
    for (const PlanError& e : plan.Errors) {
        if (e.Line < 1 || e.Line > lines || e.Column < 0 || e.Text.empty())
            Fail("error outside the file");
        if (e.Line < previous) Fail("errors out of line order");
        previous = e.Line;
    }

    const PanelRecord current = Panel();
    std::vector<SitePanel> site;
    std::string printed = PrintedPlanHeader();
    std::vector<const PlanRow*> printedRows;
    for (const PlanRow& row : plan.Rows) {
        if (row.Line < 1 || row.Line > lines) Fail("row outside the file");
        for (const auto& [name, cell] : row.Cells)
            if (!IsPanelColumn(name) && !IsUndoColumn(name)) Fail("a cell of an unknown column");

        // Every cell, printed again and read back, is the same text (checked for all rows at
        // once below). A row of empty cells is a spreadsheet's empty line, which is skipped.
        std::vector<std::string> cells;
        for (const char* column : PanelColumns) {
            const auto it = row.Cells.find(column);
            cells.push_back(it == row.Cells.end() ? std::string() : it->second);
        }
        if (!std::all_of(cells.begin(), cells.end(),
                         [](const std::string& cell) { return cell.empty(); })) {
            printed += CsvLine(cells);
            printedRows.push_back(&row);
        }

        std::vector<PlanError> errors;
        const std::optional<SettingsTexts> texts = RowSettings(row, current, errors);
        if (texts.has_value() != errors.empty()) Fail("settings and errors disagree");
        for (const PlanError& e : errors)
            if (e.Line != row.Line || e.Text.empty()) Fail("row error not on its row");
        if (!texts) continue;
        PanelRecord staged{};
        StageSettings(*texts, staged);
        // Only what a row changes is held to the window's checks.
        if (const auto failure = FirstFailedCheck(*texts);
            failure && !ReportsStaged(current, staged) && !KeptAddress(*failure, *texts, current))
            Fail("accepted settings fail a window check");
        if (std::memcmp(staged.Mac, current.Mac, 6) != 0) Fail("the MAC changed");
        CheckReadBack(current, staged);
        SitePanel panel;
        panel.Name = MacText(staged.Mac);
        panel.Before = current;
        panel.After = staged;
        panel.Written = true;
        site.push_back(panel);
    }
    // Control bytes in the cells printed (each row's own error) can be dense enough in the
    // shorter text for the whole to be judged not text; then there is nothing to compare.
    std::string decoded;
    const bool textAgain = !PlanAsUtf8(printed, decoded).has_value();
    const Plan again = ReadPlan(printed);
    if (textAgain && again.Rows.size() != printedRows.size())
        Fail("rows printed again are not as many");
    for (std::size_t at = 0; textAgain && at < printedRows.size(); ++at)
        for (const auto& [name, cell] : printedRows[at]->Cells)
            // An undo plan's own columns are not printed by search, so not read back either.
            if (IsPanelColumn(name) && again.Rows[at].Cells.at(name) != cell)
                Fail("a cell printed again changed");

    const SiteVerdict verdict = CheckSite(site);
    // One line per clash of each kind (IP, identity, MAC) and per gateway.
    if (verdict.Conflicts.size() + verdict.Warnings.size() > site.size() * 4)
        Fail("more site problems than panels");
    return 0;
}
