#include "commission/AssignRun.h"

#include <algorithm>

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
                   int maxRounds, const std::vector<PanelRecord>& site,
                   const AssignEvents& events) {
    Rounds rounds({change});
    const auto readBack = WriteRounds(link, rounds, search, maxRounds, RunControl{});
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

} // namespace

Assigner::Assigner(PanelLink& link, const Plan& schedule, std::vector<AsBuiltRow> rows,
                   AssignPaths paths, std::vector<PanelRecord> site, std::vector<Ipv4Bytes> own,
                   const SearchOptions& search, int rounds, AssignEvents events, bool asWritten)
    : Net(link), Schedule(schedule), Taken(std::move(rows)), Paths(std::move(paths)),
      Site(std::move(site)), Own(std::move(own)), Search(search), MaxRounds(rounds),
      Events(std::move(events)), AsWritten(asWritten) {
    Taken.resize(Schedule.Rows.size());
}

std::size_t Assigner::Next() const {
    std::size_t at = 0;
    while (at < Taken.size() && !Taken[at].Mac.empty())
        ++at;
    return at;
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

bool Assigner::Give(std::size_t at, const PanelRecord& panel) {
    const PlanRow& row = Schedule.Rows[at];
    const std::string mac = MacText(panel.Mac);
    RowSteps steps;
    steps.SaveUndo = [&](const RowChange& change) {
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
    steps.SaveAsBuilt = [&](const std::string& text) {
        std::string error;
        if (WriteWhole(Paths.AsBuilt, text, error)) return true;
        Events.Say(error);
        return false;
    };
    steps.Write = [&](const RowChange& change) {
        Events.Row(at, mac, "writing", "", "");
        std::vector<PanelRecord> site = Site;
        site.push_back(panel);
        return WriteRow(Net, change, Search, MaxRounds, site, Events);
    };
    std::vector<PlanError> errors;
    const RowOutcome outcome = AssignRow(Schedule, Taken, at, panel, steps, Own, errors, AsWritten);
    for (const PlanError& note : outcome.Notes)
        Events.Say("warning: row " + std::to_string(at + 1) + ": " + note.Text);
    if (outcome.Is == RowOutcome::Refused) {
        std::string reasons;
        for (const PlanError& e : errors) {
            Events.Say(mac + ": row " + std::to_string(at + 1) + ": " + e.Text);
            reasons += (reasons.empty() ? "" : "; ") + e.Text;
        }
        // Every later panel would meet the same row.
        Events.Say(mac + ": not assigned; put the row right and start again (the as-built plan "
                         "keeps the rows done)");
        Events.Row(at, mac, "refused", reasons, "");
        Refused = Failed = true;
        return false;
    }
    if (outcome.Is == RowOutcome::NotSaved) {
        Failed = true;
        if (Taken[at].Mac.empty()) return false; // nothing was sent
    }
    const RowResult& result = outcome.Result;
    AllOk = AllOk && result.Ok;
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
    return true;
}

std::vector<PanelRecord> ByMac(std::vector<PanelRecord> panels) {
    std::sort(panels.begin(), panels.end(), [](const PanelRecord& a, const PanelRecord& b) {
        return std::lexicographical_compare(a.Mac, a.Mac + 6, b.Mac, b.Mac + 6);
    });
    return panels;
}

void WatchAndAssign(PanelLink& link, Assigner& assigner, NewPanelWatch& watch, const Subnet& newOn,
                    bool inMacOrder, const AssignEvents& events) {
    std::string refused; // the last "at once" said, to say it once
    while (!assigner.Done() && !events.Stopped() && !assigner.Broken()) {
        events.Progress("waiting for a new panel on " + newOn.Text() + " for row " +
                        std::to_string(assigner.Next() + 1) + " (Ctrl+C ends)");
        SearchPlan plan;
        plan.Every = SearchEvery;
        plan.Requests = 1;
        plan.LossRetries = 0;
        const auto step = watch.Round(RecordsOf(link.Search(plan).Replies));
        events.Progress("");
        std::vector<PanelRecord> take;
        if (step.Take) {
            take.push_back(*step.Take);
        } else if (step.New.size() > 1 && inMacOrder) {
            take = ByMac(step.New);
        } else if (step.New.size() > 1) {
            // The person has said which of them was powered first.
            const std::string chosen = events.Chosen();
            for (const PanelRecord& panel : step.New)
                if (MacText(panel.Mac) == chosen) take.push_back(panel);
        }
        if (take.empty() && step.New.size() > 1 && !inMacOrder && MacList(step.New) != refused) {
            refused = MacList(step.New);
            events.Say(
                (step.New.size() == 2 ? std::string("two") : std::to_string(step.New.size())) +
                " new panels at once: power them one at a time (" + refused +
                "); none was assigned");
            events.Together(step.New);
        }
        for (const PanelRecord& panel : take) {
            if (assigner.Done() || assigner.Broken()) break;
            assigner.Assign(panel);
            watch.Took(panel.Mac); // assigned, or refused: not new again
        }
    }
}

} // namespace Cli
