#include "Engine.h"

#include "DuplicateRule.h"

#include <algorithm>
#include <cstring>
#include <ctime>
#include <map>
#include <thread>

namespace Cli {

namespace {

constexpr const char* Broadcast = "255.255.255.255";
constexpr int SendBufferSize = 32768;
using Clock = std::chrono::steady_clock;

// Two writes, each by its panel's report and what it writes, that share an IP address before
// or after: a reply from that address could be the answer to either, so they never fly at once.
bool ShareAnIp(std::initializer_list<PanelRecord> a, std::initializer_list<PanelRecord> b) {
    for (const PanelRecord& x : a)
        for (const PanelRecord& y : b)
            if (std::memcmp(x.Ip, y.Ip, sizeof x.Ip) == 0) return true;
    return false;
}

// A write sent and not yet answered: the index of its request, and when it is given up.
struct Flight {
    std::size_t At;
    Clock::time_point Until;
};

} // namespace

Engine::~Engine() {
    // Ends the receiver thread before the members it uses go.
    Udp.Close();
}

bool Engine::Open(int receiveBuffer) {
    Udp.LocalPort = Port;
    Udp.RemotePort = Port;
    Udp.RemoteAddress = Broadcast;
    Udp.SendBufferSize = SendBufferSize;
    Udp.ReceiveBufferSize = receiveBuffer;
    Udp.Handler = this;
    return Udp.Open();
}

uint64_t Engine::Dropped() const {
    return Udp.DroppedDatagrams();
}

void Engine::Send(const MessageBuffer& message, int length, const std::string& firstRoute) {
    Udp.RemoteAddress = Broadcast;
    Udp.RemotePort = Port;
    Udp.FirstRoute = firstRoute;
    Udp.Send(message, length);
}

std::string Engine::RouteOf(const PanelRecord& panel) {
    std::lock_guard<std::mutex> guard(Lock);
    const auto it = Routes.find(panel);
    return it == Routes.end() ? std::string() : it->second;
}

bool Engine::AwaitReady(std::unique_lock<std::mutex>& lock, Clock::time_point until,
                        const std::function<bool()>& ready, Millis quiet) {
    for (auto now = Clock::now();; now = Clock::now()) {
        if (ready()) {
            const auto calm = LastSearchReply + quiet;
            if (now >= calm || now >= until) return true;
            Changed.wait_until(lock, std::min(calm, until));
            continue;
        }
        if (now >= until) break;
        Changed.wait_until(lock, until);
    }
    lock.unlock();
    Udp.Settle(SettleLimit);
    lock.lock();
    return ready();
}

bool Engine::AwaitRound(Clock::time_point roundEnd, uint64_t droppedBefore, bool whole,
                        const std::function<bool()>& done, Millis quiet) {
    bool finished;
    {
        std::unique_lock<std::mutex> lock(Lock);
        // Done ends a round early only once the view is whole.
        finished = AwaitReady(
            lock, roundEnd, [&] { return done() && (whole || Dropped() == droppedBefore); }, quiet);
    }
    if (finished && !whole) {
        // A round ended early is whole only when nothing was dropped up to the replies
        // already at the socket; otherwise it runs its course like any other.
        Udp.Settle(SettleLimit);
        if (Dropped() != droppedBefore) {
            std::this_thread::sleep_until(roundEnd);
            finished = false;
        }
    }
    return finished;
}

Collected Engine::Search(const SearchPlan& plan) {
    MessageBuffer message;
    const int length = ComposeSearch(message, Signature);
    std::size_t start;
    {
        std::lock_guard<std::mutex> guard(Lock);
        start = plan.Continue ? std::min(SearchEnd, SearchReplies.size()) : SearchReplies.size();
    }
    Replies since; // the records from SearchReplies[start] on, as far as taken; under Lock
    const auto done = [&] {
        if (!plan.Done) return false;
        for (std::size_t at = start + since.size(); at < SearchReplies.size(); ++at)
            since.push_back(SearchReplies[at].Record);
        return plan.Done(since);
    };
    Collected collected;
    const uint64_t droppedAtStart = Dropped();
    const auto first = Clock::now();
    const auto deadline =
        plan.Deadline.count() > 0 ? first + plan.Deadline : Clock::time_point::max();
    int retries = 0;
    for (int sent = 0;;) {
        const uint64_t before = Dropped();
        {
            // Before the request leaves: a reply to it must never be timed from an older one.
            std::lock_guard<std::mutex> guard(Lock);
            LastSearchSent = Clock::now();
        }
        Send(message, length);
        ++sent;
        ++collected.Searches;
        // A request sent again after drops gets its whole round, past the deadline too.
        const auto roundEnd =
            retries > 0 ? Clock::now() + plan.Every : std::min(Clock::now() + plan.Every, deadline);
        const bool finished = AwaitRound(roundEnd, before, collected.Whole, done, plan.Quiet);
        if (Dropped() == before) collected.Whole = true;
        if (finished) break;
        const bool more = sent < plan.Requests && Clock::now() < deadline;
        if (!more && (collected.Whole || retries++ >= plan.LossRetries)) break;
    }
    collected.Dropped = Dropped() - droppedAtStart;
    std::lock_guard<std::mutex> guard(Lock);
    collected.Replies.assign(SearchReplies.begin() + std::ptrdiff_t(start), SearchReplies.end());
    SearchEnd = SearchReplies.size();
    return collected;
}

bool Engine::SendAndAwait(const MessageBuffer& message, int length, const std::string& firstRoute,
                          const std::vector<std::string>& sources,
                          const std::function<bool(const std::string&)>& credits, Millis wait) {
    std::size_t seen;
    {
        std::lock_guard<std::mutex> guard(Lock);
        seen = sources.size();
    }
    Send(message, length, firstRoute);
    std::unique_lock<std::mutex> lock(Lock);
    return AwaitReady(lock, Clock::now() + wait, [&] {
        for (; seen < sources.size(); ++seen)
            if (credits(sources[seen])) return true;
        return false;
    });
}

std::size_t Engine::WriteAll(const std::vector<PanelWrite>& writes, std::vector<bool>& replied,
                             const std::function<bool(std::size_t)>& next) {
    replied.assign(writes.size(), false);
    std::vector<Flight> flying;
    const auto shares = [&](std::size_t a, std::size_t b) {
        return ShareAnIp({writes[a].Current, writes[a].Pending},
                         {writes[b].Current, writes[b].Pending});
    };
    std::size_t sent = 0;
    bool stopped = false;
    std::unique_lock<std::mutex> lock(Lock);
    std::size_t seen = WriteSources.size();
    const auto credit = [&] {
        for (; seen < WriteSources.size(); ++seen)
            for (auto f = flying.begin(); f != flying.end(); ++f)
                if (writes[f->At].Credits(WriteSources[seen])) {
                    replied[f->At] = true;
                    flying.erase(f);
                    break;
                }
    };
    while ((!stopped && sent < writes.size()) || !flying.empty()) {
        credit();
        const bool room = !stopped && sent < writes.size() && flying.size() < WritesInFlight &&
                          std::none_of(flying.begin(), flying.end(),
                                       [&](const Flight& f) { return shares(f.At, sent); });
        if (room) {
            lock.unlock();
            if (!next(sent)) {
                stopped = true;
            } else {
                MessageBuffer message;
                PanelRecord staged = writes[sent].Pending;
                const int length = ComposeWrite(message, Signature, writes[sent].Current, staged);
                ++WritesSent;
                Send(message, length, RouteOf(writes[sent].Current));
                flying.push_back({sent, Clock::now() + CommandWait});
                ++sent;
            }
            lock.lock();
            continue;
        }
        if (flying.empty()) break;
        const auto until = std::min_element(flying.begin(), flying.end(), [](auto& a, auto& b) {
                               return a.Until < b.Until;
                           })->Until;
        if (Changed.wait_until(lock, until) == std::cv_status::timeout && Clock::now() >= until) {
            // Replies already at the socket count before a write is given up.
            lock.unlock();
            Udp.Settle(SettleLimit);
            lock.lock();
            credit();
            const auto now = Clock::now();
            std::erase_if(flying, [&](const Flight& f) { return f.Until <= now; });
        }
    }
    return sent;
}

Clock::time_point Engine::LastRequest() const {
    std::lock_guard<std::mutex> guard(Lock);
    return LastSearchSent;
}

std::vector<FoundPanel> Engine::Unread(Clock::time_point until) {
    std::this_thread::sleep_until(until);
    Udp.Settle(SettleLimit);
    std::lock_guard<std::mutex> guard(Lock);
    return {SearchReplies.begin() + std::ptrdiff_t(std::min(SearchEnd, SearchReplies.size())),
            SearchReplies.end()};
}

bool Engine::DeleteCards(const PanelRecord& panel,
                         const std::function<bool(const std::string&)>& credits, int attempts,
                         Millis wait) {
    const std::string route = RouteOf(panel);
    for (int attempt = 0; attempt < attempts; ++attempt) {
        const std::time_t now = std::time(nullptr);
        std::tm local{};
        localtime_r(&now, &local);
        MessageBuffer message;
        const int length = ComposeDeleteCards(message, Signature, panel, local);
        if (SendAndAwait(message, length, route, DeleteSources, credits, wait)) return true;
    }
    return false;
}

void Engine::Dispatch(const char* sourceAddress, unsigned, const uint8_t* data, int length) {
    if (!HasSignature(data, length, Signature) || length < MessageHeader::Length) return;
    // Our own requests come back to the port we listen on.
    if (data[MessageHeader::StageAt] == STAGE_REQUEST) return;
    switch (data[MessageHeader::CommandAt]) {
    case CMD_SEARCH: {
        FoundPanel panel;
        DecodeSearchReply(data, length, panel.Record);
        panel.Via = Udp.LocalAddress;
        panel.Source = sourceAddress;
        std::lock_guard<std::mutex> guard(Lock);
        LastSearchReply = Clock::now();
        panel.Late = std::chrono::duration_cast<Millis>(LastSearchReply - LastSearchSent);
        Routes[panel.Record] = panel.Via;
        SearchReplies.push_back(std::move(panel));
        break;
    }
    case CMD_WRITE: {
        std::lock_guard<std::mutex> guard(Lock);
        WriteSources.emplace_back(sourceAddress);
        break;
    }
    case CMD_DELETE_CARDS: {
        std::lock_guard<std::mutex> guard(Lock);
        DeleteSources.emplace_back(sourceAddress);
        break;
    }
    default:
        return;
    }
    Changed.notify_all();
}

} // namespace Cli
