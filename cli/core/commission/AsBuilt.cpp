#include "commission/AsBuilt.h"

#include "PanelTexts.h"
#include "commission/Commissioning.h"
#include "plan/CsvReader.h"

std::string AsBuiltText(const Plan& schedule, const std::vector<AsBuiltRow>& rows) {
    std::vector<std::string> header{"mac", AsBuiltStatusColumn};
    header.insert(header.end(), schedule.Header.begin(), schedule.Header.end());
    std::string text = CsvLine(header);
    for (std::size_t at = 0; at < schedule.Rows.size(); ++at) {
        const PlanRow& row = schedule.Rows[at];
        const AsBuiltRow given = at < rows.size() ? rows[at] : AsBuiltRow{};
        std::vector<std::string> fields{given.Mac, given.Status};
        for (const std::string& name : schedule.Header) {
            std::string cell;
            if (const auto it = row.Cells.find(name); it != row.Cells.end()) cell = it->second;
            for (const auto& [note, value] : row.Notes)
                if (note == name) cell = value;
            fields.push_back(cell);
        }
        text += CsvLine(fields);
    }
    return text;
}

std::string DefaultAsBuiltPath(const std::string& schedulePath) {
    std::string base = schedulePath;
    const std::size_t dot = base.rfind('.');
    const std::size_t slash = base.find_last_of("/\\");
    if (dot != std::string::npos && (slash == std::string::npos || dot > slash)) base.erase(dot);
    return base + "-as-built.csv";
}

std::optional<std::vector<AsBuiltRow>> ResumedRows(const Plan& schedule, const Plan& asBuilt,
                                                   std::string& error) {
    bool same = schedule.Rows.size() == asBuilt.Rows.size();
    std::vector<AsBuiltRow> rows;
    for (std::size_t at = 0; same && at < schedule.Rows.size(); ++at) {
        PlanCells cells = asBuilt.Rows[at].Cells;
        AsBuiltRow row{cells["mac"], ""};
        if (const auto status = cells.find(AsBuiltStatusColumn); status != cells.end())
            row.Status = status->second;
        else if (!row.Mac.empty())
            row.Status = "done";
        cells.erase("mac");
        cells.erase(AsBuiltStatusColumn);
        same =
            cells == schedule.Rows[at].Cells && asBuilt.Rows[at].Notes == schedule.Rows[at].Notes;
        rows.push_back(row);
    }
    if (!same) {
        error = "its rows are not the schedule's";
        return std::nullopt;
    }
    return rows;
}

RowOutcome AssignRow(const Plan& schedule, std::vector<AsBuiltRow>& rows, std::size_t at,
                     const PanelRecord& panel, const RowSteps& steps,
                     const std::vector<Ipv4Bytes>& own, std::vector<PlanError>& errors,
                     bool asWritten) {
    RowOutcome out;
    rows.resize(schedule.Rows.size());
    const bool resumed = rows[at].Unfinished();
    const Changes changes =
        PlanChanges({RowForPanel(schedule.Rows[at], panel.Mac)}, {panel}, "", own, asWritten);
    out.Notes = changes.Notes;
    if (!changes.Errors.empty() || changes.Rows.empty()) {
        errors.insert(errors.end(), changes.Errors.begin(), changes.Errors.end());
        return out;
    }
    out.Change = changes.Rows.front();
    const bool write = out.Change.Kind == RowKind::Write;
    // Before anything is sent, the undo plan and then the row's intent ("writing") are each
    // synced to the disk, so that a run killed at any moment can be taken back or finished.
    if (write && !steps.SaveUndo(out.Change)) {
        out.Is = RowOutcome::NotSaved;
        return out;
    }
    const AsBuiltRow before = rows[at];
    rows[at] = {MacText(panel.Mac), WritingStatus};
    if (write && !steps.SaveAsBuilt(AsBuiltText(schedule, rows))) {
        rows[at] = before;
        out.Is = RowOutcome::NotSaved;
        return out;
    }
    // A row left "writing" by a killed run whose panel already holds it is verified: the
    // earlier run wrote it, and the search just read it back.
    out.Result = write ? steps.Write(out.Change)
                       : RowResult{resumed ? "verified" : "unchanged",
                                   resumed ? "held it when started again" : "", true};
    rows[at].Status = out.Result.Result;
    out.Is =
        steps.SaveAsBuilt(AsBuiltText(schedule, rows)) ? RowOutcome::Done : RowOutcome::NotSaved;
    return out;
}
