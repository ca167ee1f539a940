// The least an apply can cost on the wire, as a yardstick for callpanel apply against the same
// stand-ins: searches (every 250 ms) until every MAC of the plan answered, sends each row's write
// once without waiting for its reply, then searches until every panel reports its row. No
// retries beyond the searches, no checks beyond the plan's own: a yardstick, not a tool.
//
//   callpanel-bench-minimal PLAN.csv
//
// Prints "RESULT ms=... find_ms=... searches=... writes=... holding=N of M" and exits 0 when every
// row holds within --limit milliseconds (default 30000).
#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <mutex>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "MessageFormat.h"
#include "PanelKeys.h"
#include "PanelRecord.h"
#include "SettingsChecks.h"
#include "Udpr.h"
#include "plan/Plan.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr auto SearchEvery = std::chrono::milliseconds(250);

class Listener final : public DatagramHandler {
  public:
    void Dispatch(const char*, unsigned, const uint8_t* data, int length) override {
        if (!HasSignature(data, length, Signature) || length < MessageHeader::Length) return;
        if (data[MessageHeader::StageAt] == STAGE_REQUEST ||
            data[MessageHeader::CommandAt] != CMD_SEARCH)
            return;
        PanelRecord r{};
        DecodeSearchReply(data, length, r);
        std::lock_guard<std::mutex> guard(Lock);
        Latest[MacOf(r)] = r;
        Changed.notify_all();
    }

    // Searches until `done` holds of the panels' latest reports since the call, or `until`.
    template <typename Done> bool SearchUntil(TUDPR& udp, Clock::time_point until, Done done) {
        MessageBuffer message;
        const int length = ComposeSearch(message, Signature);
        std::unique_lock<std::mutex> lock(Lock);
        Latest.clear();
        while (Clock::now() < until) {
            lock.unlock();
            udp.Send(message, length);
            ++Searches;
            lock.lock();
            if (Changed.wait_until(lock, std::min(until, Clock::now() + SearchEvery),
                                   [&] { return done(Latest); }))
                return true;
        }
        return false;
    }

    std::mutex Lock;
    std::condition_variable Changed;
    std::map<MacAddress, PanelRecord> Latest; // under Lock
    int Searches = 0;
};

// The plan's rows and each row's MAC; nullopt once it has said why the file is no plan.
std::optional<Plan> ReadPlanFile(const char* path, std::vector<MacAddress>& macs) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream text;
    text << in.rdbuf();
    Plan plan = ReadPlan(text.str());
    if (!plan.Errors.empty() || plan.Rows.empty()) {
        std::fprintf(stderr, "%s: not a plan\n", path);
        return std::nullopt;
    }
    for (const PlanRow& row : plan.Rows)
        macs.push_back(*ParseMac(row.Cells.at("mac")));
    return plan;
}

bool OpenEndpoint(TUDPR& udp, Listener& listener) {
    udp.LocalPort = udp.RemotePort = 8300;
    udp.RemoteAddress = "255.255.255.255";
    udp.SendBufferSize = 32768;
    udp.ReceiveBufferSize = 4 << 20;
    udp.Handler = &listener;
    if (udp.Open()) return true;
    std::fprintf(stderr, "port 8300 is held\n");
    return false;
}

// One write per row, at once, each over the panel's report; `staged`: what each panel should
// then report. False once it has said which row apply's checks refuse.
bool WriteEachRow(TUDPR& udp, const Plan& plan, const std::vector<MacAddress>& macs,
                  const std::map<MacAddress, PanelRecord>& current,
                  std::vector<PanelRecord>& staged) {
    staged.assign(plan.Rows.size(), PanelRecord{});
    std::vector<PlanError> errors;
    for (std::size_t at = 0; at < plan.Rows.size(); ++at) {
        const PanelRecord& now = current.at(macs[at]);
        const auto texts = RowSettings(plan.Rows[at], now, errors);
        if (!texts) {
            std::fprintf(stderr, "row %zu: %s\n", at + 1, errors.back().Text.c_str());
            return false;
        }
        staged[at] = now;
        StageSettings(*texts, staged[at]);
        MessageBuffer message;
        PanelRecord pending = staged[at];
        udp.Send(message, ComposeWrite(message, Signature, now, pending));
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s PLAN.csv [--limit MS]\n", argv[0]);
        return 2;
    }
    const auto limit = std::chrono::milliseconds(
        argc > 3 && std::string(argv[2]) == "--limit" ? std::atoi(argv[3]) : 30000);
    std::vector<MacAddress> macs;
    const std::optional<Plan> plan = ReadPlanFile(argv[1], macs);
    Listener listener;
    TUDPR udp;
    if (!plan || !OpenEndpoint(udp, listener)) return 2;

    const auto start = Clock::now();
    const auto until = start + limit;
    const bool found =
        listener.SearchUntil(udp, until, [&](const std::map<MacAddress, PanelRecord>& seen) {
            return std::all_of(macs.begin(), macs.end(),
                               [&](const MacAddress& m) { return seen.count(m); });
        });
    if (!found) {
        std::fprintf(stderr, "not every panel of the plan answered\n");
        return 1;
    }
    std::map<MacAddress, PanelRecord> current;
    {
        std::lock_guard<std::mutex> guard(listener.Lock);
        current = listener.Latest;
    }
    const auto foundAt = Clock::now();
    std::vector<PanelRecord> staged;
    if (!WriteEachRow(udp, *plan, macs, current, staged)) return 2;

    std::size_t holding = 0;
    const auto holds = [&](const std::map<MacAddress, PanelRecord>& seen) {
        holding = 0;
        for (std::size_t at = 0; at < macs.size(); ++at)
            if (const auto it = seen.find(macs[at]);
                it != seen.end() && ReportsStaged(it->second, staged[at]))
                ++holding;
        return holding == macs.size();
    };
    const bool verified = listener.SearchUntil(udp, until, holds);
    const auto end = Clock::now();
    udp.Close();
    const auto ms = [](Clock::duration d) {
        return std::chrono::duration<double, std::milli>(d).count();
    };
    std::printf("RESULT ms=%.1f find_ms=%.1f searches=%d writes=%zu holding=%zu of %zu\n",
                ms(end - start), ms(foundAt - start), listener.Searches, macs.size(), holding,
                macs.size());
    return verified ? 0 : 1;
}
