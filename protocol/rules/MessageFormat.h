#pragma once

#include <cstdint>
#include <ctime>

#include "PanelRecord.h"

constexpr uint8_t CMD_SEARCH = 0xFC;
constexpr uint8_t CMD_WRITE = 0xFE;
constexpr uint8_t CMD_DELETE_CARDS = 0x36;
constexpr uint8_t STAGE_REQUEST = 1;
constexpr uint8_t STAGE_REPLY = 2;

constexpr int MessageSize = 512;
constexpr char Signature[] = "XXXCID";
constexpr int SignatureLength = 6;

constexpr int SearchRequestLength = 10;
constexpr int WriteRequestLength = 96;
constexpr int DeleteCardsRequestLength = 72;
constexpr int SearchReplyLength = 70;

// Byte offsets of every message, written once.
namespace MessageHeader {
constexpr int SignatureAt = 0;
constexpr int CommandAt = 6;
constexpr int StageAt = 7;
constexpr int Length = 8;
} // namespace MessageHeader

// The 42-byte panel block shared by the search reply and both halves of the write request.
namespace PanelBlock {
constexpr int IdentityAt = 0;
constexpr int MacAt = 20;
constexpr int IpAt = 26;
constexpr int SubnetAt = 30;
constexpr int GatewayAt = 34;
constexpr int ServerAt = 38;
constexpr int Length = 42;
} // namespace PanelBlock

namespace SearchReply {
constexpr int BlockAt = 10;
constexpr int VersionAt = 52;
constexpr int SpareAt = 68;
constexpr int UnlockTimeAt = 69;
} // namespace SearchReply

namespace WriteRequest {
constexpr int CurrentBlockAt = 10;
constexpr int NewBlockAt = 52;
constexpr int SpareAt = 94;
constexpr int UnlockTimeAt = 95;
} // namespace WriteRequest

namespace DeleteCardsRequest {
constexpr int IdentityAt = 8;
constexpr int DayAt = 28;
constexpr int HourAt = 29;
constexpr int MinuteAt = 30;
constexpr int SecondAt = 31;
constexpr int FixedAt = 40; // 01 00 00 00 01 00 00 00
} // namespace DeleteCardsRequest

using MessageBuffer = uint8_t[MessageSize];

// Each composer clears the whole buffer and returns the request's meaningful length.
int ComposeSearch(MessageBuffer& out, const char* signature);
// Leaves `pending` as it found it apart from its spare byte, which becomes 0.
int ComposeWrite(MessageBuffer& out, const char* signature, const PanelRecord& current,
                 PanelRecord& pending);
int ComposeDeleteCards(MessageBuffer& out, const char* signature, const PanelRecord& panel,
                       const std::tm& localTime);

// True when the first six bytes equal `signature`, byte for byte.
bool HasSignature(const uint8_t* data, int length, const char* signature);
// Bytes a short reply lacks read as zero.
void DecodeSearchReply(const uint8_t* data, int length, PanelRecord& out);
