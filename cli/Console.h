#pragma once

// What callpanel asks of the terminal or console it runs in. Linux terminals take all of it as
// it is; the Windows console needs its code page, its escape sequences and Ctrl+C handled.

#include <string>
#include <vector>

namespace Cli {

// Output as bytes and the console in UTF-8 while callpanel runs, put back when it ends (also by
// Ctrl+C or the console window closing). Until CatchInterrupts, Ctrl+C ends the program.
void PrepareConsole();

// The arguments as UTF-8, the program's name first: Windows hands them over in UTF-16.
std::vector<std::string> Utf8Arguments(int argc, char** argv);

// True when a person may be watching standard error (a terminal or a console).
bool ErrorIsConsole();

// Writes `text` over the progress line of standard error; an empty text clears it.
void ShowProgress(const std::string& text);

// From now on the first Ctrl+C is only counted (see Interrupted); the second ends the program at
// once with `exitCode`, the console put back.
void CatchInterrupts(int exitCode);
bool Interrupted();

// Windows: started from Explorer (a console of its own that no shell shares, and its keyboard
// as input). Says that callpanel is a command-line program and waits for a key, so that the
// window does not close before it can be read. Elsewhere nothing.
void ExplainWhenStartedAlone();

} // namespace Cli
