#pragma once

// The steps that several commands take beyond printing: opening the engine, saying what the loss
// measured means for a decision, refusing a plan's problems and saving undo plans. What a single
// command alone does stays in its own file.

#include <string>
#include <vector>

#include "Engine.h"
#include "Messages.h"
#include "Options.h"
#include "plan/Changes.h"
#include "plan/Plan.h"
#include "plan/PlanCheck.h"
#include "site/FindPanels.h"
#include "site/Rounds.h"
#include "site/WriteRounds.h"

namespace Cli {

// Whether a command refuses to start when no interface can broadcast. The commands that write
// do: a search with nowhere to go would look like a site without panels.
enum class NeedNetwork { Yes, No };

// 0, or the exit code after saying why the engine cannot work.
int OpenEngine(Engine& engine, NeedNetwork need = NeedNetwork::Yes);

// Drops that a later round made up for cost time and are a warning; drops in every round an
// error, as the list may be short.
void ReportLoss(const Collected& collected, const Engine& engine);

// A search is whole when a round of it ended with no reply dropped by the system; a write or a
// card deletion on a view that is not could clash with a panel that was never heard. True
// after saying so.
bool RefuseIncompleteView(const Collected& collected, const Engine& engine);

// The one panel `name` stands for, or null with `exitCode` set after saying why there is none.
const FoundPanel* OnePanel(const Searched& searched, const std::string& name, int& exitCode);

// A decision that rests on silence which the deadline cut short: refused, with the loss
// measured and the --wait that it needs. Returns the exit code.
int NotSure(const std::string& what, const Hearing& heard, const SearchOptions& search,
            const char* outcome = "nothing was written");

// Ctrl+C and the progress line, for the writes.
RunControl Control();

// Errors and conflicts refuse the command; warnings are said and do not. True when refused.
bool Refuse(const Changes& changes, const std::string& path);

// Before the first write: the panels' settings now, as a plan that puts them back. False when
// it cannot be saved, and then nothing may be written.
bool SaveUndo(const std::vector<RowChange>& rows, const std::string& named);

// A named undo plan that could not be saved is refused before anything goes on the network.
bool RefuseUndoPath(const std::string& named);

// The clashes on the site after the writes, said; true when there are none.
bool SiteClean(const Rounds& rounds, const std::vector<FoundPanel>& found,
               const std::vector<PanelRecord>& readBack);

// The exit code of a run that wrote: Ctrl+C first, then whether all went well.
int Finish(bool ok);

// The plan at `path`, or false after saying what is wrong with it.
bool LoadPlan(const std::string& path, PlanKind kind, Plan& plan);

struct Site {
    std::vector<FoundPanel> Panels;
    bool MayBeShort = false;
    Hearing Heard; // the loss and lateness the search measured
};

// Every panel that answers, searched until the list is surely whole by the loss measured; a
// panel of a plan is missing only then. Says so when the list may be short.
Site SearchSite(Engine& engine, const SearchOptions& search);

// The subnet new panels answer on when they leave the factory.
Subnet Factory();

} // namespace Cli
