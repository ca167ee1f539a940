#include "site/Rounds.h"

#include <algorithm>
#include <cstring>

#include "PanelKeys.h"
#include "PanelTexts.h"
#include "SettingsChecks.h"

Rounds::Rounds(std::vector<RowChange> rows, std::vector<PanelRecord> found)
    : Rows(std::move(rows)), State(Rows.size()), Found(std::move(found)) {
    for (std::size_t at = 0; at < Rows.size(); ++at) {
        State[at].Latest = Rows[at].Current;
        const auto& current = Rows[at].Current.Mac;
        const auto& pending = Rows[at].Pending.Mac;
        ByMac.emplace(std::string(current, current + 6), at);
        if (std::memcmp(current, pending, 6) != 0)
            ByMac.emplace(std::string(pending, pending + 6), at);
    }
}

PanelRecord StagedOver(const RowChange& row, const PanelRecord& latest) {
    PanelRecord now = row.Pending;
    KeepUnchanged(latest, row.Sets, now);
    return now;
}

bool Rounds::Holds(std::size_t at, const PanelRecord& report) const {
    return ReportsStaged(report, StagedOver(Rows[at], report));
}

std::vector<std::size_t> Rounds::ToWrite() const {
    std::vector<std::size_t> rows;
    for (std::size_t at = 0; at < Rows.size(); ++at)
        if (Rows[at].Kind == RowKind::Write && !State[at].Skipped && !State[at].Changed &&
            !Holds(at, State[at].Latest))
            rows.push_back(at);
    return rows;
}

void Rounds::Wrote(std::size_t at, bool replied) {
    ++State[at].WritesSent;
    State[at].Replied = State[at].Replied || replied;
    State[at].Fresh = false;
}

const PanelRecord* Rounds::LastReply(std::size_t at,
                                     const std::vector<PanelRecord>& replies) const {
    const PanelRecord now = Pending(at);
    const auto it = std::find_if(replies.rbegin(), replies.rend(),
                                 [&](const PanelRecord& r) { return IsFrom(at, now, r); });
    return it == replies.rend() ? nullptr : &*it;
}

bool Rounds::IsFrom(std::size_t at, const PanelRecord& now, const PanelRecord& r) const {
    // Until a write takes, the panel answers with its old values, afterwards with the row's.
    const PanelRecord& was = State[at].Latest;
    return (Same(r.Mac, was.Mac) || Same(r.Mac, now.Mac)) &&
           (Same(r.Ip, was.Ip) || Same(r.Ip, now.Ip)) &&
           (SameIdentity(r, was) || SameIdentity(r, now));
}

bool Rounds::FromRow(const PanelRecord& report) const {
    const auto [begin, end] = ByMac.equal_range(std::string(report.Mac, report.Mac + 6));
    for (auto it = begin; it != end; ++it) {
        // What the panel held before the run, what it reported last and what the row writes.
        const std::size_t at = it->second;
        const PanelRecord now = Pending(at);
        const PanelRecord* held[] = {&Rows[at].Current, &State[at].Latest, &now};
        const auto any = [&](const auto& same) {
            return std::any_of(std::begin(held), std::end(held),
                               [&](const PanelRecord* r) { return same(*r); });
        };
        if (any([&](const PanelRecord& r) { return Same(r.Mac, report.Mac); }) &&
            any([&](const PanelRecord& r) { return Same(r.Ip, report.Ip); }) &&
            any([&](const PanelRecord& r) { return SameIdentity(r, report); }))
            return true;
    }
    return false;
}

const PanelRecord* Rounds::ChangedReport(std::size_t at,
                                         const std::vector<PanelRecord>& replies) const {
    const PanelRecord& was = State[at].Latest;
    const PanelRecord now = Pending(at);
    const auto searched = [&](const PanelRecord& r) { return Differences(was, r).empty(); };
    for (auto it = replies.rbegin(); it != replies.rend(); ++it) {
        const PanelRecord& r = *it;
        if (!Same(r.Mac, was.Mac) && !Same(r.Mac, now.Mac)) continue;
        const bool identity = SameIdentity(r, was) || SameIdentity(r, now);
        const bool ip = Same(r.Ip, was.Ip) || Same(r.Ip, now.Ip);
        if (!identity && !ip) continue;
        if (searched(r) || Holds(at, r)) return nullptr; // The report is the row's own.
        // A twin sharing the MAC and the identity or IP, heard before the writes.
        if (std::any_of(Found.begin(), Found.end(), [&](const PanelRecord& f) {
                return std::memcmp(&f, &r, sizeof r) == 0 && !searched(f);
            }))
            continue;
        return &r;
    }
    return nullptr;
}

void Rounds::ReadBack(const std::vector<PanelRecord>& replies) {
    for (std::size_t at : ToWrite()) {
        if (const PanelRecord* changed = ChangedReport(at, replies)) {
            State[at].Changed = true;
            State[at].Latest = *changed;
            continue;
        }
        if (State[at].WritesSent == 0) continue;
        if (const PanelRecord* last = LastReply(at, replies)) {
            State[at].Latest = *last;
            State[at].ReadBack = true;
            State[at].Fresh = true;
        }
    }
}

bool Rounds::AllAnswered(const std::vector<PanelRecord>& replies) const {
    for (std::size_t at : ToWrite())
        if (!LastReply(at, replies)) return false;
    return true;
}

bool Rounds::AllHold(const std::vector<PanelRecord>& replies) const {
    for (std::size_t at : ToWrite()) {
        const PanelRecord* last = LastReply(at, replies);
        if (!last || !Holds(at, *last)) return false;
    }
    return true;
}

RowResult Rounds::Result(std::size_t at) const {
    const RowChange& row = Rows[at];
    const RowState& state = State[at];
    switch (row.Kind) {
    case RowKind::NotFound:
        return {"not found", "did not answer the searches before the writes"};
    case RowKind::Unchanged:
        return {"unchanged", "", true};
    case RowKind::Write:
        break;
    }
    const std::string writes =
        std::to_string(state.WritesSent) + (state.WritesSent == 1 ? " write" : " writes");
    if (state.Changed) {
        std::string now;
        for (const FieldChange& c : Differences(row.Current, state.Latest)) {
            now += now.empty() ? "now " : ", ";
            now += c.Field + " " + c.New;
        }
        return {"changed meanwhile", now + " (changed by someone else; not written over" +
                                         (state.WritesSent > 0 ? " after " + writes : "") + ")"};
    }
    if (Holds(at, state.Latest))
        return {"verified",
                state.Replied ? ""
                              : "the panel reports what was written; its write "
                                "reply was lost",
                true};
    if (state.WritesSent == 0)
        return {"not attempted", state.Skipped ? "stopped before its write" : ""};
    if (!state.ReadBack || !state.Fresh)
        return {"no reply", writes + (state.Replied ? ", answered" : ", none answered") +
                                "; the panel did not answer a search after the last"};
    std::string fields;
    for (const FieldChange& c : Differences(AsReported(Pending(at)), state.Latest)) {
        fields += fields.empty() ? "" : ", ";
        fields += c.Field + " " + c.New + " (wrote " + c.Old + ")";
    }
    if (fields.empty()) fields = "identity bytes";
    return {"differs", fields + " after " + writes};
}

bool CreditsWrite(const std::string& source, const PanelRecord& current,
                  const PanelRecord& pending) {
    return source == Ipv4Text(current.Ip) || source == Ipv4Text(pending.Ip);
}
