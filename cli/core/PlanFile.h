#pragma once

// Where a plan comes from: a file, or standard input for "-".

#include <string>

// The whole text of the plan at `path` ("-": standard input). false with `error` set to the
// whole message when it cannot be read: no such file, a directory, no permission.
bool LoadPlanText(const std::string& path, std::string& text, std::string& error);

// How messages name the plan: its path, or "stdin" for "-".
std::string PlanName(const std::string& path);
