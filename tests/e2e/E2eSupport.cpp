#include "E2eSupport.h"

#include <QDeadlineTimer>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>

#include "Dialogs.h"
#include "Startup.h"
#include "TEdit.h"
#include "Udpr.h"

#if defined(__SANITIZE_THREAD__)
// The stand-ins are started by fork and exec from a process that runs threads; the child only
// execs, which ThreadSanitizer refuses unless told.
extern "C" const char* __tsan_default_options() {
    return "die_after_fork=0";
}
#endif

namespace E2e {

namespace {
// A stand-in that outlives a crashed test stops by itself; the test network also clears up.
constexpr const char* StandinLifetimeSeconds = "600";
constexpr int StartTimeoutMs = 10000;
} // namespace

QString ToolNamespace() {
    return qEnvironmentVariable("TESTNET_TOOL_NS");
}

QStringList PanelNamespaces() {
    return qEnvironmentVariable("TESTNET_PANEL_NS").split(u' ', Qt::SkipEmptyParts);
}

QString MissingNetwork(int panelNamespaces) {
    if (ToolNamespace().isEmpty())
        return QStringLiteral("not inside the private test network (run through "
                              "tools/testnet.sh); nothing is sent on this machine's network");
    if (PanelNamespaces().size() < panelNamespaces)
        return QStringLiteral("needs %1 panel namespaces, the test network has %2")
            .arg(panelNamespaces)
            .arg(PanelNamespaces().size());
    return {};
}

Standin::Standin(QString ns, QStringList args) : Ns(std::move(ns)), Args(std::move(args)) {
    QObject::connect(&Process, &QProcess::readyReadStandardOutput, [this] { ReadOutput(); });
}

Standin::~Standin() {
    if (Process.state() != QProcess::NotRunning) {
        Process.terminate();
        if (!Process.waitForFinished(3000)) {
            Process.kill();
            Process.waitForFinished(3000);
        }
    }
}

bool Standin::Start(QString& error) {
    // `ip netns exec` replaces itself with the stand-in, so the pid is the stand-in's own.
    QStringList arguments{QStringLiteral("netns"), QStringLiteral("exec"), Ns,
                          QStringLiteral(STANDIN_PATH)};
    arguments << Args << QStringLiteral("--exit-after")
              << QString::fromLatin1(StandinLifetimeSeconds);
    Process.start(QStringLiteral("ip"), arguments);
    if (!Process.waitForStarted(StartTimeoutMs)) {
        error = QStringLiteral("cannot start the stand-in: ") + Process.errorString();
        return false;
    }
    QDeadlineTimer deadline(StartTimeoutMs);
    while (!deadline.hasExpired()) {
        ReadOutput();
        for (const QString& line : Seen)
            if (line.startsWith(QStringLiteral("ready:"))) return true;
        if (Process.state() == QProcess::NotRunning) break;
        Process.waitForReadyRead(100);
    }
    error = QStringLiteral("stand-in in %1 did not get ready: %2 %3")
                .arg(Ns, Seen.join(u'\n'), QString::fromLocal8Bit(Process.readAllStandardError()));
    return false;
}

bool Standin::Stop() {
    if (Process.state() == QProcess::NotRunning) return false;
    Process.terminate();
    if (!Process.waitForFinished(5000)) {
        Process.kill();
        Process.waitForFinished(3000);
        return false;
    }
    ReadOutput();
    return Process.exitStatus() == QProcess::NormalExit && Process.exitCode() == 0;
}

void Standin::ReadOutput() {
    Partial += Process.readAllStandardOutput();
    qsizetype end;
    while ((end = Partial.indexOf('\n')) >= 0) {
        Seen << QString::fromLatin1(Partial.left(end));
        Partial.remove(0, end + 1);
    }
}

QStringList Standin::Lines() {
    ReadOutput();
    return Seen;
}

QStringList Standin::LinesWith(const QString& fragment) {
    return Lines().filter(fragment);
}

QList<PanelInfo> Standin::Panels() {
    // "panel 3: H10830000141 ip 10.83.0.14 subnet ..."
    QList<PanelInfo> panels;
    for (const QString& line : Lines()) {
        if (!line.startsWith(QStringLiteral("panel "))) continue;
        const QStringList words = line.split(u' ');
        if (words.size() < 5 || words[3] != QStringLiteral("ip")) continue;
        panels << PanelInfo{words[2], words[4]};
    }
    return panels;
}

Tool::Tool() : Window(std::make_unique<TForm1>()) {
    Status = std::make_unique<QSignalSpy>(Window.get(), &TForm1::StatusChanged);
    Dialogs::SetHook([this](const QString& text, const QString& title, int flags) {
        Boxes << Box{text, title, flags};
    });
}

Tool::~Tool() {
    // As the program ends: the close handler stops the threads and closes the endpoint.
    if (Window->isVisible())
        Window->close();
    else if (Endpoint)
        Endpoint->Close();
    Dialogs::SetHook(nullptr);
    Status.reset();
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

QStringList Tool::Statuses() const {
    return StatusesSince(0);
}

QStringList Tool::StatusesSince(int mark) const {
    QStringList texts;
    for (int i = mark; i < Status->count(); ++i)
        texts << Status->at(i).at(0).toString();
    return texts;
}

QString Tool::StatusLine() const {
    return Window->Label11->text();
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

void Tool::Type(TEdit* box, const QString& text) {
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, text);
}

bool InOrder(const QStringList& list, const QStringList& sequence) {
    int next = 0;
    for (const QString& entry : list)
        if (next < sequence.size() && entry == sequence[next]) ++next;
    return next == sequence.size();
}

} // namespace E2e
