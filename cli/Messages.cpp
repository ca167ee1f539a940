#include "Messages.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iostream>

#include "Console.h"
#include "text/MessageText.h"
#include "text/TerminalText.h"

namespace Cli {

namespace {

// The first error in writing standard output (a full disk, a closed pipe), 0 while none.
int OutputError = 0;

bool Quiet = false;

} // namespace

void Print(const std::string& text) {
    if (std::fwrite(text.data(), 1, text.size(), stdout) != text.size() || std::fflush(stdout) != 0)
        if (OutputError == 0) OutputError = errno != 0 ? errno : EIO;
}

int OutputWritten(int exitCode) {
    errno = 0;
    std::cout.flush(); // CLI11 writes the help and the version there, so they are flushed too.
    if (OutputError == 0 && std::cout.good() && std::fflush(stdout) == 0 && !std::ferror(stdout))
        return exitCode;
    Error(std::string("cannot write the output: ") + std::strerror(OutputError != 0 ? OutputError
                                                                   : errno != 0     ? errno
                                                                                    : EIO));
    return exitCode == 0 ? 1 : exitCode;
}

void Error(const std::string& text) {
    std::fprintf(stderr, "callpanel: %s\n",
                 TerminalText(text).c_str()); // The text may quote a panel.
}

void Errors(const std::vector<std::string>& lines) {
    for (const std::string& line : Limited(lines))
        Error(line);
}

void SetQuiet(bool quiet) {
    Quiet = quiet;
}

bool IsQuiet() {
    return Quiet;
}

void Warn(const std::string& text) {
    if (!Quiet) Error("warning: " + text);
}

void Progress(const std::string& text) {
    if (!Quiet && ErrorIsConsole()) ShowProgress(text);
}

std::string Where(const std::string& path, const PlanError& e) {
    // This uses append rather than +, because GCC 12 warns falsely about operator+ on strings
    // here.
    std::string where = path;
    if (e.Line > 0) where.append(":").append(std::to_string(e.Line));
    if (e.Line > 0 && e.Column > 0) where.append(":").append(std::to_string(e.Column));
    return where.append(": ").append(e.Text);
}

void PlanErrors(const std::vector<PlanError>& errors, const std::string& path) {
    std::vector<std::string> lines;
    for (const PlanError& e : errors)
        lines.push_back(path.empty() ? e.Text : Where(path, e));
    Errors(lines);
}

void PrintResult(const std::string& mac, const std::string& result, const std::string& details,
                 Format format) {
    if (format == Format::Table) // The details may quote what the panel reports.
        Print(TerminalText(mac + ": " + result + (details.empty() ? "" : " (" + details + ")")) +
              "\n");
    else
        Print(Render(Table{{"mac", "result", "details"}, {{mac, result, details}}}, format));
}

} // namespace Cli
