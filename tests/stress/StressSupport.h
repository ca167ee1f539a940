#pragma once

// Shared by the stress tests: helper processes in the panel namespaces, the tool brought up as
// the program brings it up, and what the process can tell about itself.

#include <QString>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "TestNetwork.h"

namespace Stress {

// STRESS_SCALE (sanitizer builds run fewer rounds); `n` scaled, never below `least`.
int Scaled(int n, int least = 1);
double Scale();
bool Sanitized();

// The network, the helpers and the tool are shared with the end-to-end tests.
using TestNet::MissingNetwork;
using TestNet::NetnsProcess;
using TestNet::PanelNamespaces;
using TestNet::Tool;
using TestNet::ToolIp;

long ResidentBytes();  // /proc/self/statm
int ThreadCount();     // threads of the program itself, not of Qt's pool
QString ThreadNames(); // their names, sorted, for a failure message
int OpenFiles();       // /proc/self/fd

// Kernel UDP counters of this namespace (/proc/net/snmp).
struct UdpCounters {
    long long InDatagrams = 0, RcvbufErrors = 0;
};
UdpCounters ReadUdpCounters();

// Ends the process with a message when a step takes longer than it was given.
class Watchdog {
  public:
    Watchdog();
    ~Watchdog();
    void Arm(std::chrono::seconds limit, std::string what);
    void Disarm();

  private:
    void Run();
    std::mutex Mutex;
    std::condition_variable Changed;
    bool Armed = false, Quit = false;
    std::chrono::steady_clock::time_point Deadline;
    std::string What;
    std::thread Thread;
};

} // namespace Stress
