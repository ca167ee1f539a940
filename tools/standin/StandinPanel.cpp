#include "StandinPanel.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>

namespace Standin {

namespace {

bool ParseInt(const std::string& text, long low, long high, int& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    errno = 0;
    long value = std::strtol(text.c_str(), &end, 10);
    if (errno != 0 || *end != '\0' || value < low || value > high) return false;
    out = static_cast<int>(value);
    return true;
}

bool ParseSeconds(const std::string& text, double& out) {
    if (text.empty()) return false;
    char* end = nullptr;
    double value = std::strtod(text.c_str(), &end);
    if (*end != '\0' || !(value > 0) || value > 1e6) return false;
    out = value;
    return true;
}

bool ParseMac(const std::string& text, uint8_t out[6]) {
    unsigned b[6];
    char tail;
    if (std::sscanf(text.c_str(), "%x:%x:%x:%x:%x:%x%c", &b[0], &b[1], &b[2], &b[3], &b[4], &b[5],
                    &tail) != 6)
        return false;
    for (int i = 0; i < 6; ++i) {
        if (b[i] > 255) return false;
        out[i] = static_cast<uint8_t>(b[i]);
    }
    return true;
}

uint32_t ToNumber(const Ipv4& ip) {
    return (uint32_t{ip.Bytes[0]} << 24) | (uint32_t{ip.Bytes[1]} << 16) |
           (uint32_t{ip.Bytes[2]} << 8) | uint32_t{ip.Bytes[3]};
}

Ipv4 FromNumber(uint32_t n) {
    Ipv4 ip;
    for (int i = 0; i < 4; ++i)
        ip.Bytes[i] = static_cast<uint8_t>(n >> (24 - 8 * i));
    return ip;
}

// Adds `step` to the decimal digits text[0..width), wrapping; non-digits are left alone.
void AddToDigits(char* text, int width, int step) {
    for (int i = 0; i < width; ++i)
        if (text[i] < '0' || text[i] > '9') return;
    unsigned long long value = 0, modulo = 1;
    for (int i = 0; i < width; ++i) {
        value = value * 10 + static_cast<unsigned>(text[i] - '0');
        modulo *= 10;
    }
    value = (value + static_cast<unsigned long long>(step)) % modulo;
    for (int i = width - 1; i >= 0; --i) {
        text[i] = static_cast<char>('0' + value % 10);
        value /= 10;
    }
}

// The identity is the record's first three fields, taken field by field.
void GetIdentity(const PanelRecord& panel, char out[PanelIdentityLength]) {
    out[0] = panel.TypeLetter;
    std::memcpy(out + 1, panel.Address, sizeof panel.Address);
    out[PanelIdentityLength - 1] = panel.Facility;
}

void SetIdentity(PanelRecord& panel, const char* identity) {
    panel.TypeLetter = identity[0];
    std::memcpy(panel.Address, identity + 1, sizeof panel.Address);
    panel.Facility = identity[PanelIdentityLength - 1];
}

bool SameIdentity(const uint8_t* identity, const PanelRecord& panel) {
    char own[PanelIdentityLength];
    GetIdentity(panel, own);
    return std::memcmp(identity, own, PanelIdentityLength) == 0;
}

std::string IdentityText(const PanelRecord& panel) {
    char own[PanelIdentityLength + 1] = {};
    GetIdentity(panel, own);
    return FormatIdentity(own);
}

// An identity that a panel at `ip` could plausibly carry, unique within a /16.
void DeriveIdentity(PanelKind kind, const Ipv4& ip, PanelRecord& panel) {
    char text[PanelIdentityLength + 8];
    const uint8_t* b = ip.Bytes;
    if (kind == PanelKind::Flat) {
        std::snprintf(text, sizeof text, "H%02u%02u%03u%03u1", b[0] % 100u, b[1] % 100u,
                      unsigned{b[2]}, unsigned{b[3]});
    } else {
        unsigned short4 = (unsigned{b[2]} * 256u + b[3]) % 10000u;
        std::snprintf(text, sizeof text, "%c%04u0000001",
                      kind == PanelKind::HelpStation ? 'P' : 'H', short4);
    }
    SetIdentity(panel, text);
}

void PutBlock(uint8_t* block, const PanelRecord& panel) {
    GetIdentity(panel, reinterpret_cast<char*>(block + PanelBlock::IdentityAt));
    std::memcpy(block + PanelBlock::MacAt, panel.Mac, sizeof panel.Mac);
    std::memcpy(block + PanelBlock::IpAt, panel.Ip, sizeof panel.Ip);
    std::memcpy(block + PanelBlock::SubnetAt, panel.Subnet, sizeof panel.Subnet);
    std::memcpy(block + PanelBlock::GatewayAt, panel.Gateway, sizeof panel.Gateway);
    std::memcpy(block + PanelBlock::ServerAt, panel.Server, sizeof panel.Server);
}

// The bytes of a block that name a panel; the 8 unused bytes after the identity do not count.
bool BlockNames(const uint8_t* block, const PanelRecord& panel) {
    return SameIdentity(block + PanelBlock::IdentityAt, panel) &&
           std::memcmp(block + PanelBlock::MacAt, panel.Mac, sizeof panel.Mac) == 0 &&
           std::memcmp(block + PanelBlock::IpAt, panel.Ip, sizeof panel.Ip) == 0 &&
           std::memcmp(block + PanelBlock::SubnetAt, panel.Subnet, sizeof panel.Subnet) == 0 &&
           std::memcmp(block + PanelBlock::GatewayAt, panel.Gateway, sizeof panel.Gateway) == 0 &&
           std::memcmp(block + PanelBlock::ServerAt, panel.Server, sizeof panel.Server) == 0;
}

void TakeBlock(const uint8_t* block, PanelRecord& panel) {
    SetIdentity(panel, reinterpret_cast<const char*>(block + PanelBlock::IdentityAt));
    std::memcpy(panel.Mac, block + PanelBlock::MacAt, sizeof panel.Mac);
    std::memcpy(panel.Ip, block + PanelBlock::IpAt, sizeof panel.Ip);
    std::memcpy(panel.Subnet, block + PanelBlock::SubnetAt, sizeof panel.Subnet);
    std::memcpy(panel.Gateway, block + PanelBlock::GatewayAt, sizeof panel.Gateway);
    std::memcpy(panel.Server, block + PanelBlock::ServerAt, sizeof panel.Server);
}

std::string FormatMac(const uint8_t* mac) {
    char text[24];
    std::snprintf(text, sizeof text, "%02X:%02X:%02X:%02X:%02X:%02X", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string FormatSettings(const PanelRecord& p) {
    return IdentityText(p) + " ip " + FormatIpv4(p.Ip) + " subnet " + FormatIpv4(p.Subnet) +
           " gateway " + FormatIpv4(p.Gateway) + " server " + FormatIpv4(p.Server) + " mac " +
           FormatMac(p.Mac) + " unlock " + std::to_string(p.UnlockTime);
}

Ipv4 AddressOf(const PanelRecord& panel) {
    Ipv4 ip;
    std::memcpy(ip.Bytes, panel.Ip, sizeof ip.Bytes);
    return ip;
}

// Every byte a write can set, and the rest of the record, as the panel holds them: with --dump,
// so that a test can tell a panel put back byte for byte.
std::string HoldsLine(const PanelRecord& p) {
    std::string line = " holds ";
    const auto* bytes = reinterpret_cast<const uint8_t*>(&p);
    for (std::size_t at = 0; at < sizeof p; ++at) {
        char text[4];
        std::snprintf(text, sizeof text, "%02x", bytes[at]);
        line += text;
    }
    return line;
}

std::string Hex(uint8_t byte) {
    char text[8];
    std::snprintf(text, sizeof text, "0x%02X", byte);
    return text;
}

// The whole datagram: its length, its bytes up to the last that is not zero, in hex.
std::string DumpLine(const uint8_t* data, int length) {
    int end = length;
    while (end > 0 && data[end - 1] == 0)
        --end;
    std::string line = "bytes ";
    line += std::to_string(length);
    line += ':';
    for (int i = 0; i < end; ++i) {
        char text[4];
        std::snprintf(text, sizeof text, " %02x", data[i]);
        line += text;
    }
    return line;
}

} // namespace

bool ParseIpv4(const std::string& text, Ipv4& out) {
    unsigned b[4];
    char tail;
    if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &b[0], &b[1], &b[2], &b[3], &tail) != 4)
        return false;
    for (int i = 0; i < 4; ++i) {
        if (b[i] > 255) return false;
        out.Bytes[i] = static_cast<uint8_t>(b[i]);
    }
    return true;
}

std::string FormatIpv4(const uint8_t* bytes) {
    char text[20];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", bytes[0], bytes[1], bytes[2], bytes[3]);
    return text;
}

std::string FormatIdentity(const char* identity) {
    std::string text;
    for (int i = 0; i < PanelIdentityLength && identity[i] != '\0'; ++i) {
        unsigned char c = static_cast<unsigned char>(identity[i]);
        text += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    }
    return text;
}

std::string Usage() {
    return "usage: callpanel-standin [options]\n"
           "Answers the call panel tool on UDP port 8300 as one or more call panels and prints\n"
           "one line for every datagram it receives.\n"
           "  --panels N         emulate N panels (default 1); panel i takes address IP+i\n"
           "  --kind K           flat (default), villa or help\n"
           "  --identity TEXT    12 characters: type letter, 10-character address, facility\n"
           "  --identity-hex HEX the same as 24 hex digits, for zero bytes and any others\n"
           "  --ip A.B.C.D       first panel's IP (default: this namespace's own address)\n"
           "  --base-ip A.B.C.D  the same as --ip\n"
           "  --subnet, --gateway, --server A.B.C.D   (defaults follow from the IP)\n"
           "  --mac XX:XX:XX:XX:XX:XX                   (default 00:50:2A and the IP's last 3)\n"
           "  --version TEXT     version text, at most 16 bytes\n"
           "  --unlock N         door unlocking time in seconds (default 5)\n"
           "  --spare N          spare setting byte (default 0)\n"
           "  --delay-ms N       delay every reply by N milliseconds\n"
           "  --jitter-ms N      and each reply a further 0..N ms, drawn at random; replies\n"
           "                     leave by the time they are due, so they may overtake\n"
           "  --seed N           seed of those draws (default: a random one, printed at start)\n"
           "  --short N          send search replies of N bytes instead of 512 (up to 65507)\n"
           "  --malformed        replies carry a broken signature\n"
           "  --stage N          stage byte of every reply (default 2)\n"
           "  --silent           send no reply (requests still take effect), still print\n"
           "  --dump             print each request's length and bytes (to its last non-zero)\n"
           "  --say-sent         print \"sent reply from IP at T us\" as each reply leaves (T on\n"
           "                     CLOCK_MONOTONIC, which every namespace shares)\n"
           "  --exit-after S     stop after S seconds\n"
           "  --reply-to ADDR    send replies to ADDR:8300 instead of the requester\n"
           "  --appear-after S   the first panel is powered S seconds after the start\n"
           "  --appear-every S   each further panel S seconds after the one before\n"
           "  --alike            factory settings: every panel the first one's IP and identity\n";
}

namespace {

// The options that are switches: given alone, each sets one field.
bool* SwitchOf(const std::string& name, Options& out) {
    if (name == "--help" || name == "-h") return &out.Help;
    if (name == "--silent") return &out.Silent;
    if (name == "--dump") return &out.Dump;
    if (name == "--say-sent") return &out.SaySent;
    if (name == "--alike") return &out.Alike;
    if (name == "--malformed") return &out.Malformed;
    return nullptr;
}

bool ParseKind(const std::string& text, PanelKind& out) {
    if (text == "flat")
        out = PanelKind::Flat;
    else if (text == "villa")
        out = PanelKind::Villa;
    else if (text == "help")
        out = PanelKind::HelpStation;
    else
        return false;
    return true;
}

// The identity as 24 hexadecimal digits, two a byte: zero bytes and any others.
bool IdentityFromHex(const std::string& text, std::string& identity) {
    if (text.size() != 2 * PanelIdentityLength) return false;
    std::string bytes;
    for (std::size_t at = 0; at < text.size(); at += 2) {
        const std::string pair = text.substr(at, 2);
        if (pair.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) return false;
        bytes += static_cast<char>(std::strtoul(pair.c_str(), nullptr, 16));
    }
    identity = bytes;
    return true;
}

// An address option: the address, and that it was given (the others follow from it).
bool GivenIpv4(const std::string& text, Ipv4& out, bool& given) {
    given = ParseIpv4(text, out);
    return given;
}

// The options that take a value, each with what it does with it; false: a bad value.
using ValueSetter = bool (*)(const std::string& value, Options& out);
struct ValueOption {
    const char* Name;
    ValueSetter Set;
};
const ValueOption ValueOptions[] = {
    {"--appear-after",
     [](const std::string& v, Options& o) { return ParseSeconds(v, o.AppearAfterSeconds); }},
    {"--appear-every",
     [](const std::string& v, Options& o) { return ParseSeconds(v, o.AppearEverySeconds); }},
    {"--panels", [](const std::string& v, Options& o) { return ParseInt(v, 1, 1000, o.Panels); }},
    {"--kind", [](const std::string& v, Options& o) { return ParseKind(v, o.Kind); }},
    {"--identity",
     [](const std::string& v, Options& o) {
         if (v.size() != PanelIdentityLength) return false;
         o.Identity = v;
         return true;
     }},
    {"--identity-hex",
     [](const std::string& v, Options& o) { return IdentityFromHex(v, o.Identity); }},
    {"--ip", [](const std::string& v, Options& o) { return GivenIpv4(v, o.Ip, o.HaveIp); }},
    {"--base-ip", [](const std::string& v, Options& o) { return GivenIpv4(v, o.Ip, o.HaveIp); }},
    {"--subnet",
     [](const std::string& v, Options& o) { return GivenIpv4(v, o.Subnet, o.HaveSubnet); }},
    {"--gateway",
     [](const std::string& v, Options& o) { return GivenIpv4(v, o.Gateway, o.HaveGateway); }},
    {"--server",
     [](const std::string& v, Options& o) { return GivenIpv4(v, o.Server, o.HaveServer); }},
    {"--mac",
     [](const std::string& v, Options& o) {
         o.HaveMac = ParseMac(v, o.Mac);
         return o.HaveMac;
     }},
    {"--version",
     [](const std::string& v, Options& o) {
         if (v.size() > 16) return false;
         o.Version = v;
         return true;
     }},
    {"--unlock", [](const std::string& v, Options& o) { return ParseInt(v, 0, 255, o.Unlock); }},
    {"--spare", [](const std::string& v, Options& o) { return ParseInt(v, 0, 255, o.Spare); }},
    {"--delay-ms",
     [](const std::string& v, Options& o) { return ParseInt(v, 0, 600000, o.DelayMs); }},
    {"--jitter-ms",
     [](const std::string& v, Options& o) { return ParseInt(v, 0, 600000, o.JitterMs); }},
    {"--seed",
     [](const std::string& v, Options& o) {
         o.HaveSeed = ParseInt(v, 0, 2147483647, o.Seed);
         return o.HaveSeed;
     }},
    {"--short", [](const std::string& v,
                   Options& o) { return ParseInt(v, 1, MaxReplyLength, o.SearchReplyLength); }},
    {"--stage", [](const std::string& v, Options& o) { return ParseInt(v, 0, 255, o.Stage); }},
    {"--exit-after",
     [](const std::string& v, Options& o) { return ParseSeconds(v, o.ExitAfterSeconds); }},
    {"--reply-to",
     [](const std::string& v, Options& o) {
         Ipv4 check;
         if (!ParseIpv4(v, check)) return false;
         o.ReplyTo = v;
         o.HaveReplyTo = true;
         return true;
     }},
};

ValueSetter ValueSetterOf(const std::string& name) {
    for (const ValueOption& option : ValueOptions)
        if (name == option.Name) return option.Set;
    return nullptr;
}

} // namespace

bool ParseOptions(const std::vector<std::string>& args, Options& out, std::string& error) {
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i];
        std::optional<std::string> value; // given as --name=value
        if (size_t eq = name.find('='); name.rfind("--", 0) == 0 && eq != std::string::npos) {
            value = name.substr(eq + 1);
            name = name.substr(0, eq);
        }
        if (bool* setting = SwitchOf(name, out)) {
            if (value) {
                error = name + " takes no value";
                return false;
            }
            *setting = true;
            continue;
        }
        const ValueSetter set = ValueSetterOf(name);
        if (!set) {
            error = "unknown option '" + args[i] + "'";
            return false;
        }
        if (!value && i + 1 < args.size()) value = args[++i];
        // A value missing at the end is reported as a bad, empty one; --kind alone says so.
        if (!value && name == "--kind") {
            error = name + " needs a value";
            return false;
        }
        if (!value || !set(*value, out)) {
            error = "bad value for " + name + ": '" + value.value_or("") + "'";
            return false;
        }
    }
    return true;
}

StandinPanel::StandinPanel(const Options& options, const Ipv4& ownIp, const Ipv4& ownSubnet)
    : Opts(options) {
    const Ipv4 first = options.HaveIp ? options.Ip : ownIp;
    // A given address in the namespace's own segment takes the segment's mask, others a /24.
    const uint32_t ownMask = ToNumber(ownSubnet);
    const bool ownSegment = (ToNumber(first) & ownMask) == (ToNumber(ownIp) & ownMask);
    const Ipv4 subnet = options.HaveSubnet ? options.Subnet
                        : ownSegment       ? ownSubnet
                                           : FromNumber(0xFFFFFF00u);
    const uint32_t network = ToNumber(first) & ToNumber(subnet);
    const Ipv4 gateway = options.HaveGateway ? options.Gateway : FromNumber(network | 1u);
    const Ipv4 server =
        options.HaveServer ? options.Server : FromNumber(network | (0xFEu & ~ToNumber(subnet)));

    Records.resize(static_cast<size_t>(options.Panels));
    for (int i = 0; i < options.Panels; ++i) {
        PanelRecord& p = Records[static_cast<size_t>(i)];
        p = PanelRecord{};
        const int step = options.Alike ? 0 : i;
        const Ipv4 ip = FromNumber(ToNumber(first) + static_cast<uint32_t>(step));
        if (!options.Identity.empty()) {
            SetIdentity(p, options.Identity.data());
            AddToDigits(p.Address, options.Kind == PanelKind::Flat ? 10 : 4, step);
        } else {
            DeriveIdentity(options.Kind, ip, p);
        }
        if (options.HaveMac) {
            std::memcpy(p.Mac, options.Mac, sizeof p.Mac);
            uint32_t low = ((uint32_t{p.Mac[3]} << 16) | (uint32_t{p.Mac[4]} << 8) | p.Mac[5]) +
                           static_cast<uint32_t>(i);
            p.Mac[3] = static_cast<uint8_t>(low >> 16);
            p.Mac[4] = static_cast<uint8_t>(low >> 8);
            p.Mac[5] = static_cast<uint8_t>(low);
        } else {
            // Panels that are otherwise alike keep their MACs apart by their number.
            const uint8_t last = static_cast<uint8_t>(ip.Bytes[3] + (options.Alike ? i : 0));
            const uint8_t mac[6] = {0x00, 0x50, 0x2A, ip.Bytes[1], ip.Bytes[2], last};
            std::memcpy(p.Mac, mac, sizeof mac);
        }
        std::memcpy(p.Ip, ip.Bytes, 4);
        std::memcpy(p.Subnet, subnet.Bytes, 4);
        std::memcpy(p.Gateway, gateway.Bytes, 4);
        std::memcpy(p.Server, server.Bytes, 4);
        std::memcpy(p.Version, options.Version.data(),
                    std::min(options.Version.size(), sizeof p.Version));
        p.Spare = static_cast<uint8_t>(options.Spare);
        p.UnlockTime = static_cast<uint8_t>(options.Unlock);
    }
}

std::string StandinPanel::Describe(int index) const {
    const PanelRecord& p = Records[static_cast<size_t>(index)];
    std::string version(p.Version, strnlen(p.Version, sizeof p.Version));
    std::string line =
        "panel " + std::to_string(index) + ": " + FormatSettings(p) + " version '" + version + "'";
    if (Opts.Dump) line += HoldsLine(p);
    if (Opts.AppearAfterSeconds > 0 || Opts.AppearEverySeconds > 0) {
        char when[40];
        std::snprintf(when, sizeof when, " powered at %.3f s",
                      Opts.AppearAfterSeconds + index * Opts.AppearEverySeconds);
        line += when;
    }
    return line;
}

bool StandinPanel::Powered(std::size_t index) const {
    return ElapsedSeconds >=
           Opts.AppearAfterSeconds + static_cast<double>(index) * Opts.AppearEverySeconds;
}

std::vector<uint8_t> StandinPanel::HeaderReply(uint8_t command, size_t size) const {
    std::vector<uint8_t> reply(size, 0);
    std::memcpy(reply.data() + MessageHeader::SignatureAt, Signature, SignatureLength);
    if (Opts.Malformed) reply[MessageHeader::SignatureAt + SignatureLength - 1] = 'd';
    reply[MessageHeader::CommandAt] = command;
    reply[MessageHeader::StageAt] = static_cast<uint8_t>(Opts.Stage);
    return reply;
}

std::vector<uint8_t> StandinPanel::SearchReplyFor(const PanelRecord& panel) const {
    // Room for the whole block first; a --short reply is cut afterwards.
    const size_t length = static_cast<size_t>(Opts.SearchReplyLength);
    std::vector<uint8_t> reply = HeaderReply(CMD_SEARCH, std::max<size_t>(length, MessageSize));
    PutBlock(reply.data() + SearchReply::BlockAt, panel);
    std::memcpy(reply.data() + SearchReply::VersionAt, panel.Version, sizeof panel.Version);
    reply[SearchReply::SpareAt] = panel.Spare;
    reply[SearchReply::UnlockTimeAt] = panel.UnlockTime;
    reply.resize(length);
    return reply;
}

Outcome StandinPanel::Handle(const uint8_t* data, int length, const std::string& from,
                             double elapsed) {
    ElapsedSeconds = elapsed;
    Outcome outcome;
    if (length < MessageHeader::Length) {
        outcome.Line = "ignored " + std::to_string(length) + "-byte datagram from " + from;
        return outcome;
    }
    if (std::memcmp(data + MessageHeader::SignatureAt, Signature, SignatureLength) != 0) {
        outcome.Line = "ignored datagram without signature from " + from;
        return outcome;
    }
    const uint8_t command = data[MessageHeader::CommandAt];
    const uint8_t stage = data[MessageHeader::StageAt];
    if (stage != STAGE_REQUEST) {
        // The stand-in's own replies and those of other panels arrive here too, and are not
        // requests.
        outcome.Line =
            "ignored stage " + std::to_string(stage) + " command " + Hex(command) + " from " + from;
        return outcome;
    }
    switch (command) {
    case CMD_SEARCH:
        outcome = HandleSearch(from);
        break;
    case CMD_WRITE:
        outcome = HandleWrite(data, length);
        break;
    case CMD_DELETE_CARDS:
        outcome = HandleDeleteCards(data, length);
        break;
    default:
        outcome.Line = "ignored command " + Hex(command) + " from " + from;
        return outcome;
    }
    if (Opts.Silent) {
        outcome.Replies.clear();
        outcome.ReplyFrom.clear();
        outcome.Line += " (silent)";
    }
    if (Opts.Dump) {
        outcome.Line += '\n';
        outcome.Line += DumpLine(data, length);
    }
    return outcome;
}

Outcome StandinPanel::HandleSearch(const std::string& from) {
    Outcome outcome;
    for (std::size_t at = 0; at < Records.size(); ++at) {
        if (!Powered(at)) continue;
        outcome.Replies.push_back(SearchReplyFor(Records[at]));
        outcome.ReplyFrom.push_back(AddressOf(Records[at]));
    }
    const std::size_t count = outcome.Replies.size();
    outcome.Line = "search from " + from + " -> " + std::to_string(count) +
                   (count == 1 ? " reply" : " replies");
    return outcome;
}

Outcome StandinPanel::HandleWrite(const uint8_t* data, int length) {
    Outcome outcome;
    if (length < WriteRequestLength) {
        outcome.Line = "ignored write request of " + std::to_string(length) + " bytes";
        return outcome;
    }
    const uint8_t* current = data + WriteRequest::CurrentBlockAt;
    const uint8_t* wanted = data + WriteRequest::NewBlockAt;
    const std::string named = FormatIdentity(reinterpret_cast<const char*>(current));
    for (std::size_t at = 0; at < Records.size(); ++at) {
        PanelRecord& panel = Records[at];
        if (!Powered(at) || !BlockNames(current, panel)) continue;
        TakeBlock(wanted, panel);
        panel.Spare = data[WriteRequest::SpareAt];
        panel.UnlockTime = data[WriteRequest::UnlockTimeAt];
        if (!outcome.Line.empty()) outcome.Line += "; ";
        outcome.Line += "write for " + named + " -> " + FormatSettings(panel);
        if (Opts.Dump) outcome.Line += HoldsLine(panel);
        outcome.Replies.push_back(HeaderReply(CMD_WRITE));
        outcome.ReplyFrom.push_back(AddressOf(panel));
    }
    if (outcome.Line.empty())
        outcome.Line = "write for " + named + " ip " + FormatIpv4(current + PanelBlock::IpAt) +
                       ": no panel has these settings, ignored";
    return outcome;
}

Outcome StandinPanel::HandleDeleteCards(const uint8_t* data, int length) {
    Outcome outcome;
    if (length < DeleteCardsRequest::SecondAt + 1) {
        outcome.Line = "ignored delete-cards request of " + std::to_string(length) + " bytes";
        return outcome;
    }
    const char* identity = reinterpret_cast<const char*>(data + DeleteCardsRequest::IdentityAt);
    char when[48];
    std::snprintf(when, sizeof when, " at day %u %02u:%02u:%02u", data[DeleteCardsRequest::DayAt],
                  data[DeleteCardsRequest::HourAt], data[DeleteCardsRequest::MinuteAt],
                  data[DeleteCardsRequest::SecondAt]);
    outcome.Line = "delete-cards for " + FormatIdentity(identity) + when;
    for (std::size_t at = 0; at < Records.size(); ++at)
        if (Powered(at) && SameIdentity(reinterpret_cast<const uint8_t*>(identity), Records[at])) {
            outcome.Replies.push_back(HeaderReply(CMD_DELETE_CARDS));
            outcome.ReplyFrom.push_back(AddressOf(Records[at]));
        }
    if (outcome.Replies.empty()) outcome.Line += ": no such panel, ignored";
    return outcome;
}

} // namespace Standin
