#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdio>
#include <cstdlib>

#include "Console.h"

namespace Cli {

namespace {

std::atomic<int> Interrupts{0};
static_assert(std::atomic<int>::is_always_lock_free);
volatile std::sig_atomic_t InterruptExit = 130;

void OnInterrupt(int) {
    if (Interrupts.fetch_add(1) > 0) std::_Exit(InterruptExit);
}

} // namespace

void PrepareConsole() {}

std::vector<std::string> Utf8Arguments(int argc, char** argv) {
    return std::vector<std::string>(argv, argv + argc);
}

bool ErrorIsConsole() {
    static const bool terminal = isatty(fileno(stderr)) != 0;
    return terminal;
}

void ShowProgress(const std::string& text) {
    std::fprintf(stderr, "\r%s\033[K", text.c_str());
    std::fflush(stderr);
}

void CatchInterrupts(int exitCode) {
    InterruptExit = exitCode;
    std::signal(SIGINT, OnInterrupt);
}

bool Interrupted() {
    return Interrupts > 0;
}

void ExplainWhenStartedAlone() {}

} // namespace Cli
