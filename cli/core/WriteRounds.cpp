#include "WriteRounds.h"

namespace Cli {

void WriteRounds(PanelLink& link, Rounds& rounds, const SearchOptions& search, int maxRounds,
                 const RunControl& control) {
    using Clock = std::chrono::steady_clock;
    const std::size_t total = rounds.ToWrite().size();
    for (int round = 0; round < maxRounds && !rounds.Finished(); ++round) {
        if (control.Interrupted()) break;
        const auto todo = rounds.ToWrite();
        for (std::size_t n = 0; n < todo.size(); ++n) {
            const std::size_t at = todo[n];
            if (control.Interrupted()) {
                rounds.Skip(at);
                continue;
            }
            control.Progress("round " + std::to_string(round + 1) + ": " +
                             std::to_string(total - todo.size() + n) + " of " +
                             std::to_string(total) + " rows done");
            const PanelRecord current = rounds.Latest(at);
            const PanelRecord pending = rounds.Pending(at);
            const bool replied = link.Write(current, pending, [&](const std::string& source) {
                return CreditsWrite(source, current, pending);
            });
            rounds.Wrote(at, replied);
        }
        // Ends once every row written holds, or has answered after a whole round (its last
        // reply counts: an earlier one may answer an older search).
        const auto start = Clock::now();
        SearchOptions readBack = search;
        readBack.Repeat = 1;
        const auto collected = SearchFor(link, readBack, maxRounds, [&](const Replies& r) {
            return rounds.AllHold(r) ||
                   (Clock::now() - start >= SearchEvery && rounds.AllAnswered(r));
        });
        rounds.ReadBack(RecordsOf(collected.Replies));
    }
    control.Progress("");
    for (std::size_t at : rounds.ToWrite())
        if (control.Interrupted()) rounds.Skip(at);
}

} // namespace Cli
