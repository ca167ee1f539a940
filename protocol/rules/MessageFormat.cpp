#include "MessageFormat.h"

#include <cstddef>
#include <cstring>

namespace {

// The identity is the record's first three fields, copied field by field so that the struct's
// layout never has to match the wire.
constexpr int TypeLetterSize = sizeof(PanelRecord::TypeLetter);
constexpr int AddressSize = sizeof(PanelRecord::Address);
constexpr int FacilitySize = sizeof(PanelRecord::Facility);
static_assert(TypeLetterSize + AddressSize + FacilitySize == PanelIdentityLength);
static_assert(PanelBlock::IdentityAt + PanelIdentityLength <= PanelBlock::MacAt);
static_assert(PanelBlock::ServerAt + sizeof(PanelRecord::Server) == PanelBlock::Length);
static_assert(SearchReply::BlockAt + PanelBlock::Length == SearchReply::VersionAt);
static_assert(SearchReply::UnlockTimeAt + 1 == SearchReplyLength);
static_assert(WriteRequest::NewBlockAt + PanelBlock::Length == WriteRequest::SpareAt);
static_assert(WriteRequest::UnlockTimeAt + 1 == WriteRequestLength);

constexpr uint8_t DeleteCardsFixed[] = {0x01, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00};
static_assert(DeleteCardsRequest::FixedAt + sizeof(DeleteCardsFixed) <= DeleteCardsRequestLength);

void PutHeader(MessageBuffer& out, const char* signature, uint8_t command) {
    std::memset(out, 0, MessageSize);
    std::memcpy(out + MessageHeader::SignatureAt, signature, SignatureLength);
    out[MessageHeader::CommandAt] = command;
    out[MessageHeader::StageAt] = STAGE_REQUEST;
}

void PutIdentity(uint8_t* at, const PanelRecord& record) {
    at[0] = static_cast<uint8_t>(record.TypeLetter);
    std::memcpy(at + TypeLetterSize, record.Address, AddressSize);
    at[TypeLetterSize + AddressSize] = static_cast<uint8_t>(record.Facility);
}

void PutBlock(uint8_t* block, const PanelRecord& record) {
    PutIdentity(block + PanelBlock::IdentityAt, record);
    std::memcpy(block + PanelBlock::MacAt, record.Mac, sizeof record.Mac);
    std::memcpy(block + PanelBlock::IpAt, record.Ip, sizeof record.Ip);
    std::memcpy(block + PanelBlock::SubnetAt, record.Subnet, sizeof record.Subnet);
    std::memcpy(block + PanelBlock::GatewayAt, record.Gateway, sizeof record.Gateway);
    std::memcpy(block + PanelBlock::ServerAt, record.Server, sizeof record.Server);
}

// A reply may end before a field does; what it lacks reads as zero.
void TakeField(void* field, int size, const uint8_t* data, int length, int at) {
    auto* out = static_cast<uint8_t*>(field);
    for (int i = 0; i < size; ++i) {
        const int from = at + i;
        out[i] = from < length ? data[from] : 0;
    }
}

} // namespace

int ComposeSearch(MessageBuffer& out, const char* signature) {
    PutHeader(out, signature, CMD_SEARCH);
    return SearchRequestLength;
}

int ComposeWrite(MessageBuffer& out, const char* signature, const PanelRecord& current,
                 PanelRecord& pending) {
    PutHeader(out, signature, CMD_WRITE);
    PutBlock(out + WriteRequest::CurrentBlockAt, current);
    PutBlock(out + WriteRequest::NewBlockAt, pending);
    pending.Spare = 0;
    out[WriteRequest::SpareAt] = pending.Spare;
    // PendingSettings keeps the typed digit; the panel wants the number of seconds.
    out[WriteRequest::UnlockTimeAt] = static_cast<uint8_t>(pending.UnlockTime - '0');
    return WriteRequestLength;
}

int ComposeDeleteCards(MessageBuffer& out, const char* signature, const PanelRecord& panel,
                       const std::tm& localTime) {
    PutHeader(out, signature, CMD_DELETE_CARDS);
    PutIdentity(out + DeleteCardsRequest::IdentityAt, panel);
    out[DeleteCardsRequest::DayAt] = static_cast<uint8_t>(localTime.tm_mday);
    out[DeleteCardsRequest::HourAt] = static_cast<uint8_t>(localTime.tm_hour);
    out[DeleteCardsRequest::MinuteAt] = static_cast<uint8_t>(localTime.tm_min);
    out[DeleteCardsRequest::SecondAt] = static_cast<uint8_t>(localTime.tm_sec);
    std::memcpy(out + DeleteCardsRequest::FixedAt, DeleteCardsFixed, sizeof DeleteCardsFixed);
    return DeleteCardsRequestLength;
}

bool HasSignature(const uint8_t* data, int length, const char* signature) {
    if (length < MessageHeader::SignatureAt + SignatureLength) return false;
    for (int i = 0; i < SignatureLength; ++i) {
        if (data[MessageHeader::SignatureAt + i] != static_cast<uint8_t>(signature[i]))
            return false;
    }
    return true;
}

void DecodeSearchReply(const uint8_t* data, int length, PanelRecord& out) {
    out = PanelRecord{};
    constexpr int Block = SearchReply::BlockAt;
    const int identity = Block + PanelBlock::IdentityAt;
    TakeField(&out.TypeLetter, TypeLetterSize, data, length, identity);
    TakeField(out.Address, AddressSize, data, length, identity + TypeLetterSize);
    TakeField(&out.Facility, FacilitySize, data, length, identity + TypeLetterSize + AddressSize);
    TakeField(out.Mac, sizeof out.Mac, data, length, Block + PanelBlock::MacAt);
    TakeField(out.Ip, sizeof out.Ip, data, length, Block + PanelBlock::IpAt);
    TakeField(out.Subnet, sizeof out.Subnet, data, length, Block + PanelBlock::SubnetAt);
    TakeField(out.Gateway, sizeof out.Gateway, data, length, Block + PanelBlock::GatewayAt);
    TakeField(out.Server, sizeof out.Server, data, length, Block + PanelBlock::ServerAt);
    TakeField(out.Version, sizeof out.Version, data, length, SearchReply::VersionAt);
    TakeField(&out.Spare, sizeof out.Spare, data, length, SearchReply::SpareAt);
    TakeField(&out.UnlockTime, sizeof out.UnlockTime, data, length, SearchReply::UnlockTimeAt);
}
