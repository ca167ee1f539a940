#pragma once

// Plans made in code as `callpanel search --format csv` prints them, for the plan benchmark
// (a large site read as apply reads it) and the plan fuzzer (a panel printed and read back).
// Header only: the fuzzer is compiled by hand, outside CMake.

#include <iterator>
#include <string>
#include <string_view>
#include <vector>

#include "PanelRecord.h"
#include "plan/CsvReader.h"
#include "plan/Plan.h"

// The header line search prints: every column of PanelColumns, in its order.
inline const std::string& PrintedPlanHeader() {
    static const std::string line =
        CsvLine(std::vector<std::string>(std::begin(PanelColumns), std::end(PanelColumns)));
    return line;
}

// The plan search prints for `panels`, each heard on the local address `via`.
inline std::string PrintedPlan(const std::vector<PanelRecord>& panels, std::string_view via) {
    std::string csv = PrintedPlanHeader();
    for (const PanelRecord& panel : panels)
        csv += CsvLine(PanelCells(panel, via));
    return csv;
}
