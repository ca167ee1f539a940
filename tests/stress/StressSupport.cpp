#include "StressSupport.h"

#include <dirent.h>
#include <unistd.h>

#include <QDeadlineTimer>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>

#include "Dialogs.h"
#include "Startup.h"
#include "Udpr.h"
#include "Unit1.h"

#if defined(__SANITIZE_THREAD__)
// Helpers are started by fork and exec from a process that runs threads; the child only execs,
// which ThreadSanitizer refuses unless told.
extern "C" const char* __tsan_default_options() {
    return "die_after_fork=0";
}
#endif

namespace Stress {

namespace {
constexpr int StartTimeoutMs = 10000;

int CountEntries(const char* dir) {
    DIR* d = opendir(dir);
    if (d == nullptr) return -1;
    int n = 0;
    while (const dirent* e = readdir(d))
        if (e->d_name[0] != '.') ++n;
    closedir(d);
    return n;
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

QString ToolIp() {
    return qEnvironmentVariable("TESTNET_TOOL_IP");
}

QStringList PanelNamespaces() {
    return qEnvironmentVariable("TESTNET_PANEL_NS").split(u' ', Qt::SkipEmptyParts);
}

QString MissingNetwork(int panelNamespaces) {
    if (ToolIp().isEmpty() || qEnvironmentVariable("TESTNET_TOOL_NS").isEmpty())
        return QStringLiteral("not inside the private test network (run through "
                              "tools/testnet.sh); nothing is sent on this machine's network");
    if (PanelNamespaces().size() < panelNamespaces)
        return QStringLiteral("needs %1 panel namespaces, the test network has %2")
            .arg(panelNamespaces)
            .arg(PanelNamespaces().size());
    return {};
}

NetnsProcess::NetnsProcess(QString ns, QString program, QStringList args)
    : Ns(std::move(ns)), Program(std::move(program)), Args(std::move(args)) {}

NetnsProcess::~NetnsProcess() {
    if (Running()) {
        Process.terminate();
        if (!Process.waitForFinished(5000)) {
            Process.kill();
            Process.waitForFinished(3000);
        }
    }
}

bool NetnsProcess::Start(QString& error) {
    Process.start(QStringLiteral("ip"),
                  QStringList{QStringLiteral("netns"), QStringLiteral("exec"), Ns, Program} + Args);
    if (!Process.waitForStarted(StartTimeoutMs)) {
        error = Program + QStringLiteral(": ") + Process.errorString();
        return false;
    }
    QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired()) {
        Read();
        for (const QString& line : Seen)
            if (line.startsWith(QStringLiteral("ready"))) return true;
        if (!Running()) break;
        Process.waitForReadyRead(100);
    }
    error = QStringLiteral("%1 in %2 did not get ready: %3 %4")
                .arg(Program, Ns, Seen.join(u'\n'),
                     QString::fromLocal8Bit(Process.readAllStandardError()));
    return false;
}

bool NetnsProcess::WaitFinished(int ms) {
    if (Running() && !Process.waitForFinished(ms)) {
        Process.kill();
        Process.waitForFinished(3000);
        Read();
        return false;
    }
    Read();
    return Process.exitStatus() == QProcess::NormalExit && Process.exitCode() == 0;
}

void NetnsProcess::Terminate() {
    if (Running()) Process.terminate();
}

QStringList NetnsProcess::Lines() {
    Read();
    return Seen;
}

void NetnsProcess::Read() {
    Partial += Process.readAllStandardOutput();
    qsizetype end;
    while ((end = Partial.indexOf('\n')) >= 0) {
        Seen << QString::fromLatin1(Partial.left(end));
        Partial.remove(0, end + 1);
    }
}

Tool::Tool() : Window(std::make_unique<TForm1>()) {
    // A box would stop the event loop in its own; the tests only count them.
    Dialogs::SetHook([this](const QString&, const QString&, int) { ++Boxes; });
}

Tool::~Tool() {
    Close();
    Dialogs::SetHook(nullptr);
    Window.reset();
    Form1 = nullptr;
    Endpoint.reset();
}

bool Tool::Start() {
    Form1 = Window.get();
    Endpoint.reset(Startup::OpenEndpoint(*Window));
    if (!Endpoint) return false;
    Window->show();
    return QTest::qWaitForWindowExposed(Window.get());
}

void Tool::Close() {
    if (Window && Window->isVisible())
        Window->close();
    else if (Endpoint)
        Endpoint->Close();
}

void Tool::ClickSearch() {
    QTest::mouseClick(Window->Button2, Qt::LeftButton);
}

void Tool::ClickDelete() {
    QTest::mouseClick(Window->Button3, Qt::LeftButton);
}

bool Tool::SelectLine(int row) {
    QListWidgetItem* item = Window->ListBox1->item(row);
    if (item == nullptr) return false;
    Window->ListBox1->scrollToItem(item);
    const QRect place = Window->ListBox1->visualItemRect(item);
    QTest::mouseClick(Window->ListBox1->viewport(), Qt::LeftButton, Qt::NoModifier, place.center());
    return Window->SelectedIndex() == row;
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
    int n = 0;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
            std::string name;
            std::getline(comm, name);
            n += name == own ? 1 : 0;
        }
        closedir(d);
    }
    return n;
}

QString ThreadNames() {
    QStringList names;
    if (DIR* d = opendir("/proc/self/task")) {
        while (const dirent* e = readdir(d)) {
            if (e->d_name[0] == '.') continue;
            std::ifstream comm(std::string("/proc/self/task/") + e->d_name + "/comm");
            std::string name;
            std::getline(comm, name);
            names << QString::fromStdString(name);
        }
        closedir(d);
    }
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
