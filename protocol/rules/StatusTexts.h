#pragma once

// Texts of the status line set by the sender and receiver threads.
namespace StatusText {
constexpr const char* Empty = "";
constexpr const char* ReadFault = "Read fault";
constexpr const char* WriteFault = "Write fault";
constexpr const char* SearchSuccess = "Search success";
constexpr const char* WriteSuccess = "Success";
constexpr const char* DeleteSuccess = "Del Success";
} // namespace StatusText
