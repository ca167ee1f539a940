#pragma once

// The writes of `set` and `apply` in rounds: each round writes every row the panels do not yet
// report, with the panel's latest report as the current block, then reads back; read-backs give
// the rows' results. A result is what the panel reports, not whether a write reply came. A
// report is a row's only when its MAC, IP address and identity are each the panel's latest or
// the row's: panels may share a MAC, and another panel's report must never become the block of
// a write. A row is verified or differs only on a report that came after its last write; a
// panel that someone else changed meanwhile (another report with its MAC and identity, or its
// MAC and IP) is written no more.

#include <map>
#include <string>
#include <vector>

#include "plan/Changes.h"

// What the row writes over `latest` (a report, unlocking time in seconds): the fields the row
// changes as it staged them, every other byte as that report has it.
PanelRecord StagedOver(const RowChange& row, const PanelRecord& latest);

struct RowResult {
    std::string Result, Details;
    bool Ok = false;
};

class Rounds {
  public:
    // `found`: every panel the search before the writes heard; a report equal to one of them
    // (other than the row's own) is another panel's, never a change made meanwhile.
    explicit Rounds(std::vector<RowChange> rows, std::vector<PanelRecord> found = {});

    // Rows to write now: writes the panel's latest report does not yet show.
    std::vector<std::size_t> ToWrite() const;
    // The current block for the write of row `at`: what the panel reported last.
    const PanelRecord& Latest(std::size_t at) const { return State[at].Latest; }
    // What to write now: the row's cells over the panel's latest report.
    PanelRecord Pending(std::size_t at) const { return StagedOver(Rows[at], State[at].Latest); }
    void Wrote(std::size_t at, bool replied);

    // The search replies that came after the read-back search was sent, in arrival order. A
    // panel's last reply counts: an earlier one may answer an older search.
    void ReadBack(const std::vector<PanelRecord>& replies);
    // Every row that ToWrite named has a reply among `replies` / one that holds its row.
    bool AllAnswered(const std::vector<PanelRecord>& replies) const;
    bool AllHold(const std::vector<PanelRecord>& replies) const;

    bool Finished() const { return ToWrite().empty(); }
    // A row the user stopped before its write.
    void Skip(std::size_t at) { State[at].Skipped = true; }
    RowResult Result(std::size_t at) const;
    std::size_t Size() const { return Rows.size(); }
    const RowChange& Row(std::size_t at) const { return Rows[at]; }
    // The panels the search before the writes heard.
    const std::vector<PanelRecord>& Site() const { return Found; }
    // A report of a row's panel: its MAC, IP address and identity each the row's current or new.
    bool FromRow(const PanelRecord& report) const;

  private:
    struct RowState {
        PanelRecord Latest{};
        int WritesSent = 0;    // writes of this row sent so far
        bool Replied = false;  // a write reply credited to it came
        bool ReadBack = false; // answered a read-back
        bool Fresh = false;    // Latest came after the last write
        bool Changed = false;  // someone else changed the panel: Latest is what it holds now
        bool Skipped = false;  // the user stopped the run before its write
    };
    // The last reply in `replies` from the panel of row `at`, or null.
    const PanelRecord* LastReply(std::size_t at, const std::vector<PanelRecord>& replies) const;
    // `now`: Pending(at), what the row writes over the panel's latest report.
    bool IsFrom(std::size_t at, const PanelRecord& now, const PanelRecord& report) const;
    bool Holds(std::size_t at, const PanelRecord& report) const;
    // The last report in `replies` of the row's panel with settings that are neither those
    // searched nor those written, or null.
    const PanelRecord* ChangedReport(std::size_t at, const std::vector<PanelRecord>& replies) const;

    std::vector<RowChange> Rows;
    std::vector<RowState> State;
    std::vector<PanelRecord> Found;
    // The rows by the MACs they have and write, so that a large site's late replies are
    // matched without a scan of every row each.
    std::multimap<std::string, std::size_t> ByMac;
};

// Write and card-deletion replies carry no identity: one counts only when it comes from the
// panel's current or new IP address (for a card deletion both are the panel's one address).
bool CreditsWrite(const std::string& source, const PanelRecord& current,
                  const PanelRecord& pending);
