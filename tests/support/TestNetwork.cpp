#include "TestNetwork.h"

#include <QDeadlineTimer>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

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

namespace TestNet {

namespace {
constexpr int StartTimeoutMs = 10000;
} // namespace

QString ToolNamespace() {
    return qEnvironmentVariable("TESTNET_TOOL_NS");
}

QString ToolIp() {
    return qEnvironmentVariable("TESTNET_TOOL_IP");
}

QStringList PanelNamespaces() {
    return qEnvironmentVariable("TESTNET_PANEL_NS").split(u' ', Qt::SkipEmptyParts);
}

QString MissingNetwork(int panelNamespaces) {
    if (ToolNamespace().isEmpty() || ToolIp().isEmpty())
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
            if (line.startsWith(QStringLiteral("ready:"))) return true;
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
    CatchBoxes(Boxes);
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
    // The tool ends as the program does: the close handler stops the threads and closes the
    // endpoint.
    if (Window && Window->isVisible())
        Window->close();
    else if (Endpoint)
        Endpoint->Close();
}

QStringList Tool::Lines() const {
    QStringList lines;
    for (int i = 0; i < Window->ListBox1->count(); ++i)
        lines << Window->ListBox1->item(i)->text();
    return lines;
}

bool Tool::ButtonsEnabled() const {
    return Window->Button1->isEnabled() && Window->Button2->isEnabled() &&
           Window->Button3->isEnabled();
}

void Tool::ClickSearch() {
    QTest::mouseClick(Window->Button2, Qt::LeftButton);
}

void Tool::ClickDelete() {
    QTest::mouseClick(Window->Button3, Qt::LeftButton);
}

void Tool::ClickWrite() {
    QTest::mouseClick(Window->Button1, Qt::LeftButton);
}

bool Tool::SelectLine(int row) {
    QListWidgetItem* item = Window->ListBox1->item(row);
    if (item == nullptr) return false;
    Window->ListBox1->scrollToItem(item);
    const QRect place = Window->ListBox1->visualItemRect(item);
    QTest::mouseClick(Window->ListBox1->viewport(), Qt::LeftButton, Qt::NoModifier, place.center());
    return Window->SelectedIndex() == row;
}

} // namespace TestNet
