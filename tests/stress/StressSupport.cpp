#include "StressSupport.h"

#include <dirent.h>
#include <unistd.h>

#include <QByteArray>
#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <vector>

namespace Stress {

namespace {
int CountEntries(const char* dir) {
    DIR* d = opendir(dir);
    if (d == nullptr) return -1;
    int n = 0;
    while (const dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n;
}

// The names of every thread of this process (/proc/self/task/*/comm).
std::vector<std::string> TaskNames() {
    std::vector<std::string> names;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
            std::string name;
            std::getline(comm, name);
            names.push_back(std::move(name));
        }
        closedir(d);
    }
    return names;
}
} // namespace

bool Sanitized() {
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
    return true;
#else
    return false;
#endif
}

double Scale() {
    const QByteArray text = qgetenv("STRESS_SCALE");
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (ok && value > 0) return value;
    return Sanitized() ? 0.25 : 1.0;
}

int Scaled(int n, int least) {
    const int scaled = static_cast<int>(n * Scale() + 0.5);
    return scaled < least ? least : scaled;
}

long ResidentBytes() {
    std::ifstream statm("/proc/self/statm");
    long size = 0, resident = 0;
    statm >> size >> resident;
    return resident * sysconf(_SC_PAGESIZE);
}

int ThreadCount() {
    // Threads named as the process: the main thread and every std::thread, the tool's sender
    // and receiver among them. Qt's own pool threads carry names of their own and come and go.
    std::string own;
    std::getline(std::ifstream("/proc/self/comm"), own);
    const std::vector<std::string> names = TaskNames();
    return static_cast<int>(std::count(names.begin(), names.end(), own));
}

QString ThreadNames() {
    QStringList names;
    for (const std::string& name : TaskNames())
        names << QString::fromStdString(name);
    names.sort();
    return names.join(QStringLiteral(", "));
}

int OpenFiles() {
    return CountEntries("/proc/self/fd");
}

UdpCounters ReadUdpCounters() {
    // Two "Udp:" lines: the names, then the values.
    std::ifstream snmp("/proc/net/snmp");
    std::string line, names;
    UdpCounters counters;
    while (std::getline(snmp, line)) {
        if (line.rfind("Udp: ", 0) != 0) continue;
        if (names.empty()) {
            names = line;
            continue;
        }
        std::istringstream n(names), v(line);
        std::string name, value;
        while (n >> name && v >> value) {
            if (name == "InDatagrams") counters.InDatagrams = std::atoll(value.c_str());
            if (name == "RcvbufErrors") counters.RcvbufErrors = std::atoll(value.c_str());
        }
        break;
    }
    return counters;
}

Watchdog::Watchdog() : Thread([this] { Run(); }) {}

Watchdog::~Watchdog() {
    {
        std::lock_guard<std::mutex> lock(Mutex);
        Quit = true;
    }
    Changed.notify_all();
    Thread.join();
}

void Watchdog::Arm(std::chrono::seconds limit, std::string what) {
    {
        std::lock_guard<std::mutex> lock(Mutex);
        Armed = true;
        Deadline = std::chrono::steady_clock::now() + limit;
        What = std::move(what);
    }
    Changed.notify_all();
}

void Watchdog::Disarm() {
    std::lock_guard<std::mutex> lock(Mutex);
    Armed = false;
}

void Watchdog::Run() {
    std::unique_lock<std::mutex> lock(Mutex);
    while (!Quit) {
        if (!Armed) {
            Changed.wait(lock);
            continue;
        }
        if (Changed.wait_until(lock, Deadline) == std::cv_status::timeout && Armed && !Quit &&
            std::chrono::steady_clock::now() >= Deadline) {
            std::fprintf(stderr, "FAIL: hang: %s did not finish in time\n", What.c_str());
            std::fflush(stderr);
            std::abort();
        }
    }
}

} // namespace Stress
