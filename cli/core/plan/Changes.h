#pragma once

// What `set` and `apply` would do: a plan's rows over the panels found become writes, rows that
// change nothing and rows for panels that did not answer, with the row errors and the site's
// conflicts (refuse) and warnings (go on). No sockets: the engine only sends and collects.

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "WriteRecord.h"
#include "plan/Plan.h"
#include "site/SiteChecks.h"

enum class RowKind { NotFound, Unchanged, Write };

// The columns a write can change, as indices into PanelColumns.
enum WritableColumn {
    MacColumn = MacField,
    TypeColumn = TypeField,
    AddressColumn = AddressField,
    FacilityColumn = FacilityField,
    IpColumn = IpField,
    MaskColumn = MaskField,
    GatewayColumn = GatewayField,
    ServerColumn = ServerField,
    UnlockColumn = UnlockField,
    WritableColumns = WriteFieldCount
};

struct RowChange {
    int Line = 0;    // plan line; 0 for `set`
    std::string Mac; // as the row gives it
    RowKind Kind = RowKind::NotFound;
    PanelRecord Current{}; // as found
    // What the write sends over Current: the row's changes, every other byte as Current holds
    // it (unlocking time as the request's character, KeepUnchanged).
    PanelRecord Pending{};
    // The columns whose values the row changes; the others keep what the panel reports when it
    // is written (Rounds::Pending), so a change made meanwhile by someone else is not undone.
    WriteFields Sets;
    // With --as-written, a type and address that read back as another: what the panel will
    // report ("reads back as villa 0101: ..."); empty otherwise.
    std::string ReadsBack;
};

struct Changes {
    std::vector<RowChange> Rows; // one per plan row that names a MAC, in plan order
    std::vector<PlanError> Errors;
    // Said and gone on with: each row written as asked with --as-written that reads back as
    // something else.
    std::vector<PlanError> Notes;
    SiteVerdict Site;
    bool Refused() const { return !Errors.empty() || !Site.Conflicts.empty(); }
};

// `found`: every panel that answered. A row's MAC that fits two panels found is an error (the
// row cannot say which). `macTail` ("XX:XX:XX", `set --mac`) gives the first row new last three
// MAC bytes. `own`: this computer's addresses, which no panel may take. `asWritten`: a type and
// address that read back as another are written all the same, and said in Notes.
Changes PlanChanges(const std::vector<PlanRow>& rows, const std::vector<PanelRecord>& found,
                    const std::string& macTail = "", const std::vector<Ipv4Bytes>& own = {},
                    bool asWritten = false);

struct FieldChange {
    std::string Field, Old, New;
};
// The writable fields (mac to unlock) whose bytes differ in two records as panels report them
// (and the type when its name does: villa and flat cameras share a type letter),
// in their texts; a field whose texts are alike (a zero byte and "0" after an address, an odd
// type letter) in its bytes. With `given` (the fields the row changes), an address that changes
// only because the type does says so.
std::vector<FieldChange> Differences(const PanelRecord& from, const PanelRecord& to,
                                     const WriteFields& given = WriteFields().set());
