#include "Common.h"

#include <algorithm>
#include <cstdlib>

#include "BroadcastInterfaces.h"
#include "Console.h"
#include "plan/PlanFile.h"
#include "plan/UndoPlan.h"
#include "site/SiteChecks.h"
#include "text/MessageText.h"

namespace Cli {

namespace {

// A receive buffer other than the default, for trying what a computer with a low limit does.
int ReceiveBufferWanted() {
    const char* text = std::getenv("CALLPANEL_RECEIVE_BUFFER");
    const long bytes = text ? std::strtol(text, nullptr, 10) : 0;
    return bytes > 0 && bytes <= Engine::ReceiveBufferSize ? int(bytes) : Engine::ReceiveBufferSize;
}

bool HaveNetwork() {
    if (!CurrentBroadcastRoutes().empty()) return true;
    Error("no network to send on: no interface is up with an IPv4 broadcast address");
    return false;
}

std::string DropText(const Collected& collected, const Engine& engine) {
    return "the system dropped " + std::to_string(collected.Dropped) + " repl" +
           (collected.Dropped == 1 ? "y" : "ies") + " in " + std::to_string(collected.Searches) +
           " search(es): the receive buffer (" + std::to_string(engine.ReceiveRoom()) +
           " bytes) overflowed";
}

constexpr const char* BufferFix =
    "raise the system's limit (sudo sysctl -w net.core.rmem_max=16777216) or run callpanel as "
    "root, which takes 4 MiB whatever the limit";

} // namespace

int OpenEngine(Engine& engine, NeedNetwork need) {
    if (!engine.Open(ReceiveBufferWanted())) {
        Error("UDP port 8300 is held by another program (the window or another callpanel); "
              "close it and try again");
        return ExitPortHeld;
    }
    return need == NeedNetwork::No || HaveNetwork() ? ExitOk : ExitFailed;
}

bool RefuseIncompleteView(const Collected& collected, const Engine& engine) {
    if (collected.Whole) return false;
    Error("the search is not whole: " + DropText(collected, engine) +
          " in every round, so panels may be missing; nothing was written: " + BufferFix +
          ", and try again");
    return true;
}

void ReportLoss(const Collected& collected, const Engine& engine) {
    if (collected.Dropped == 0) return;
    if (collected.Whole)
        Warn(DropText(collected, engine) +
             "; a later round heard every panel (to avoid the drops, " + BufferFix + ")");
    else
        Error("the list may be short: " + DropText(collected, engine) + " in every round; " +
              BufferFix + ", and search again");
}

const FoundPanel* OnePanel(const Searched& searched, const std::string& name, int& exitCode) {
    const NamedPanel named = FindOne(searched.Found, name);
    if (named.Outcome == NamedPanel::One) return named.Panel;
    // Nobody answering as the name is no risk, but the loss may explain it.
    const bool lossy = named.Outcome == NamedPanel::None && !searched.Decided;
    Error(named.Error +
          (lossy ? ": " + LossText(searched.Heard) + "; try --wait " +
                       std::to_string(WaitNeededMs(searched.Heard, int(SearchEvery.count())))
                 : ""));
    exitCode = named.Outcome == NamedPanel::None ? ExitFailed : ExitRefused;
    return nullptr;
}

int NotSure(const std::string& what, const Hearing& heard, const SearchOptions& search,
            const char* outcome) {
    const int wait = std::max(WaitNeededMs(heard, int(SearchEvery.count())), search.WaitMs * 2);
    Error("not sure that " + what + ": " + LossText(heard) + "; try --wait " +
          std::to_string(wait));
    Error(outcome);
    return ExitRefused;
}

RunControl Control() {
    return {[] { return Interrupted(); }, [](const std::string& text) { Progress(text); }};
}

bool Refuse(const Changes& changes, const std::string& path) {
    std::vector<std::string> lines;
    for (const PlanError& e : changes.Errors)
        lines.push_back(path.empty() ? e.Text : Where(path, e));
    for (const auto& c : changes.Site.Conflicts)
        lines.push_back("site: " + c);
    Errors(lines);
    std::vector<std::string> warnings;
    for (const auto& w : changes.Site.Warnings)
        warnings.push_back("warning: " + w + " (already so; this command does not change it)");
    for (const PlanError& note : changes.Notes)
        warnings.push_back("warning: " + (path.empty() ? note.Text : Where(path, note)));
    if (!IsQuiet()) Errors(warnings);
    if (changes.Refused()) Error("nothing was written");
    return changes.Refused();
}

bool SaveUndo(const std::vector<RowChange>& rows, const std::string& named) {
    std::string error, path = named.empty() ? DefaultUndoPath(error) : named;
    if (path.empty() || !SaveUndoPlan(path, UndoPlanText(rows), named.empty(), error)) {
        Error((path.empty() ? "cannot save the undo plan: " + error : error) +
              "; nothing was written (--undo FILE names another place)");
        return false;
    }
    Error("undo plan: " + path + " (callpanel apply " + path + " puts the panels back)");
    return true;
}

bool RefuseUndoPath(const std::string& named) {
    std::string error;
    if (named.empty() || UndoPathFree(named, error)) return false;
    Error(error + "; nothing was written");
    return true;
}

bool SiteClean(const Rounds& rounds, const std::vector<FoundPanel>& found,
               const std::vector<PanelRecord>& readBack) {
    const auto clashes = ClashesAfter(rounds, RecordsOf(found), readBack);
    for (const std::string& clash : Limited(clashes))
        Error("site after the writes: " + clash);
    return clashes.empty();
}

int Finish(bool ok) {
    if (Interrupted()) return ExitInterrupted;
    return ok ? ExitOk : ExitFailed;
}

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

Site SearchSite(Engine& engine, const SearchOptions& search) {
    const Searched searched = SearchUntil(engine, SiteSearch(search));
    Site site{searched.Found, !searched.Decided, searched.Heard};
    if (site.MayBeShort) Error("the list may be short: " + LossText(searched.Heard));
    return site;
}

Subnet Factory() {
    return *ParseSubnet(FactorySubnet);
}

} // namespace Cli
