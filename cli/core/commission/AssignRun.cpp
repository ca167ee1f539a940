#include "commission/AssignRun.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "PanelTexts.h"
#include "files/WholeFile.h"
#include "plan/Plan.h"
#include "plan/UndoPlan.h"
#include "site/Found.h"
#include "site/WriteRounds.h"
#include "text/TerminalText.h"

namespace Cli {

namespace {

// One row's write and read-back in rounds, as apply does them. A stop meanwhile lets the row
// finish: a panel left half-written would be neither new nor the row's. A clash the row made
// or met (another panel on its IP or call address) fails it.
RowResult WriteRow(PanelLink& link, const RowChange& change, const SearchOptions& search,
                   int maxRounds, const std::vector<PanelRecord>& site, const Hearing& heard,
                   const AssignEvents& events) {
    Rounds rounds({change}, site);
    const auto readBack = WriteRounds(link, rounds, search, maxRounds, RunControl{}, heard);
    RowResult result = rounds.Result(0);
    for (const std::string& clash : ClashesAfter(rounds, site, readBack)) {
        events.Say("site: " + clash);
        result.Ok = false;
    }
    return result;
}

std::string MacList(const std::vector<PanelRecord>& panels) {
    std::string out;
    for (const PanelRecord& p : panels)
        out += (out.empty() ? "" : ", ") + MacText(p.Mac);
    return out;
}

// The rounds of the watch (each a search request every panel answers). Short rounds: the
// powering order rests on rounds missed, and the more rounds a second holds, the sooner a
// panel's silence is sure.
constexpr Millis WatchRound{50};

// Rounds that replies `late` behind their request may shift an answer by, both ways.
int RoundsLate(Millis late) {
    return int((2 * late + WatchRound - Millis(1)) / WatchRound);
}

} // namespace

Assigner::Assigner(PanelLink& link, const Plan& schedule, std::vector<AsBuiltRow> rows,
                   AssignPaths paths, std::vector<PanelRecord> site, std::vector<Ipv4Bytes> own,
                   const SearchOptions& search, int rounds, AssignEvents events, bool asWritten,
                   Hearing heard, std::map<MacAddress, std::size_t> pinned)
    : Net(link), Schedule(schedule), Taken(std::move(rows)), Paths(std::move(paths)),
      Site(std::move(site)), Own(std::move(own)), Search(search), MaxRounds(rounds),
      Events(std::move(events)), AsWritten(asWritten), Heard(std::move(heard)),
      Pinned(std::move(pinned)) {
    Taken.resize(Schedule.Rows.size());
}

std::size_t Assigner::Next() const {
    std::size_t at = 0;
    while (at < Taken.size() && (!Taken[at].Mac.empty() || PinnedRow(at)))
        ++at;
    return at;
}

bool Assigner::Done() const {
    return std::all_of(Taken.begin(), Taken.end(),
                       [](const AsBuiltRow& row) { return !row.Mac.empty(); });
}

std::optional<std::size_t> Assigner::RowOf(const uint8_t (&mac)[6]) const {
    const auto it = Pinned.find(MacOf(mac));
    if (it == Pinned.end() || !Taken[it->second].Mac.empty()) return std::nullopt;
    return it->second;
}

bool Assigner::PinnedRow(std::size_t at) const {
    return std::any_of(Pinned.begin(), Pinned.end(),
                       [at](const auto& p) { return p.second == at; });
}

int Assigner::Outcome() const {
    if (Refused) return 2;
    return AllOk && !Failed ? 0 : 1;
}

void Assigner::FinishUnfinished(const std::vector<PanelRecord>& found) {
    for (std::size_t at = 0; at < Taken.size() && !Failed; ++at) {
        if (!Taken[at].Unfinished()) continue;
        const auto mac = ParseMac(Taken[at].Mac);
        const auto panel = std::find_if(found.begin(), found.end(), [&](const PanelRecord& r) {
            return mac && std::equal(mac->begin(), mac->end(), r.Mac);
        });
        if (panel == found.end()) {
            Events.Say(Taken[at].Mac + ": row " + std::to_string(at + 1) +
                       " was being written to it when the last run ended, and it did not answer; "
                       "the row stays its, and is finished when the panel answers to a run");
            AllOk = false;
            continue;
        }
        Give(at, *panel);
    }
}

RowSteps Assigner::StepsFor(std::size_t at, const PanelRecord& panel, const std::string& mac) {
    RowSteps steps;
    steps.SaveUndo = [this, at, mac](const RowChange& change) {
        Changed.push_back(change);
        std::string error;
        // The first row makes the file as apply makes its own; each further row puts the whole
        // plan in its place. Either is on the disk before the write leaves.
        const bool saved =
            Changed.size() == 1
                ? SaveUndoPlan(Paths.Undo, UndoPlanText(Changed), Paths.UndoInStateFolder, error)
                : WriteWhole(Paths.Undo, UndoPlanText(Changed), error, true);
        if (!saved) {
            Events.Say(error + "; nothing was written");
            Events.Row(at, mac, "refused", error + "; nothing was written", "");
            Changed.pop_back();
        }
        return saved;
    };
    steps.SaveAsBuilt = [this](const std::string& text) {
        std::string error;
        if (WriteWhole(Paths.AsBuilt, text, error)) return true;
        Events.Say(error);
        return false;
    };
    steps.Write = [this, at, mac, &panel](const RowChange& change) {
        Events.Row(at, mac, "writing", "", "");
        std::vector<PanelRecord> site = Site;
        site.push_back(panel);
        return WriteRow(Net, change, Search, MaxRounds, site, Heard, Events);
    };
    return steps;
}

void Assigner::SayRefused(std::size_t at, const std::string& mac,
                          const std::vector<PlanError>& errors) {
    std::string reasons;
    for (const PlanError& e : errors) {
        Events.Say(mac + ": row " + std::to_string(at + 1) + ": " + e.Text);
        reasons += (reasons.empty() ? "" : "; ") + e.Text;
    }
    // The run stops here, because every later panel would be offered the same refused row.
    Events.Say(mac + ": not assigned; put the row right and start again (the as-built plan "
                     "keeps the rows done)");
    Events.Row(at, mac, "refused", reasons, "");
}

void Assigner::SayDone(std::size_t at, const std::string& mac, const RowOutcome& outcome) {
    const PlanRow& row = Schedule.Rows[at];
    const RowResult& result = outcome.Result;
    auto cells = PanelCells(AsReported(outcome.Change.Pending), "");
    // The call address as the schedule spells it.
    if (const auto it = row.Cells.find("address"); it != row.Cells.end() && !it->second.empty())
        cells[2] = it->second;
    std::string note;
    if (!row.Notes.empty() && !row.Notes.front().second.empty())
        note = " (" + row.Notes.front().second + ")";
    Events.Row(at, mac, result.Result, result.Details,
               TerminalText(mac + "  row " + std::to_string(at + 1) + note + "  " + cells[2] +
                            "  " + cells[4] + "  " + result.Result +
                            (result.Details.empty() ? "" : " (" + result.Details + ")")));
}

bool Assigner::Give(std::size_t at, const PanelRecord& panel) {
    const std::string mac = MacText(panel.Mac);
    const RowSteps steps = StepsFor(at, panel, mac);
    std::vector<PlanError> errors;
    const RowOutcome outcome = AssignRow(Schedule, Taken, at, panel, steps, Own, errors, AsWritten);
    for (const PlanError& note : outcome.Notes)
        Events.Say("warning: row " + std::to_string(at + 1) + ": " + note.Text);
    if (outcome.Is == RowOutcome::Refused) {
        SayRefused(at, mac, errors);
        Refused = Failed = true;
        return false;
    }
    if (outcome.Is == RowOutcome::NotSaved) {
        Failed = true;
        if (Taken[at].Mac.empty()) return false; // Nothing was sent.
    }
    AllOk = AllOk && outcome.Result.Ok;
    SayDone(at, mac, outcome);
    return true;
}

std::vector<PanelRecord> ByMac(std::vector<PanelRecord> panels) {
    std::sort(panels.begin(), panels.end(), [](const PanelRecord& a, const PanelRecord& b) {
        return std::lexicographical_compare(a.Mac, a.Mac + 6, b.Mac, b.Mac + 6);
    });
    return panels;
}

namespace {

// The panels a round gives rows to: those --row names, then the one surely first, or with
// `inMacOrder` every new panel by MAC order, or the one the person chose from a group.
std::vector<std::pair<PanelRecord, std::size_t>> Takers(const Assigner& assigner,
                                                        const NewPanelWatch::Step& step,
                                                        bool inMacOrder, const AssignEvents& events,
                                                        std::size_t rows) {
    std::vector<std::pair<PanelRecord, std::size_t>> take;
    for (const PanelRecord& r : step.New)
        if (const auto at = assigner.RowOf(r.Mac)) take.push_back({r, *at});
    if (assigner.NoneLeft()) return take;
    if (step.Take) {
        take.push_back({*step.Take, assigner.Next()});
    } else if (step.New.size() > 1 && inMacOrder) {
        std::size_t next = assigner.Next();
        for (const PanelRecord& r : ByMac(step.New))
            if (!assigner.RowOf(r.Mac) && next < rows) {
                take.push_back({r, next});
                while (++next < rows && !assigner.Free(next)) {
                }
            }
    } else if (step.Group.size() > 1) {
        // The person has said which of the group was powered first.
        const std::string chosen = events.Chosen();
        for (const PanelRecord& panel : step.Group)
            if (MacText(panel.Mac) == chosen) take.push_back({panel, assigner.Next()});
    }
    return take;
}

} // namespace

void WatchAndAssign(PanelLink& link, Assigner& assigner, NewPanelWatch& watch, const Subnet& newOn,
                    bool inMacOrder, const AssignEvents& events, const Hearing& siteHeard) {
    std::string refused; // the last unsure group announced, so that it is announced only once
    Millis lateness = siteHeard.Lateness();
    watch.LateRounds(RoundsLate(lateness));
    watch.Measured(siteHeard.Answered(), siteHeard.MissedReplies());
    HearingNotices notices;
    const auto measured = [&] {
        const std::string text = HearingText(watch.LossKnown(), watch.Loss(), lateness);
        events.Heard(text);
        if (notices.Notable(watch.LossKnown(), watch.Loss(), lateness)) events.Say(text);
    };
    measured();
    const std::size_t rows = assigner.Rows().size();
    while (!assigner.Done() && !events.Stopped() && !assigner.Broken()) {
        events.Progress("waiting for a new panel on " + newOn.Text() + " for row " +
                        std::to_string(assigner.Next() + 1) + " (Ctrl+C ends)");
        SearchPlan plan;
        plan.Every = WatchRound;
        plan.Requests = 1;
        plan.LossRetries = 0;
        plan.Continue = true;
        const Collected round = link.Search(plan);
        Millis late{0};
        for (const FoundPanel& p : round.Replies)
            late = std::max(late, p.Late);
        watch.LateRounds(RoundsLate(late));
        lateness = std::max(lateness, late);
        const auto step = watch.Round(RecordsOf(round.Replies));
        events.Progress("");
        measured();
        const auto take = Takers(assigner, step, inMacOrder, events, rows);
        if (take.empty() && step.Group.size() > 1 && MacList(step.Group) != refused) {
            refused = MacList(step.Group);
            events.Say(
                (step.Group.size() == 2 ? std::string("two") : std::to_string(step.Group.size())) +
                " new panels whose powering order is not sure (" + refused +
                "); none was assigned, nor any powered after them: switch all but one off, "
                "or say which takes which row with --row N=MAC");
            events.Together(step.Group);
        }
        for (const auto& [panel, at] : take) {
            if (assigner.Done() || assigner.Broken()) break;
            assigner.Assign(panel, at);
            watch.Took(panel.Mac); // Assigned or refused, the panel is no longer new.
        }
    }
}

std::string HearingText(bool known, double loss, Millis lateness) {
    if (!known) return "no reply yet to measure the loss by";
    return "about " + std::to_string(std::lround(100 * loss)) + " % of replies lost, up to " +
           std::to_string(lateness.count()) + " ms late";
}

bool HearingNotices::Notable(bool known, double loss, Millis lateness) {
    if (!known) return false;
    const long percent = std::lround(100 * loss);
    const int rounds = RoundsLate(lateness);
    if (SaidPercent >= 0 && std::labs(percent - SaidPercent) < 5 && rounds <= SaidRounds)
        return false;
    SaidPercent = percent;
    SaidRounds = std::max(SaidRounds, rounds);
    return true;
}

bool PinnedRows(const std::vector<std::string>& given, const std::vector<std::string>& macs,
                const std::set<MacAddress>& assigned, std::map<MacAddress, std::size_t>& pinned,
                std::string& problem) {
    std::set<std::size_t> rows;
    for (const std::string& text : given) {
        const std::size_t equals = text.find('=');
        const std::string number = text.substr(0, equals);
        const auto mac =
            equals == std::string::npos ? std::nullopt : ParseMac(text.substr(equals + 1));
        std::size_t row = 0;
        const bool digits =
            !number.empty() && number.size() < 7 &&
            std::all_of(number.begin(), number.end(), [](char c) { return c >= '0' && c <= '9'; });
        if (digits) row = std::stoul(number);
        if (!mac || !digits)
            problem = "takes N=MAC, the row number assign prints and a MAC like 00:50:2A:A8:01:64";
        else if (row < 1 || row > macs.size())
            problem = "the schedule has rows 1 to " + std::to_string(macs.size());
        else if (!macs[row - 1].empty())
            problem = "row " + std::to_string(row) + " already has the panel " + macs[row - 1];
        else if (assigned.count(*mac))
            problem = text.substr(equals + 1) + " already has a row";
        else if (!rows.insert(row - 1).second || !pinned.emplace(*mac, row - 1).second)
            problem = "a row or a MAC given twice";
        if (!problem.empty()) {
            problem = "--row " + text + ": " + problem;
            return false;
        }
    }
    return true;
}

} // namespace Cli
