#pragma once

// The commands of a building's commissioning: check the site against its plan, write the
// handover report, and give a schedule's rows to new panels as they are powered.

#include <string>

#include "Commands.h"

namespace Cli {

struct CheckOptions {
    std::string PlanPath;
    bool IgnoreExtra = false;
    Format Output = Format::Table;
    SearchOptions Search;
};
int RunCheck(const CheckOptions& options);

struct ReportOptions {
    std::string PlanPath; // empty: the site alone
    std::string HtmlPath;
    SearchOptions Search;
};
int RunReport(const ReportOptions& options);

struct AssignOptions {
    std::string SchedulePath;
    std::string AsBuiltPath; // empty: the schedule's name with -as-built.csv
    std::string NewOn;       // the subnet new panels come on; empty: the factory's
    bool Watch = false;
    bool InMacOrder = false;
    SearchOptions Search;
    int Rounds = DefaultRounds;
    std::string UndoPath;
};
int RunAssign(const AssignOptions& options);

} // namespace Cli
