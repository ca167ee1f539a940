#include "web/LiveFeed.h"

#include <cstdlib>
#include <utility>

namespace {

using json = nlohmann::json;

// A member's name as a step of a JSON Pointer: '~' and '/' are escaped.
std::string Step(const std::string& key) {
    if (key.find_first_of("~/") == std::string::npos) return key;
    std::string out;
    for (char c : key)
        out += c == '~' ? "~0" : c == '/' ? "~1" : std::string(1, c);
    return out;
}

std::string Dump(const json& value) {
    return value.dump(-1, ' ', false, json::error_handler_t::replace);
}

void Diff(const json& before, const json& after, const std::string& path, json& ops);

// How many items `before` lost at its front when `after` is what is left of it followed by new
// items; -1 when it is not so or when nothing was lost. Most arrays (the panels) change in place,
// and are told at their first item.
long long DroppedFront(const json& before, const json& after) {
    for (std::size_t dropped = 1; dropped <= before.size(); ++dropped) {
        const std::size_t kept = before.size() - dropped;
        if (kept > after.size()) continue;
        bool same = true;
        for (std::size_t i = 0; i < kept && same; ++i)
            same = before[dropped + i] == after[i];
        if (same) return static_cast<long long>(dropped);
    }
    return -1;
}

void DiffArrays(const json& before, const json& after, const std::string& path, json& ops) {
    const long long dropped = DroppedFront(before, after);
    // Item by item when as many changed in place: a row of 2,000 whose IP changed is one op.
    if (dropped > 0 && static_cast<std::size_t>(dropped) < before.size()) {
        for (long long i = 0; i < dropped; ++i)
            ops.push_back({{"op", "remove"}, {"path", path + "/0"}});
        for (std::size_t i = before.size() - dropped; i < after.size(); ++i)
            ops.push_back({{"op", "add"}, {"path", path + "/-"}, {"value", after[i]}});
        return;
    }
    std::size_t i = 0;
    for (; i < before.size() && i < after.size(); ++i)
        Diff(before[i], after[i], path + "/" + std::to_string(i), ops);
    // Removed from the end backwards, so that each path names an item still there.
    for (std::size_t j = before.size(); j > i; --j)
        ops.push_back({{"op", "remove"}, {"path", path + "/" + std::to_string(j - 1)}});
    for (; i < after.size(); ++i)
        ops.push_back({{"op", "add"}, {"path", path + "/-"}, {"value", after[i]}});
}

void DiffObjects(const json& before, const json& after, const std::string& path, json& ops) {
    for (auto it = before.begin(); it != before.end(); ++it) {
        const auto there = after.find(it.key());
        if (there == after.end())
            ops.push_back({{"op", "remove"}, {"path", path + "/" + Step(it.key())}});
        else if (it.value().is_structured() || it.value() != *there) // no path for cells alike
            Diff(it.value(), *there, path + "/" + Step(it.key()), ops);
    }
    for (auto it = after.begin(); it != after.end(); ++it)
        if (!before.contains(it.key()))
            ops.push_back(
                {{"op", "add"}, {"path", path + "/" + Step(it.key())}, {"value", it.value()}});
}

// Objects and arrays are walked, not compared whole first: with 2,000 rows a comparison at each
// level would walk them again for each.
void Diff(const json& before, const json& after, const std::string& path, json& ops) {
    if (before.type() != after.type() || !before.is_structured()) {
        if (before != after) ops.push_back({{"op", "replace"}, {"path", path}, {"value", after}});
    } else if (before.is_object())
        DiffObjects(before, after, path, ops);
    else
        DiffArrays(before, after, path, ops);
}

} // namespace

json StateDelta(const json& before, const json& after) {
    json ops = json::array();
    Diff(before, after, "", ops);
    return ops;
}

LiveFeed::LiveFeed(std::string run, std::size_t keptDeltas, std::size_t keptBytes)
    : Run(std::move(run)), KeptDeltas(keptDeltas), KeptBytes(keptBytes), Now(json::object()) {}

std::string LiveFeed::IdOf(long long version) const {
    return Run + "." + std::to_string(version);
}

bool LiveFeed::Update(json state) {
    json ops = StateDelta(Now, state);
    if (ops.empty()) return false;
    Now = std::move(state);
    ++Current;
    const json delta = {{"base", Current - 1}, {"version", Current}, {"ops", std::move(ops)}};
    Deltas.push_back({IdOf(Current), "delta", Dump(delta)});
    DeltaBytes += Deltas.back().Data.size();
    // Beyond what is kept, a page that fell behind gets the state whole: it is smaller then.
    while (!Deltas.empty() && (Deltas.size() > KeptDeltas || DeltaBytes > KeptBytes)) {
        DeltaBytes -= Deltas.front().Data.size();
        Deltas.pop_front();
    }
    return true;
}

LiveEvent LiveFeed::Snapshot() {
    if (SnapshotVersion != Current) {
        SnapshotEvent = {IdOf(Current), "snapshot",
                         Dump(json{{"version", Current}, {"state", Now}})};
        SnapshotVersion = Current;
    }
    return SnapshotEvent;
}

std::vector<LiveEvent> LiveFeed::EventsSince(const std::string& lastId) {
    const std::string prefix = Run + ".";
    if (lastId.size() <= prefix.size() || lastId.compare(0, prefix.size(), prefix) != 0 ||
        lastId.find_first_not_of("0123456789", prefix.size()) != std::string::npos)
        return {Snapshot()};
    const long long version = std::strtoll(lastId.c_str() + prefix.size(), nullptr, 10);
    if (version == Current) return {};
    const long long oldest = Current - static_cast<long long>(Deltas.size()); // the first base
    if (version > Current || version < oldest) return {Snapshot()};
    return {Deltas.begin() + (version - oldest), Deltas.end()};
}

std::string EventStreamText(const std::vector<LiveEvent>& events) {
    std::string text;
    for (const LiveEvent& e : events)
        text += "id: " + e.Id + "\nevent: " + e.Kind + "\ndata: " + e.Data + "\n\n";
    return text;
}
