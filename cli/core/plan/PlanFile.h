#pragma once

// Where a plan comes from: a file, or standard input for "-".

#include <cstddef>
#include <string>

// The largest plan read: some 30,000 panels of exported rows. Reading takes a few tens of times
// a plan's size in memory, so a larger one is refused before it is read.
constexpr std::size_t MaxPlanBytes = std::size_t(4) << 20;

// The whole text of the plan at `path` ("-": standard input). false with `error` set to the
// whole message when it cannot be read: no such file, a directory, no permission, too large.
bool LoadPlanText(const std::string& path, std::string& text, std::string& error);

// How messages name the plan: its path, or "stdin" for "-".
std::string PlanName(const std::string& path);
