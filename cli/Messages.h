#pragma once

// What every command prints: results written to standard output, and errors, warnings and the
// progress line on standard error.

#include <string>
#include <vector>

#include "Output.h"
#include "plan/Plan.h"

namespace Cli {

// Writes `text` to standard output as it is; the first failure is kept for OutputWritten.
void Print(const std::string& text);

// What a command's exit code becomes once its output is out: an output that could not be
// written (a full disk) is said, and a run that went well ends with exit code 1.
int OutputWritten(int exitCode);

// "callpanel: TEXT" on standard error, escaped for a terminal: the text may quote a panel.
void Error(const std::string& text);
// At most MessageLineLimit lines of them, then how many more.
void Errors(const std::vector<std::string>& lines);

// Warnings and the progress line are off with --quiet.
void SetQuiet(bool quiet);
bool IsQuiet();
void Warn(const std::string& text);
// Shown only to a person watching: on a terminal, and not with --quiet.
void Progress(const std::string& text);

// "FILE:LINE:COLUMN: TEXT" for a fault of a plan, as far as it is known.
std::string Where(const std::string& path, const PlanError& e);
// Each fault with its place in the file (no place when `path` is empty).
void PlanErrors(const std::vector<PlanError>& errors, const std::string& path);

// The results of `set` and `delete-cards` in a format for scripts.
void PrintResult(const std::string& mac, const std::string& result, const std::string& details,
                 Format format);

} // namespace Cli
