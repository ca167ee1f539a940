#pragma once

// A schedule's rows given to new panels as they are powered, over any PanelLink: the run that
// `callpanel assign` prints on the terminal and the commissioning page shows live. What it says
// goes out through AssignEvents, so each face words nothing of its own.

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "commission/AsBuilt.h"
#include "commission/Commissioning.h"
#include "site/FindPanels.h"
#include "site/Hearing.h"

namespace Cli {

struct AssignEvents {
    // Problems and notices, as `assign` writes them to standard error.
    std::function<void(const std::string&)> Say = [](const std::string&) {};
    // Row `row` (from 0) taken by `mac`: state "writing" before the write, then its result
    // ("verified", "unchanged", "differs", ...) with `details` and the line `assign` prints,
    // or "refused" with the reason.
    std::function<void(std::size_t row, const std::string& mac, const std::string& state,
                       const std::string& details, const std::string& line)>
        Row = [](std::size_t, const std::string&, const std::string&, const std::string&,
                 const std::string&) {};
    // While waiting for a new panel: what for; "" once a round is over.
    std::function<void(const std::string&)> Progress = [](const std::string&) {};
    // After each round of the watch: the loss and lateness measured so far (HearingText). They
    // are also said (Say) when they change notably (HearingNotices).
    std::function<void(const std::string&)> Heard = [](const std::string&) {};
    // Ctrl+C or the page's Stop: no new panel is taken; a row being written finishes.
    std::function<bool()> Stopped = [] { return false; };
    // New panels whose powering order is not sure: none of them is assigned, nor any panel
    // powered after them.
    std::function<void(const std::vector<PanelRecord>&)> Together =
        [](const std::vector<PanelRecord>&) {};
    // The MAC of such a group that the person says was powered first, and so takes the next
    // row; "" while nobody has said.
    std::function<std::string()> Chosen = [] { return std::string(); };
};

struct AssignPaths {
    std::string AsBuilt, Undo;
    bool UndoInStateFolder = false; // the default undo path: its folder is made when missing
};

class Assigner {
  public:
    // `rows`: what an earlier run recorded (ResumedRows); `site`: the panels found before the
    // first write; `own`: this computer's addresses; `asWritten`: a type and address that read
    // back as another are written all the same (PlanChanges).
    // `heard`: the loss and lateness the search before the first write measured, which the
    // read-backs wait for; `pinned`: --row, the row (from 0) each MAC takes whatever its order.
    Assigner(PanelLink& link, const Plan& schedule, std::vector<AsBuiltRow> rows, AssignPaths paths,
             std::vector<PanelRecord> site, std::vector<Ipv4Bytes> own, const SearchOptions& search,
             int rounds, AssignEvents events, bool asWritten = false, Hearing heard = {},
             std::map<MacAddress, std::size_t> pinned = {});

    // The next row no panel has taken and no --row keeps for its MAC, or the row count when
    // none is left.
    std::size_t Next() const;
    // Every row has a panel.
    bool Done() const;
    // No row is left for a panel that --row does not name.
    bool NoneLeft() const { return Next() == Taken.size(); }
    // Row `at` is neither taken nor kept by --row.
    bool Free(std::size_t at) const { return Taken[at].Mac.empty() && !PinnedRow(at); }
    // The row --row keeps for the panel with `mac`, while it has no panel.
    std::optional<std::size_t> RowOf(const uint8_t (&mac)[6]) const;
    // Gives `panel` the next row (or row `at`); false when it was refused (the row stays next).
    bool Assign(const PanelRecord& panel) { return Give(Next(), panel); }
    bool Assign(const PanelRecord& panel, std::size_t at) { return Give(at, panel); }
    // The rows a killed run left "writing", finished on their panels as they answer now: each
    // is written or found to hold its row already. A panel that did not answer keeps its row.
    void FinishUnfinished(const std::vector<PanelRecord>& found);
    bool Broken() const { return Failed; }
    const std::vector<AsBuiltRow>& Rows() const { return Taken; }
    // 0 every row written verified; 1 a row failed or a file could not be written; 2 refused.
    int Outcome() const;

  private:
    bool Give(std::size_t at, const PanelRecord& panel);
    // How row `at` saves its undo plan and the as-built plan, and writes `panel`.
    RowSteps StepsFor(std::size_t at, const PanelRecord& panel, const std::string& mac);
    // Says why row `at` was refused for the panel with the MAC `mac`.
    void SayRefused(std::size_t at, const std::string& mac, const std::vector<PlanError>& errors);
    // Says what became of row `at` on the panel with the MAC `mac`.
    void SayDone(std::size_t at, const std::string& mac, const RowOutcome& outcome);
    bool PinnedRow(std::size_t at) const;

    PanelLink& Net;
    const Plan& Schedule;
    std::vector<AsBuiltRow> Taken;
    AssignPaths Paths;
    std::vector<RowChange> Changed;
    std::vector<PanelRecord> Site;
    std::vector<Ipv4Bytes> Own;
    SearchOptions Search;
    int MaxRounds;
    AssignEvents Events;
    bool AsWritten;
    Hearing Heard;
    std::map<MacAddress, std::size_t> Pinned; // --row: MAC to row
    bool AllOk = true, Failed = false, Refused = false;
};

// The loss and lateness measured, in the words the terminal and the page show: "about 4 % of
// replies lost, up to 60 ms late". `known` is false while no panel has answered to measure by.
std::string HearingText(bool known, double loss, Millis lateness);

// Whether a measurement is worth a line of its own, for an installer watching the run, not a
// line every round: the first one known, then one whose loss moved 5 points or more from the
// one last said, or whose lateness shifts answers by more rounds than the one last said (which
// makes the watch wait longer before it takes a panel).
class HearingNotices {
  public:
    bool Notable(bool known, double loss, Millis lateness);

  private:
    long SaidPercent = -1;
    int SaidRounds = -1;
};

// New panels by MAC order.
std::vector<PanelRecord> ByMac(std::vector<PanelRecord> panels);

// Searches every WatchRound and gives each new panel that is surely alone or surely powered
// first the next row, and each panel --row names its row (with `inMacOrder`, new panels heard
// together take the rows in MAC order), until every row is taken, the run is stopped or broken.
// `siteHeard`: the loss and lateness the search before measured, counted with the watch's own.
void WatchAndAssign(PanelLink& link, Assigner& assigner, NewPanelWatch& watch, const Subnet& newOn,
                    bool inMacOrder, const AssignEvents& events, const Hearing& siteHeard);

// --row N=MAC, checked against the rows taken (`macs`, per row, "" while free) and the panels
// with a row (`assigned`): row N (as assign prints it, from 1) goes to the panel with the MAC,
// whatever the order it is powered in. False with `problem` set for the first one refused.
bool PinnedRows(const std::vector<std::string>& given, const std::vector<std::string>& macs,
                const std::set<MacAddress>& assigned, std::map<MacAddress, std::size_t>& pinned,
                std::string& problem);

} // namespace Cli
