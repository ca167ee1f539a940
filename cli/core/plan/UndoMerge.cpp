#include "plan/UndoMerge.h"

#include <algorithm>
#include <cstddef>
#include <map>
#include <set>
#include <sstream>
#include <utility>

#include "plan/UndoPlan.h"
#include "text/MessageText.h"

namespace {

// The raw cell's fields, in its order (RawCell): the type letter, address and facility are the
// panel's identity and go back together.
constexpr const char* RawFieldNames[] = {"mac",     "identity", "ip",    "mask",
                                         "gateway", "server",   "unlock"};
constexpr std::size_t RawFieldCount = std::size(RawFieldNames);

using RawParts = std::vector<std::string>;

// A raw or undoes cell as its fields in upper-case hex; empty when it is not one.
RawParts PartsOf(const std::string& cell) {
    const auto record = ParseRawCell(cell);
    if (!record) return {};
    RawParts parts;
    std::istringstream in(RawCell(*record));
    for (std::string part; in >> part;)
        parts.push_back(part);
    return parts;
}

std::string Joined(const RawParts& parts) {
    std::string cell;
    // Appended piece by piece, since GCC 12 warns falsely about operator+ on strings here.
    for (const std::string& part : parts)
        cell.append(cell.empty() ? "" : " ").append(part);
    return cell;
}

std::string MacOfParts(const RawParts& parts) {
    std::string mac;
    for (std::size_t at = 0; at + 1 < parts[0].size(); at += 2)
        mac.append(mac.empty() ? "" : ":").append(parts[0], at, 2);
    return mac;
}

// A panel as the plans so far tell it: its first row; field by field, the bytes before the first
// run that changed it (Raw) and after the last (Undoes), and every value a run found or left
// there (Known); and the fields some run changed (Touched).
struct MergedPanel {
    // The file and line of its first row, as messages name it.
    std::string Where;
    PlanRow Row;
    RawParts Raw, Undoes;
    std::vector<std::set<std::string>> Known;
    std::vector<bool> Touched;
};

// A row of one plan, its cells read.
struct UndoRow {
    std::string Where;
    const PlanRow* Row;
    RawParts Raw, Undoes;
};

std::string Cell(const PlanRow& row, const char* column) {
    const auto it = row.Cells.find(column);
    return it == row.Cells.end() ? "" : it->second;
}

bool ReadRow(const NamedPlan& plan, const PlanRow& row, UndoRow& out, Plan& merged) {
    out = {plan.Name + ":" + std::to_string(row.Line), &row, PartsOf(Cell(row, "raw")),
           PartsOf(Cell(row, "undoes"))};
    if (out.Raw.size() == RawFieldCount && out.Undoes.size() == RawFieldCount) return true;
    merged.Errors.push_back(
        {0, 0,
         out.Where + ": no raw and undoes bytes (an undo plan that names what its run found and "
                     "wrote): undo plans are taken as one only when every row has them; apply "
                     "this one alone"});
    return false;
}

// A field an earlier run changed where `later` found the panel holding neither what the earlier
// runs found there nor what they wrote; -1 if none. A field no run had changed may hold
// anything: someone else's change is what the panel held before our runs touched it.
int Inconsistent(const MergedPanel& panel, const RawParts& later) {
    for (std::size_t f = 0; f < RawFieldCount; ++f)
        if (panel.Touched[f] && !panel.Known[f].count(later[f])) return int(f);
    return -1;
}

std::string InconsistentText(const MergedPanel& panel, const UndoRow& row, int field) {
    const auto f = std::size_t(field);
    return panel.Where + " and " + row.Where + ": " + MacOfParts(row.Raw) + " " + RawFieldNames[f] +
           ": the later undo plan found " + row.Raw[f] + ", neither what the earlier put back (" +
           panel.Raw[f] + ") nor what it wrote (" + panel.Undoes[f] +
           "): the panel changed between the runs, and one plan of both "
           "would not restore it; give them in the order they were made, or apply each alone";
}

MergedPanel FirstSeen(const UndoRow& row) {
    MergedPanel panel{row.Where, *row.Row, row.Raw, row.Undoes, {}, {}};
    for (std::size_t f = 0; f < RawFieldCount; ++f) {
        panel.Known.push_back({row.Raw[f], row.Undoes[f]});
        panel.Touched.push_back(row.Raw[f] != row.Undoes[f]);
    }
    return panel;
}

// Lays a later run's row over the panel: what it wrote is what the panel holds now, and a field
// no run had changed is as the later run found it (and goes back there if that run changed it).
void TakeLater(MergedPanel& panel, const UndoRow& row) {
    for (std::size_t f = 0; f < RawFieldCount; ++f) {
        if (!panel.Touched[f]) {
            panel.Raw[f] = panel.Undoes[f] = row.Raw[f];
            panel.Known[f] = {row.Raw[f]};
        }
        if (row.Raw[f] == row.Undoes[f]) continue;
        panel.Touched[f] = true;
        panel.Undoes[f] = row.Undoes[f];
        panel.Known[f].insert(row.Undoes[f]);
    }
}

MergedPanel* SamePanel(std::vector<MergedPanel>& panels, const RawParts& raw) {
    for (MergedPanel& panel : panels)
        if (panel.Known[0].count(raw[0])) return &panel;
    return nullptr;
}

void TakeRow(const UndoRow& row, std::vector<MergedPanel>& panels, Plan& merged) {
    MergedPanel* panel = SamePanel(panels, row.Raw);
    if (!panel) {
        panels.push_back(FirstSeen(row));
        return;
    }
    if (const int field = Inconsistent(*panel, row.Raw); field >= 0)
        merged.Errors.push_back({0, 0, InconsistentText(*panel, row, field)});
    else
        TakeLater(*panel, row);
}

// Two panels that end up answering with one MAC cannot both be put back by one plan.
void RefuseSharedKeys(const std::vector<MergedPanel>& panels, Plan& merged) {
    std::map<std::string, const MergedPanel*> byKey;
    for (const MergedPanel& panel : panels)
        if (const auto [it, fresh] = byKey.emplace(panel.Undoes[0], &panel); !fresh)
            merged.Errors.push_back({0, 0,
                                     it->second->Where + " and " + panel.Where +
                                         ": two panels that now answer with "
                                         "the MAC " +
                                         MacOfParts(panel.Undoes) +
                                         "; apply each undo plan alone"});
}

} // namespace

Plan MergeUndoPlans(const std::vector<NamedPlan>& plans) {
    Plan merged;
    std::vector<MergedPanel> panels;
    for (const NamedPlan& plan : plans) {
        if (merged.Header.empty()) merged.Header = plan.Read.Header;
        for (const PlanRow& row : plan.Read.Rows)
            if (UndoRow read; ReadRow(plan, row, read, merged)) TakeRow(read, panels, merged);
    }
    RefuseSharedKeys(panels, merged);
    if (!merged.Errors.empty()) return merged;
    for (MergedPanel& panel : panels) {
        PlanRow row = panel.Row;
        row.Cells["mac"] = MacOfParts(panel.Undoes);
        row.Cells["raw"] = Joined(panel.Raw);
        row.Cells["undoes"] = Joined(panel.Undoes);
        merged.Rows.push_back(std::move(row));
    }
    return merged;
}

Plan PlanOfFiles(std::vector<NamedPlan> plans) {
    return plans.size() == 1 ? std::move(plans.front().Read) : MergeUndoPlans(plans);
}
