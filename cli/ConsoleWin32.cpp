#include <conio.h>
#include <fcntl.h>
#include <io.h>
#include <windows.h>
// This header comes after windows.h, whose types it needs.
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>

#include "Console.h"
#include "WideText.h"

#ifndef ENABLE_VIRTUAL_TERMINAL_PROCESSING
#define ENABLE_VIRTUAL_TERMINAL_PROCESSING 0x0004
#endif

namespace Cli {

namespace {

// What the console held before callpanel changed it. A code page of 0 and a mode not marked as
// changed mean that there is nothing to put back.
UINT SavedCodePage = 0;
DWORD SavedErrorMode = 0;
bool ErrorModeChanged = false;

bool ErrorConsole = false;
bool Escapes = false; // the console draws "\033[K" instead of showing it

// -1: not counting yet, Ctrl+C ends the program; otherwise the presses so far.
std::atomic<int> Interrupts{-1};
std::atomic<int> InterruptExit{130};

// Runs at exit, from the control handler, or both; only the first call puts anything back.
void PutConsoleBack() {
    static std::atomic<bool> done{false};
    if (done.exchange(true)) return;
    if (SavedCodePage != 0) SetConsoleOutputCP(SavedCodePage);
    if (ErrorModeChanged) SetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), SavedErrorMode);
}

// Runs on a thread of its own. Ending the process there with exit() could wait forever on a
// lock the main thread holds: TerminateProcess ends it as _Exit does on Linux.
BOOL WINAPI OnControl(DWORD event) {
    switch (event) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT: {
        int seen = Interrupts.load();
        while (seen >= 0 && !Interrupts.compare_exchange_weak(seen, seen + 1)) {
        }
        if (seen == 0) return TRUE; // the first one: the caller winds down
        PutConsoleBack();
        TerminateProcess(GetCurrentProcess(), static_cast<UINT>(InterruptExit.load()));
        return TRUE;
    }
    default: // the console window closed, logoff, shutdown: the system ends the program
        PutConsoleBack();
        return FALSE;
    }
}

// A console of its own: no shell or other program shares it (the console host is not listed).
bool OwnConsole() {
    DWORD processes[2];
    return GetConsoleProcessList(processes, 2) == 1;
}

bool InputIsConsole() {
    DWORD mode;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

} // namespace

void PrepareConsole() {
    // The same bytes as on Linux: no CR added before LF.
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
    const UINT codePage = GetConsoleOutputCP();
    if (codePage != 0 && codePage != CP_UTF8 && SetConsoleOutputCP(CP_UTF8))
        SavedCodePage = codePage;
    DWORD mode = 0;
    ErrorConsole = GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
    if (ErrorConsole) {
        Escapes = (mode & ENABLE_VIRTUAL_TERMINAL_PROCESSING) != 0;
        // The classic console of Windows 7 and 8 refuses it and shows escapes as they are.
        if (!Escapes && SetConsoleMode(GetStdHandle(STD_ERROR_HANDLE),
                                       mode | ENABLE_VIRTUAL_TERMINAL_PROCESSING)) {
            SavedErrorMode = mode;
            ErrorModeChanged = true;
            Escapes = true;
        }
    }
    std::atexit(PutConsoleBack);
    SetConsoleCtrlHandler(OnControl, TRUE);
}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    int count = 0;
    wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> arguments;
    for (int i = 0; i < count; ++i)
        arguments.push_back(Utf8(wide[i]));
    LocalFree(wide);
    return arguments;
}

bool ErrorIsConsole() {
    return ErrorConsole;
}

void ShowProgress(const std::string& text) {
    if (Escapes) {
        std::fprintf(stderr, "\r%s\033[K", text.c_str());
    } else {
        // Without escape sequences, blanks overwrite what the longer last line left, and the text
        // is written again so that the cursor stands at its end.
        static std::size_t shown = 0;
        const std::size_t blanks = shown > text.size() ? shown - text.size() : 0;
        std::fprintf(stderr, "\r%s%*s\r%s", text.c_str(), static_cast<int>(blanks), "",
                     text.c_str());
        shown = text.size();
    }
    std::fflush(stderr);
}

void CatchInterrupts(int exitCode) {
    InterruptExit = exitCode;
    int notCounting = -1;
    Interrupts.compare_exchange_strong(notCounting, 0);
}

bool Interrupted() {
    return Interrupts.load() > 0;
}

void ExplainWhenStartedAlone() {
    if (!OwnConsole() || !InputIsConsole()) return;
    std::fputs("\ncallpanel is a command-line program: open Command Prompt or PowerShell in this "
               "folder and type the commands there, for example\n  callpanel search\n\n"
               "Press any key to close this window.",
               stdout);
    std::fflush(stdout);
    _getch();
}

} // namespace Cli
