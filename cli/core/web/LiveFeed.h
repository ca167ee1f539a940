#pragma once

// The page's live stream, decided without sockets. The state the page shows changes a little at
// a time (a panel heard, a row of an assign written, a line of the log), but with 2,000 panels
// it is some 600 KB: sending it whole on every change kept the page a second behind the site.
// So a page gets the state whole once, when it connects, and after that only what changed, as
// JSON Patch operations (add, remove, replace) that bring its copy from one version to the next.
// A page that reconnects names the last event it had; it gets the changes since then when they
// are still kept, and the state whole otherwise: never a list silently out of date.

#include <cstddef>
#include <deque>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

// One event of the stream: "snapshot" ({"version", "state"}) or "delta" ({"base", "version",
// "ops"}). Id is what the page's EventSource sends back as Last-Event-ID when it reconnects.
struct LiveEvent {
    std::string Id;
    std::string Kind;
    std::string Data;
};

class LiveFeed {
  public:
    // `run` tells this run's ids from another's: a page left open across a restart of the
    // program must not take its old version number for one of the new run.
    explicit LiveFeed(std::string run, std::size_t keptDeltas = 100,
                      std::size_t keptBytes = 4u << 20);

    // Takes the state as it stands now; true when it differs from the last one, which made a
    // new version.
    bool Update(nlohmann::json state);
    long long Version() const { return Current; }
    const nlohmann::json& State() const { return Now; }
    std::string IdOf(long long version) const;

    // What brings a page whose last event was `lastId` (empty for a page just opened) to the
    // state now: nothing when it is there already, the deltas since in order when they are all
    // kept, one snapshot otherwise.
    std::vector<LiveEvent> EventsSince(const std::string& lastId);

  private:
    LiveEvent Snapshot();

    std::string Run;
    std::size_t KeptDeltas, KeptBytes, DeltaBytes = 0;
    nlohmann::json Now;
    long long Current = 0;
    std::deque<LiveEvent> Deltas; // the newest last, each one version after the one before
    long long SnapshotVersion = -1;
    LiveEvent SnapshotEvent; // made when a page first asks for this version's
};

// The JSON Patch (RFC 6902: add, remove and replace only) that turns `before` into `after`.
// Objects are compared member by member and arrays item by item; an array that lost items at its
// front and gained some at its end (the log) gets just those removes and adds.
nlohmann::json StateDelta(const nlohmann::json& before, const nlohmann::json& after);

// The server-sent events' text of `events`.
std::string EventStreamText(const std::vector<LiveEvent>& events);
