#pragma once

// The as-built plan that `callpanel assign` keeps: the schedule with each row's MAC and, in a
// column of the tool's own (AsBuiltStatusColumn), where the row stands. A row's intent is
// recorded before its write leaves, so that a run killed at any moment can be started again:
// a row marked "writing" is finished or verified on the panel it names, never given to another.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "plan/Changes.h"
#include "plan/Plan.h"
#include "site/Rounds.h"

// The status of a row whose write may have left but whose result is not recorded yet.
inline constexpr const char* WritingStatus = "writing";

struct AsBuiltRow {
    std::string Mac;    // "" while no panel has taken the row
    std::string Status; // "", WritingStatus, or the row's result
    bool Unfinished() const { return !Mac.empty() && Status == WritingStatus; }
};

// The schedule with the columns mac and status first, filled for the rows taken.
std::string AsBuiltText(const Plan& schedule, const std::vector<AsBuiltRow>& rows);
// "site.csv" -> "site-as-built.csv".
std::string DefaultAsBuiltPath(const std::string& schedulePath);
// What an earlier run recorded, row by row (an as-built plan without the status column, of an
// earlier version, has every row with a MAC done); nullopt with `error` when the as-built plan is
// not of this schedule (other rows or cells).
std::optional<std::vector<AsBuiltRow>> ResumedRows(const Plan& schedule, const Plan& asBuilt,
                                                   std::string& error);

// What giving one row to one panel asks of the world, in the order it happens: the undo plan
// that takes the write back saved and synced (`SaveUndo`, with the row's change), the as-built
// plan saved and synced (`SaveAsBuilt`, with its text: first with the row "writing", then with
// its result), and the write with its read-back (`Write`).
struct RowSteps {
    std::function<bool(const RowChange&)> SaveUndo;
    std::function<bool(const std::string&)> SaveAsBuilt;
    std::function<RowResult(const RowChange&)> Write;
};

struct RowOutcome {
    enum Kind { Refused, NotSaved, Done } Is = Refused;
    RowChange Change;
    RowResult Result;
    std::vector<PlanError> Notes; // what the row writes that reads back as something else
};

// Gives row `at` of `schedule` to `panel` (the panel as it answers now), recording it in `rows`.
// Also how a row left "writing" by a killed run is finished: the same row to the same panel,
// which then either holds it already (verified, nothing sent) or is written. Refused, with
// `errors`, when the row does not fit the panel; NotSaved when a file could not be saved, and
// then nothing was sent after it. `asWritten` as for PlanChanges.
RowOutcome AssignRow(const Plan& schedule, std::vector<AsBuiltRow>& rows, std::size_t at,
                     const PanelRecord& panel, const RowSteps& steps,
                     const std::vector<Ipv4Bytes>& own, std::vector<PlanError>& errors,
                     bool asWritten = false);
