#pragma once

// Shared by the stress tests: helper processes in the panel namespaces, the tool brought up as
// the program brings it up, and what the process can tell about itself.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

class TForm1;
class TUDPR;

namespace Stress {

// STRESS_SCALE (sanitizer builds run fewer rounds); `n` scaled, never below `least`.
int Scaled(int n, int least = 1);
double Scale();
bool Sanitized();

QString ToolIp();
QStringList PanelNamespaces();
QString MissingNetwork(int panelNamespaces); // empty when the test can run

// A program in a panel namespace (`ip netns exec` becomes the program, so the pid is its own).
class NetnsProcess {
  public:
    NetnsProcess(QString ns, QString program, QStringList args);
    ~NetnsProcess();
    NetnsProcess(const NetnsProcess&) = delete;
    NetnsProcess& operator=(const NetnsProcess&) = delete;

    // Starts it and waits for a line starting with "ready".
    bool Start(QString& error);
    // Waits for it to end by itself; false if it had to be killed.
    bool WaitFinished(int ms);
    void Terminate();
    bool Running() const { return Process.state() != QProcess::NotRunning; }
    QStringList Lines();

  private:
    void Read();
    QString Ns, Program;
    QStringList Args;
    QProcess Process;
    QByteArray Partial;
    QStringList Seen;
};

// The window and its endpoint, as start-up makes them; shown offscreen.
class Tool {
  public:
    Tool();
    ~Tool(); // closes the window the way the user does, then destroys both
    Tool(const Tool&) = delete;
    Tool& operator=(const Tool&) = delete;

    bool Start(); // endpoint opened and window exposed
    TForm1& Form() { return *Window; }
    void Close();

    void ClickSearch();
    void ClickDelete();
    bool SelectLine(int row);
    int BoxesShown() const { return Boxes; }

  private:
    std::unique_ptr<TForm1> Window;
    std::unique_ptr<TUDPR> Endpoint;
    int Boxes = 0;
};

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
