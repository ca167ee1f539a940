// Starts a window program on the X server of DISPLAY and measures it from outside:
//   callpanel-bench-window --title TITLE [--runs N] [--settle-ms MS] [--idle-seconds S]
//                          -- PROGRAM [ARGS...]
// Every run: the time from the start of the process to the map of its window titled TITLE,
// then the window is closed as a window manager's close box does and the exit code is taken.
// The first run also stays idle for a while first: resident memory after MS milliseconds,
// then the CPU time and the context switches of all its threads over S idle seconds.
// Prints one "RESULT key=value ..." line at the end.
#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "../../tests/support/CloseRequest.h"

namespace {

using Clock = std::chrono::steady_clock;

[[noreturn]] void Die(const std::string& why) {
    std::fprintf(stderr, "callpanel-bench-window: %s\n", why.c_str());
    std::exit(1);
}

std::string WindowName(Display* display, Window window) {
    char* name = nullptr;
    std::string text;
    if (XFetchName(display, window, &name) && name != nullptr) text = name;
    if (name != nullptr) XFree(name);
    return text;
}

// Waits for the map of a window named `title`; 0 when `limit` passes first.
Window WaitForMap(Display* display, const std::string& title, Clock::time_point limit) {
    const int fd = ConnectionNumber(display);
    while (Clock::now() < limit) {
        while (XPending(display) > 0) {
            XEvent event;
            XNextEvent(display, &event);
            if (event.type == MapNotify && WindowName(display, event.xmap.window) == title)
                return event.xmap.window;
        }
        pollfd p{fd, POLLIN, 0};
        poll(&p, 1, 50);
    }
    return 0;
}

// Waits up to `seconds` for the child; its exit code, or -1 after killing it.
int Reap(pid_t pid, int seconds) {
    for (int i = 0; i < seconds * 20; ++i) {
        int status = 0;
        if (waitpid(pid, &status, WNOHANG) == pid)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    return -1;
}

long ResidentKiB(pid_t pid) {
    std::ifstream statm("/proc/" + std::to_string(pid) + "/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * (sysconf(_SC_PAGESIZE) / 1024);
}

// utime + stime of the whole process, in clock ticks.
long CpuTicks(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string text((std::istreambuf_iterator<char>(stat)), std::istreambuf_iterator<char>());
    const size_t close = text.rfind(')');
    if (close == std::string::npos) return -1;
    std::istringstream fields(text.substr(close + 2));
    std::string field;
    long utime = 0, stime = 0;
    // Field 3 (state) comes first here; utime and stime are fields 14 and 15.
    for (int n = 3; n <= 15 && fields >> field; ++n) {
        if (n == 14) utime = std::atol(field.c_str());
        if (n == 15) stime = std::atol(field.c_str());
    }
    return utime + stime;
}

// Context switches of every thread: each is a wake-up.
long ContextSwitches(pid_t pid, int& threads) {
    const std::string dir = "/proc/" + std::to_string(pid) + "/task";
    long total = 0;
    threads = 0;
    if (DIR* d = opendir(dir.c_str())) {
        while (const dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            ++threads;
            std::ifstream status(dir + "/" + e->d_name + "/status");
            std::string line;
            while (std::getline(status, line))
                if (line.find("ctxt_switches:") != std::string::npos)
                    total += std::atol(line.substr(line.find(':') + 1).c_str());
        }
        closedir(d);
    }
    return total;
}

struct BenchOptions {
    std::string Title;
    int Runs = 5;
    int SettleMs = 2000;
    double IdleSeconds = 10;
    char** Program = nullptr; // the command line to start, ending in a null pointer
};

BenchOptions ParseArgs(int argc, char** argv) {
    BenchOptions options;
    int i = 1;
    for (; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            ++i;
            break;
        }
        if (i + 1 >= argc) Die("missing value for " + arg);
        const char* value = argv[++i];
        if (arg == "--title")
            options.Title = value;
        else if (arg == "--runs")
            options.Runs = std::max(1, std::atoi(value));
        else if (arg == "--settle-ms")
            options.SettleMs = std::atoi(value);
        else if (arg == "--idle-seconds")
            options.IdleSeconds = std::atof(value);
        else
            Die("unknown option " + arg);
    }
    if (options.Title.empty() || i >= argc)
        Die("usage: --title TITLE [options] -- PROGRAM [ARGS...]");
    options.Program = argv + i;
    return options;
}

pid_t Start(char** program) {
    const pid_t pid = fork();
    if (pid < 0) Die("fork failed");
    if (pid == 0) {
        execv(program[0], program);
        std::perror("execv");
        _exit(127);
    }
    return pid;
}

// What the program costs while nobody uses it: resident memory once it has settled, then its
// CPU time and wake-ups over the idle seconds.
struct IdleCost {
    long ResidentKiB = -1, Ticks = -1, Switches = -1;
    int Threads = 0;
};

IdleCost MeasureIdle(pid_t pid, const BenchOptions& options) {
    IdleCost cost;
    std::this_thread::sleep_for(std::chrono::milliseconds(options.SettleMs));
    cost.ResidentKiB = ResidentKiB(pid);
    const long ticks0 = CpuTicks(pid);
    const long switches0 = ContextSwitches(pid, cost.Threads);
    std::this_thread::sleep_for(std::chrono::duration<double>(options.IdleSeconds));
    cost.Ticks = CpuTicks(pid) - ticks0;
    cost.Switches = ContextSwitches(pid, cost.Threads) - switches0;
    return cost;
}

Display* OpenDisplay() {
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) Die("cannot open the display");
    fcntl(ConnectionNumber(display), F_SETFD, FD_CLOEXEC); // not for the measured program
    XSelectInput(display, DefaultRootWindow(display), SubstructureNotifyMask);
    XSync(display, False);
    return display;
}

} // namespace

int main(int argc, char** argv) {
    const BenchOptions options = ParseArgs(argc, argv);
    Display* display = OpenDisplay();
    std::vector<double> shownMs;
    IdleCost idle;
    int failures = 0;
    for (int run = 1; run <= options.Runs; ++run) {
        XSync(display, True); // forget events of the previous run
        const Clock::time_point start = Clock::now();
        const pid_t pid = Start(options.Program);
        const Window window = WaitForMap(display, options.Title, start + std::chrono::seconds(60));
        if (window == 0) {
            std::printf("run %d: no window \"%s\" within 60 s\n", run, options.Title.c_str());
            kill(pid, SIGTERM);
            Reap(pid, 10);
            ++failures;
            continue;
        }
        const double ms = std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        shownMs.push_back(ms);
        if (run == 1) idle = MeasureIdle(pid, options);
        SendCloseRequest(display, window);
        const int rc = Reap(pid, 30);
        if (rc != 0) ++failures;
        std::printf("run %d: window shown after %.1f ms, exit code %d\n", run, ms, rc);
        std::fflush(stdout);
    }
    XCloseDisplay(display);

    std::sort(shownMs.begin(), shownMs.end());
    const double medianMs = shownMs.empty() ? -1 : shownMs[shownMs.size() / 2];
    const long tick = sysconf(_SC_CLK_TCK);
    std::printf("RESULT shown_ms_median=%.1f shown_ms_min=%.1f rss_kib=%ld idle_cpu_ms=%ld "
                "idle_seconds=%.0f idle_switches=%ld threads=%d failures=%d\n",
                medianMs, shownMs.empty() ? -1 : shownMs.front(), idle.ResidentKiB,
                idle.Ticks < 0 ? -1 : idle.Ticks * 1000 / tick, options.IdleSeconds, idle.Switches,
                idle.Threads, failures);
    return failures == 0 ? 0 : 1;
}
