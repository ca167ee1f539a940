#pragma once

// Several undo plans of one site as one: a run stopped and started again (assign killed and
// started over, apply run twice) leaves an undo plan per run, and putting the building back must
// take each panel to what it held before the first of them touched it.

#include <string>
#include <vector>

#include "plan/Plan.h"

// One undo plan as read, with the name messages give it (its path).
struct NamedPlan {
    std::string Name;
    Plan Read;
};

// The undo plans in the order their runs made them, as one plan keyed by MAC. A panel is the
// same in two plans when the later plan's raw MAC is a MAC an earlier one knew it by (before or
// after its run). Its merged row puts back the earliest raw bytes, and its `undoes` holds, field
// by field, what the latest run that changed the field wrote there, so that apply takes the
// panel as those runs left it. The later plan's raw bytes must be, in every field, what an
// earlier plan put back or wrote: otherwise someone changed the panel between the runs, and the
// plans are refused with an error naming both files and lines. Every row needs its raw and
// undoes cells (an undo plan without them cannot say which bytes each run found). The rows keep
// the line and the display cells of their first plan. Errors have line 0: their text names the
// files.
Plan MergeUndoPlans(const std::vector<NamedPlan>& plans);

// The plan `apply` takes from the files given, each read without errors: the one file's as read,
// or several undo plans as one (MergeUndoPlans).
Plan PlanOfFiles(std::vector<NamedPlan> plans);
