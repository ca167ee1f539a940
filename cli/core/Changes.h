#pragma once

// What `set` and `apply` would do: a plan's rows over the panels found become writes, rows that
// change nothing and rows for panels that did not answer, with the row errors and the site's
// conflicts (refuse) and warnings (go on). No sockets: the engine only sends and collects.

#include <array>
#include <bitset>
#include <cstdint>
#include <string>
#include <vector>

#include "Plan.h"
#include "SiteChecks.h"

enum class RowKind { NotFound, Unchanged, Write };

// The columns a write can change, as indices into PanelColumns.
enum WritableColumn {
    MacColumn,
    TypeColumn,
    AddressColumn,
    FacilityColumn,
    IpColumn,
    MaskColumn,
    GatewayColumn,
    ServerColumn,
    UnlockColumn,
    WritableColumns
};

struct RowChange {
    int Line = 0;    // plan line; 0 for `set`
    std::string Mac; // as the row gives it
    RowKind Kind = RowKind::NotFound;
    PanelRecord Current{}; // as found
    PanelRecord Pending{}; // staged over Current (unlocking time the typed digit)
    // The columns the row gives; the others keep what the panel reports when it is written
    // (Rounds::Pending), so a change made meanwhile by someone else is not undone.
    std::bitset<WritableColumns> Sets;
};

struct Changes {
    std::vector<RowChange> Rows; // one per plan row that names a MAC, in plan order
    std::vector<PlanError> Errors;
    SiteVerdict Site;
    bool Refused() const { return !Errors.empty() || !Site.Conflicts.empty(); }
};

// `found`: every panel that answered. A row's MAC that fits two panels found is an error (the
// row cannot say which). `macTail` ("XX:XX:XX", `set --mac`) gives the first row new last three
// MAC bytes. `own`: this computer's addresses, which no panel may take.
Changes PlanChanges(const std::vector<PlanRow>& rows, const std::vector<PanelRecord>& found,
                    const std::string& macTail = "", const std::vector<Ipv4Bytes>& own = {});

// What a panel reports once it holds `pending`: seconds instead of the typed digit.
PanelRecord AsReported(const PanelRecord& pending);

struct FieldChange {
    std::string Field, Old, New;
};
// The writable fields (mac to unlock) in which two records, as panels report them, differ.
std::vector<FieldChange> Differences(const PanelRecord& from, const PanelRecord& to);
