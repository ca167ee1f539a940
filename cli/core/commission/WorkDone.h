#pragma once

// What the runs did, for the handover report, from the records they leave: the as-built plan an
// assign writes beside its schedule (each row's MAC once a panel took it) and the undo plan each
// set, apply and assign saves before its first write (the settings of every panel it was about
// to change, named by the local time it began). No plan says by itself whether its writes still
// hold: they are judged against the panels found now.

#include <string>
#include <vector>

#include "PanelRecord.h"
#include "plan/Plan.h"

struct RunRecord {
    enum Kind { AsBuilt, Undo } Kind;
    std::string Name; // the file's name, as the report shows it
    std::string When; // local date and time, "2026-12-07 20:32"
    std::string Text; // the file's UTF-8 text
};

struct ReportRun {
    std::string When, What, Record; // Record: the as-built or undo plan's name
    int Panels = 0;   // panels the run wrote (undo) or rows given to panels (as-built)
    int Verified = 0; // of them, those found now holding what the run wrote
};

// The runs in time order. An as-built plan counts the rows taken and those whose panel is now as
// the row says, with the undo plan of its panels (the assign's, which it names too); any other
// undo plan (a set's or an apply's) the panels it saved and those that now hold other settings
// than it saved (the write is in place). An undo plan that names no panel of `found` nor of
// `planned` (MAC texts) is another site's and left out; so is a file that is no plan.
std::vector<ReportRun> WorkDone(const std::vector<RunRecord>& records,
                                const std::vector<PanelRecord>& found,
                                const std::vector<std::string>& planned);

// The folders whose as-built and undo plans are a report's work done, each once, by UTF-8 path:
// the site folder when the report has one (the commissioning page's, or `report --site FOLDER`),
// the plan's folder (the current folder when there is neither a plan nor a site folder: the
// records of one site are never taken from wherever the program happened to start), and the
// undo folder when there is one.
std::vector<std::string> WorkDoneFolders(const std::string& planPath, const std::string& siteFolder,
                                         const std::string& undoFolder);

// "undo-2026-12-07-203207.csv" (or with -2 before .csv) as "2026-12-07 20:32:07"; empty for
// any other name.
std::string UndoPlanTime(const std::string& fileName);
