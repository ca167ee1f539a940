#pragma once

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "MessageFormat.h"
#include "PanelRecord.h"

// A stand-in for one or more call panels: answers the tool's requests the way a panel would,
// keeps the settings that a write gives it, and says in one line what it did with each request.
namespace Standin {

constexpr int Port = 8300;
constexpr int MaxDatagram = 12288;
// The longest UDP payload over IPv4: --short can go past what the tool takes.
constexpr int MaxReplyLength = 65507;

enum class PanelKind { Flat, Villa, HelpStation };

struct Ipv4 {
    uint8_t Bytes[4] = {};
};

struct Options {
    int Panels = 1;
    PanelKind Kind = PanelKind::Flat;
    std::string Identity; // 12 characters; panel i gets its address raised by i
    bool HaveIp = false;
    Ipv4 Ip; // panel i gets this address plus i
    bool HaveSubnet = false;
    Ipv4 Subnet;
    bool HaveGateway = false;
    Ipv4 Gateway;
    bool HaveServer = false;
    Ipv4 Server;
    bool HaveMac = false;
    uint8_t Mac[6] = {};
    std::string Version = "V1.0 stand-in";
    int Unlock = 5;
    int Spare = 0;
    int DelayMs = 0;
    int JitterMs = 0; // each reply a further 0..JitterMs ms late, drawn at random
    bool HaveSeed = false;
    int Seed = 0; // of those draws, so that a run can be repeated
    int SearchReplyLength = MessageSize;
    bool Malformed = false; // replies carry a broken signature
    int Stage = STAGE_REPLY;
    bool Silent = false;
    bool Dump = false;           // print every request's bytes
    bool SaySent = false;        // print when each reply leaves, on the system's steady clock
    double ExitAfterSeconds = 0; // 0: run until a signal
    bool HaveReplyTo = false;
    std::string ReplyTo;
    // Panels powered one after another: panel i answers from AppearAfterSeconds + i *
    // AppearEverySeconds on (both 0: all at once).
    double AppearAfterSeconds = 0;
    double AppearEverySeconds = 0;
    // Factory settings: every panel has the first one's IP address and identity; MACs differ.
    bool Alike = false;
    bool Help = false;
};

// Accepts "--name value" and "--name=value". False with `error` set on a bad command line.
bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error);
std::string Usage();

bool ParseIpv4(const std::string& text, Ipv4& out);
std::string FormatIpv4(const uint8_t* bytes);
// The identity as the tool lists it: up to its first zero byte, unprintable bytes as '?'.
std::string FormatIdentity(const char* identity);

// How late each reply leaves: --delay-ms plus a whole number of milliseconds drawn uniformly
// from 0 to --jitter-ms. The draws come from a generator the standard defines bit for bit, so
// one seed gives the same lateness, reply for reply, on any build.
class Lateness {
  public:
    Lateness(int delayMs, int jitterMs, uint32_t seed)
        : DelayMs(delayMs), JitterMs(jitterMs), Draws(seed) {}
    int NextMs() {
        if (JitterMs <= 0) return DelayMs;
        // A 64-bit draw leaves the remainder's bias far below anything a run could show.
        return DelayMs + static_cast<int>(Draws() % (static_cast<uint64_t>(JitterMs) + 1));
    }

  private:
    const int DelayMs, JitterMs;
    std::mt19937_64 Draws;
};

// What one request led to: the line to print and the datagrams to send back.
struct Outcome {
    std::string Line;
    std::vector<std::vector<uint8_t>> Replies;
    // The IP address of the panel each reply comes from, in the same order: a panel answers
    // from its own address, whatever the namespace's is.
    std::vector<Ipv4> ReplyFrom;
};

class StandinPanel {
  public:
    // `ownIp` and `ownSubnet` stand in for addresses the options leave open.
    StandinPanel(const Options& options, const Ipv4& ownIp, const Ipv4& ownSubnet);

    // `elapsed`: seconds since the stand-in started, for the panels not yet powered.
    Outcome Handle(const uint8_t* data, int length, const std::string& from, double elapsed = 1e9);

    const std::vector<PanelRecord>& Panels() const { return Records; }
    std::string Describe(int index) const;

    // Replies as a panel composes them, honouring the malformed and stage options.
    std::vector<uint8_t> SearchReplyFor(const PanelRecord& panel) const;
    std::vector<uint8_t> HeaderReply(uint8_t command, size_t size = MessageSize) const;

  private:
    bool Powered(std::size_t index) const;
    Outcome HandleSearch(const std::string& from);
    Outcome HandleWrite(const uint8_t* data, int length);
    Outcome HandleDeleteCards(const uint8_t* data, int length);

    double ElapsedSeconds = 0; // since the stand-in started, as of the request being handled
    Options Opts;
    std::vector<PanelRecord> Records;
};

} // namespace Standin
