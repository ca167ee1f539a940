// callpanel-flood: floods the tool's port with replies, foreign datagrams and datagrams of the
// lengths the receiver must drop. Bounded in count and time; stops by itself.
// Run it only in a panel namespace of tools/testnet.sh, aimed at the tool namespace's address.
//
//   callpanel-flood --to A.B.C.D [--port 8300] [--seconds S] [--max N] [--rate PER_SECOND]
//                   [--mix all|search|noise] [--panels-from K]
//
// Prints "ready" once its socket is made, and a summary of what it sent when it ends.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "MessageFormat.h"

namespace {

using Clock = std::chrono::steady_clock;

std::atomic<int> StopSignal{0};
extern "C" void OnSignal(int signal) {
    StopSignal.store(signal);
}

// Hard limits, whatever the command line asks.
constexpr double MaxSeconds = 600;
constexpr long MaxDatagrams = 50'000'000;
constexpr int DistinctPanels = 1000;

enum Kind {
    SearchReplyFull,   // 512 bytes, stage 2
    SearchReplyShort,  // 70 bytes, stage 2
    SearchReplyStage0, // acts like a reply, retires nothing
    WriteReply,        // the 8-byte header
    DeleteReply,       // 512 bytes
    OwnRequest,        // a search request, as the tool's own broadcast comes back
    WrongSignature,
    UnknownCommand,
    Garbage,
    TooShort,        // 7 bytes
    Empty,           // 0 bytes
    LongestAccepted, // 12288 bytes: a write reply the receiver still takes whole
    Oversized,       // 20000 bytes: dropped whole
    KindCount
};

const char* const KindNames[KindCount] = {
    "search-512",  "search-70",  "search-stage0", "write-8", "delete-512",
    "own-request", "wrong-sig",  "unknown-cmd",   "garbage", "7-byte",
    "0-byte",      "12288-byte", "20000-byte"};

// Cycles through these; search replies dominate so the directory keeps filling.
const std::vector<Kind>& Pattern(const std::string& mix) {
    static const std::vector<Kind> all = {
        SearchReplyFull, WriteReply,        SearchReplyShort, DeleteReply,     SearchReplyFull,
        WrongSignature,  SearchReplyStage0, TooShort,         SearchReplyFull, Garbage,
        OwnRequest,      SearchReplyShort,  UnknownCommand,   WriteReply,      Empty,
        SearchReplyFull, LongestAccepted,   DeleteReply,      Oversized,       SearchReplyShort};
    static const std::vector<Kind> search = {SearchReplyFull, SearchReplyShort, SearchReplyStage0};
    static const std::vector<Kind> noise = {WriteReply,     DeleteReply, WrongSignature, TooShort,
                                            UnknownCommand, Garbage,     OwnRequest,     Empty};
    if (mix == "search") return search;
    if (mix == "noise") return noise;
    return all;
}

void Header(std::vector<uint8_t>& d, uint8_t command, uint8_t stage) {
    std::memcpy(d.data(), Signature, SignatureLength);
    d[MessageHeader::CommandAt] = command;
    d[MessageHeader::StageAt] = stage;
}

// Panel n of the flood: identity H + ten digits + facility, IP 10.200.n/256.n%256.
void SearchReply(std::vector<uint8_t>& d, int length, uint8_t stage, int n) {
    d.assign(static_cast<size_t>(length), 0);
    Header(d, CMD_SEARCH, stage);
    char identity[32];
    std::snprintf(identity, sizeof identity, "H%010d%d", 900000000 + n % 1000000, n % 2);
    std::memcpy(&d[SearchReply::BlockAt + PanelBlock::IdentityAt], identity, PanelIdentityLength);
    const uint8_t mac[6] = {0x00, 0x50, 0x2A, 0xF0, uint8_t(n >> 8), uint8_t(n)};
    std::memcpy(&d[SearchReply::BlockAt + PanelBlock::MacAt], mac, 6);
    const uint8_t ip[4] = {10, 200, uint8_t(n >> 8), uint8_t(n)};
    std::memcpy(&d[SearchReply::BlockAt + PanelBlock::IpAt], ip, 4);
    const uint8_t subnet[4] = {255, 255, 0, 0};
    std::memcpy(&d[SearchReply::BlockAt + PanelBlock::SubnetAt], subnet, 4);
    std::memcpy(&d[SearchReply::VersionAt], "V9.9 flood", 10);
    d[SearchReply::UnlockTimeAt] = 5;
}

uint32_t NextRandom(uint32_t& state) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
}

void Compose(Kind kind, std::vector<uint8_t>& d, int panel, uint32_t& random) {
    switch (kind) {
    case SearchReplyFull:
        SearchReply(d, MessageSize, STAGE_REPLY, panel);
        break;
    case SearchReplyShort:
        SearchReply(d, SearchReplyLength, STAGE_REPLY, panel);
        break;
    case SearchReplyStage0:
        SearchReply(d, MessageSize, 0, panel);
        break;
    case WriteReply:
        d.assign(MessageHeader::Length, 0);
        Header(d, CMD_WRITE, STAGE_REPLY);
        break;
    case DeleteReply:
        d.assign(MessageSize, 0);
        Header(d, CMD_DELETE_CARDS, STAGE_REPLY);
        break;
    case OwnRequest:
        d.assign(MessageSize, 0);
        Header(d, CMD_SEARCH, STAGE_REQUEST);
        break;
    case WrongSignature:
        SearchReply(d, MessageSize, STAGE_REPLY, panel);
        d[5] = 'd';
        break;
    case UnknownCommand:
        d.assign(MessageSize, 0);
        Header(d, 0x37, STAGE_REPLY);
        break;
    case Garbage:
        d.assign(8 + NextRandom(random) % 1400, 0);
        for (uint8_t& b : d)
            b = static_cast<uint8_t>(NextRandom(random));
        break;
    case TooShort:
        d.assign(7, 0);
        std::memcpy(d.data(), "XXXCID\xFE", 7);
        break;
    case Empty:
        d.clear();
        break;
    case LongestAccepted:
        d.assign(12288, 0);
        Header(d, CMD_WRITE, STAGE_REPLY);
        break;
    case Oversized:
        d.assign(20000, 0);
        Header(d, CMD_WRITE, STAGE_REPLY);
        break;
    case KindCount:
        break;
    }
}

[[noreturn]] void Usage(const char* why) {
    std::fprintf(stderr,
                 "callpanel-flood: %s\nusage: callpanel-flood --to A.B.C.D [--port P] "
                 "[--seconds S] [--max N] [--rate PER_SECOND] [--mix all|search|noise] "
                 "[--panels-from K]\n",
                 why);
    std::exit(2);
}

} // namespace

int main(int argc, char** argv) {
    std::string to, mix = "all";
    int port = 8300, panelsFrom = 0;
    double seconds = 10, rate = 0;
    long max = 1'000'000;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (i + 1 >= argc) Usage(("missing value for " + arg).c_str());
        const char* value = argv[++i];
        if (arg == "--to")
            to = value;
        else if (arg == "--port")
            port = std::atoi(value);
        else if (arg == "--seconds")
            seconds = std::atof(value);
        else if (arg == "--max")
            max = std::atol(value);
        else if (arg == "--rate")
            rate = std::atof(value);
        else if (arg == "--mix")
            mix = value;
        else if (arg == "--panels-from")
            panelsFrom = std::atoi(value);
        else
            Usage(("unknown option " + arg).c_str());
    }
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(static_cast<uint16_t>(port));
    if (to.empty() || inet_pton(AF_INET, to.c_str(), &target.sin_addr) != 1)
        Usage("--to needs an IPv4 address");
    // Only single addresses of the test network: never a broadcast.
    if ((ntohl(target.sin_addr.s_addr) & 0xFF) == 0xFF) Usage("refusing a broadcast address");
    if (mix != "all" && mix != "search" && mix != "noise") Usage("unknown --mix");
    if (seconds <= 0 || seconds > MaxSeconds) seconds = MaxSeconds;
    if (max <= 0 || max > MaxDatagrams) max = MaxDatagrams;

    struct sigaction action {};
    action.sa_handler = OnSignal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    if (fd < 0) {
        std::perror("callpanel-flood: socket");
        return 1;
    }
    std::printf("ready: flooding %s:%d for %.1f s, at most %ld datagrams, mix %s\n", to.c_str(),
                port, seconds, max, mix.c_str());
    std::fflush(stdout);

    const std::vector<Kind>& pattern = Pattern(mix);
    std::vector<uint8_t> datagram;
    long counts[KindCount] = {};
    long sent = 0, failed = 0;
    uint32_t random = 0x9E3779B9u ^ static_cast<uint32_t>(panelsFrom);
    const Clock::time_point start = Clock::now();
    const Clock::time_point end =
        start + std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
    Clock::time_point now = start;
    while (sent + failed < max && StopSignal.load() == 0) {
        if (((sent + failed) & 63) == 0) {
            now = Clock::now();
            if (now >= end) break;
            if (rate > 0) {
                const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>((sent + failed) / rate));
                if (due > now) std::this_thread::sleep_until(due);
            }
        }
        const Kind kind = pattern[static_cast<size_t>(sent + failed) % pattern.size()];
        const int panel = panelsFrom + static_cast<int>((sent + failed) % DistinctPanels);
        Compose(kind, datagram, panel, random);
        const ssize_t n = sendto(fd, datagram.data(), datagram.size(), 0,
                                 reinterpret_cast<const sockaddr*>(&target), sizeof target);
        if (n < 0) {
            ++failed;
        } else {
            ++sent;
            ++counts[kind];
        }
    }
    close(fd);
    const double elapsed = std::chrono::duration<double>(Clock::now() - start).count();
    std::printf("sent %ld datagrams (%ld failed) in %.2f s:", sent, failed, elapsed);
    for (int k = 0; k < KindCount; ++k)
        if (counts[k] != 0) std::printf(" %s=%ld", KindNames[k], counts[k]);
    std::printf("\n");
    return 0;
}
