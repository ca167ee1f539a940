// callpanel-standin: answers the call panel tool as one or more call panels would.
// Meant to run inside a private network namespace (tools/testnet.sh), never on a shared network.

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "StandinPanel.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> StopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free);

extern "C" void OnSignal(int signal) {
    StopSignal.store(signal);
}

void Print(const std::string& line) {
    std::fputs(line.c_str(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

// The first IPv4 address of an interface that is up and not loopback.
bool OwnAddress(Standin::Ipv4& ip, Standin::Ipv4& subnet) {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool found = false;
    for (ifaddrs* a = list; a != nullptr && !found; a = a->ifa_next) {
        if (a->ifa_addr == nullptr || a->ifa_addr->sa_family != AF_INET) continue;
        if ((a->ifa_flags & IFF_UP) == 0 || (a->ifa_flags & IFF_LOOPBACK) != 0) continue;
        const auto* addr = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
        std::memcpy(ip.Bytes, &addr->sin_addr.s_addr, 4);
        if (a->ifa_netmask != nullptr) {
            const auto* mask = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask);
            std::memcpy(subnet.Bytes, &mask->sin_addr.s_addr, 4);
        }
        found = true;
    }
    freeifaddrs(list);
    return found;
}

struct PendingReply {
    sockaddr_in To;
    std::vector<uint8_t> Bytes;
    in_addr From; // the panel's own address
};

// Sends from the panel's own address (IP_TRANSPARENT lets it be one the namespace does not
// hold), as a panel moved to a new address answers from it; from the namespace's address where
// that is refused.
void SendReply(int fd, const PendingReply& r) {
    iovec part{const_cast<uint8_t*>(r.Bytes.data()), r.Bytes.size()};
    alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
    msghdr message{};
    sockaddr_in to = r.To;
    message.msg_name = &to;
    message.msg_namelen = sizeof to;
    message.msg_iov = &part;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    cmsghdr* c = CMSG_FIRSTHDR(&message);
    c->cmsg_level = IPPROTO_IP;
    c->cmsg_type = IP_PKTINFO;
    c->cmsg_len = CMSG_LEN(sizeof(in_pktinfo));
    in_pktinfo info{};
    info.ipi_spec_dst = r.From;
    std::memcpy(CMSG_DATA(c), &info, sizeof info);
    if (sendmsg(fd, &message, 0) >= 0) return;
    sendto(fd, r.Bytes.data(), r.Bytes.size(), 0, reinterpret_cast<const sockaddr*>(&r.To),
           sizeof r.To);
}

// Ends the loop on Ctrl+C and TERM: the handler only notes the signal.
void CatchStopSignals() {
    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
}

// The socket of every panel: port 8300 on all addresses, hearing broadcasts, and allowed to
// send from a panel's own address. -1 once it has said why there is none.
int OpenPanelSocket() {
    int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        std::perror("callpanel-standin: socket");
        return -1;
    }
    int on = 1;
    setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    setsockopt(fd, IPPROTO_IP, IP_TRANSPARENT, &on, sizeof on); // needs CAP_NET_ADMIN
    int buffer = 1 << 20; // 100 replies of 512 bytes leave in one burst
    setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &buffer, sizeof buffer);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(Standin::Port);
    local.sin_addr.s_addr = htonl(INADDR_ANY);
    if (bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        std::perror("callpanel-standin: bind 0.0.0.0:8300");
        close(fd);
        return -1;
    }
    return fd;
}

// Answers requests until a signal or the --exit-after time. Replies wait in a queue until they
// are due, and leave in the order of their due times: with --jitter-ms a reply queued later may
// be due sooner than one queued before it. Replies due at the same moment keep their order.
class ServeLoop {
  public:
    ServeLoop(int fd, Standin::StandinPanel& panels, const Standin::Options& options)
        : Fd(fd), Panels(panels), Opts(options), Start(Clock::now()),
          ExitAt(Start + std::chrono::duration_cast<Clock::duration>(
                             std::chrono::duration<double>(options.ExitAfterSeconds))),
          Late(options.DelayMs, options.JitterMs, static_cast<uint32_t>(options.Seed)) {
        if (options.HaveReplyTo) inet_pton(AF_INET, options.ReplyTo.c_str(), &ReplyTo.sin_addr);
    }

    // Answers until stopped; returns the number of datagrams it handled.
    long Run() {
        while (StopSignal.load() == 0) {
            const Clock::time_point now = Clock::now();
            SendDue(now);
            if (Opts.ExitAfterSeconds > 0 && now >= ExitAt) break;
            const auto waitMs = std::chrono::ceil<std::chrono::milliseconds>(Wake(now) - now);
            pollfd p{Fd, POLLIN, 0};
            if (poll(&p, 1, static_cast<int>(std::max<long long>(waitMs.count(), 0))) > 0)
                Receive();
        }
        return DatagramsHandled;
    }

  private:
    void SendDue(Clock::time_point now) {
        while (!Pending.empty() && Pending.begin()->first <= now) {
            SendReply(Fd, Pending.begin()->second);
            if (Opts.SaySent) SaySent(Pending.begin()->second.From);
            Pending.erase(Pending.begin());
        }
    }

    // Tests that compare the order replies arrived in with the order several stand-ins sent
    // them need the moment each left, on a clock all the test's namespaces share.
    static void SaySent(in_addr from) {
        timespec now{};
        clock_gettime(CLOCK_MONOTONIC, &now);
        char fromText[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from, fromText, sizeof fromText);
        const long long us = static_cast<long long>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
        Print("sent reply from " + std::string(fromText) + " at " + std::to_string(us) + " us");
    }

    // The poll wakes after 100 ms at the latest, so that a signal that came between the check
    // and the poll is seen.
    Clock::time_point Wake(Clock::time_point now) const {
        Clock::time_point wake = now + std::chrono::milliseconds(100);
        if (!Pending.empty() && Pending.begin()->first < wake) wake = Pending.begin()->first;
        if (Opts.ExitAfterSeconds > 0 && ExitAt < wake) wake = ExitAt;
        return wake;
    }

    // One datagram: what the panels make of it is printed, and their replies queued.
    void Receive() {
        static uint8_t datagram[Standin::MaxDatagram + 1];
        sockaddr_in from{};
        socklen_t fromLength = sizeof from;
        const ssize_t n = recvfrom(Fd, datagram, Standin::MaxDatagram, MSG_TRUNC,
                                   reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) return;
        char fromText[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, fromText, sizeof fromText);
        const std::string source =
            std::string(fromText) + ":" + std::to_string(ntohs(from.sin_port));
        if (n > Standin::MaxDatagram) {
            Print("ignored oversized datagram of " + std::to_string(n) + " bytes from " + source);
            return;
        }
        ++DatagramsHandled;
        const Clock::time_point received = Clock::now();
        const double elapsed = std::chrono::duration<double>(received - Start).count();
        Standin::Outcome outcome = Panels.Handle(datagram, static_cast<int>(n), source, elapsed);
        const std::string lateness = Queue(outcome, Opts.HaveReplyTo ? ReplyTo : from, received);
        Print(outcome.Line + lateness);
    }

    // Queues the replies, each due its own lateness after `received`. With --jitter-ms the
    // line gets how late each reply is, in the order of the replies (", late 12 40 7 ms"), so
    // that a test knows the order in which they must leave.
    std::string Queue(Standin::Outcome& outcome, sockaddr_in to, Clock::time_point received) {
        to.sin_family = AF_INET;
        to.sin_port = htons(Standin::Port);
        std::string said;
        for (std::size_t r = 0; r < outcome.Replies.size(); ++r) {
            const int lateMs = Late.NextMs();
            said += ' ';
            said += std::to_string(lateMs);
            in_addr own{};
            std::memcpy(&own.s_addr, outcome.ReplyFrom[r].Bytes, sizeof own.s_addr);
            Pending.emplace(received + std::chrono::milliseconds(lateMs),
                            PendingReply{to, std::move(outcome.Replies[r]), own});
        }
        if (Opts.JitterMs <= 0 || said.empty()) return {};
        return ", late" + said + " ms";
    }

    const int Fd;
    Standin::StandinPanel& Panels;
    const Standin::Options& Opts;
    const Clock::time_point Start, ExitAt;
    sockaddr_in ReplyTo{};
    Standin::Lateness Late;
    // By due time; a multimap keeps replies due at the same moment in the order queued.
    std::multimap<Clock::time_point, PendingReply> Pending;
    long DatagramsHandled = 0;
};

} // namespace

int main(int argc, char** argv) {
    std::vector<std::string> args(argv + 1, argv + argc);
    Standin::Options options;
    std::string error;
    if (!Standin::ParseOptions(args, options, error)) {
        std::fprintf(stderr, "callpanel-standin: %s\n%s", error.c_str(), Standin::Usage().c_str());
        return 2;
    }
    if (options.Help) {
        std::fputs(Standin::Usage().c_str(), stdout);
        return 0;
    }

    // Without an address of its own the stand-in still answers, as 192.168.1.20/24.
    Standin::Ipv4 ownIp, ownSubnet;
    Standin::ParseIpv4("192.168.1.20", ownIp);
    Standin::ParseIpv4("255.255.255.0", ownSubnet);
    if (!OwnAddress(ownIp, ownSubnet) && !options.HaveIp)
        Print("no interface address found; panels start at 192.168.1.20");
    Standin::StandinPanel panels(options, ownIp, ownSubnet);
    // Without --seed the lateness is drawn from a seed of its own, said so the run can be
    // repeated.
    if (!options.HaveSeed) options.Seed = static_cast<int>(std::random_device{}() & 0x7FFFFFFF);
    if (options.JitterMs > 0)
        Print("replies " + std::to_string(options.DelayMs) + " to " +
              std::to_string(options.DelayMs + options.JitterMs) + " ms late, seed " +
              std::to_string(options.Seed));

    CatchStopSignals();
    const int fd = OpenPanelSocket();
    if (fd < 0) return 1;
    for (int i = 0; i < static_cast<int>(panels.Panels().size()); ++i)
        Print(panels.Describe(i));
    Print("ready: " + std::to_string(panels.Panels().size()) + " panel(s) on 0.0.0.0:8300");

    const long requests = ServeLoop(fd, panels, options).Run();
    const int signal = StopSignal.load();
    Print("stopped" + (signal != 0 ? " by signal " + std::to_string(signal) : std::string()) +
          " after " + std::to_string(requests) + " datagram(s)");
    close(fd);
    return 0;
}
