#include "E2eSupport.h"

#include <QLabel>
#include <QTest>

#include <arpa/inet.h>
#include <sys/socket.h>
#include <unistd.h>

#include "NamespaceSocket.h"
#include "TEdit.h"
#include "Unit1.h"

namespace E2e {

namespace {
// A stand-in that outlives a crashed test stops by itself; the test network also clears up.
const QStringList StandinLifetime = {QStringLiteral("--exit-after"), QStringLiteral("600")};
} // namespace

Standin::Standin(QString ns, QStringList args)
    : Ns(ns), Process(std::move(ns), QStringLiteral(STANDIN_PATH), args + StandinLifetime) {}

bool Standin::Stop() {
    if (!Process.Running()) return false;
    Process.Terminate();
    return Process.WaitFinished(5000);
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

Tool::Tool() : Status(std::make_unique<QSignalSpy>(&Form(), &TForm1::StatusChanged)) {}

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
    return Form().Label11->text();
}

void Tool::Type(TEdit* box, const QString& text) {
    box->setFocus();
    box->selectAll();
    QTest::keyClick(box, Qt::Key_Delete);
    QTest::keyClicks(box, text);
}

QList<int> PanelSegments() {
    QList<int> segments;
    const QStringList words =
        qEnvironmentVariable("TESTNET_PANEL_SEGMENTS").split(u' ', Qt::SkipEmptyParts);
    for (qsizetype i = 0; i < PanelNamespaces().size(); ++i)
        segments << (words.size() == PanelNamespaces().size() ? words[i].toInt() : 0);
    return segments;
}

int RoutesOn(int segment) {
    const QStringList words =
        qEnvironmentVariable("TESTNET_SEGMENT_ROUTES").split(u' ', Qt::SkipEmptyParts);
    return words.value(segment, QStringLiteral("1")).toInt();
}

SegmentListener::SegmentListener(const QString& ns) {
    Fd = UdpSocketInNamespace(ns.toStdString());
    if (Fd < 0) return;
    const int on = 1;
    setsockopt(Fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(8300);
    if (bind(Fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
        close(Fd);
        Fd = -1;
    }
}

SegmentListener::~SegmentListener() {
    if (Fd >= 0) close(Fd);
}

QList<SegmentListener::Datagram> SegmentListener::Take() {
    QList<Datagram> taken;
    uint8_t buffer[65536];
    for (;;) {
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const ssize_t n = recvfrom(Fd, buffer, sizeof buffer, MSG_DONTWAIT | MSG_TRUNC,
                                   reinterpret_cast<sockaddr*>(&from), &size);
        if (n < 0) break;
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        taken << Datagram{static_cast<int>(n), n > 6 ? buffer[6] : -1, n > 7 ? buffer[7] : -1,
                          QString::fromLatin1(text)};
    }
    return taken;
}

bool Site::Start(QString& error) {
    const QList<int> segments = PanelSegments();
    for (int i = 0; i < PanelNamespaces().size(); ++i) {
        const QString ns = PanelNamespaces()[i];
        Standins.push_back(std::make_unique<Standin>(ns, QStringList{}));
        if (!Standins.back()->Start(error)) return false;
        Lines << Standins.back()->Panels().value(0).Line();
        if (Listeners.count(segments[i]) != 0) continue;
        Listeners[segments[i]] = std::make_unique<SegmentListener>(ns);
        if (!Listeners[segments[i]]->Ok()) {
            error = QStringLiteral("no listener in ") + ns;
            return false;
        }
    }
    return true;
}

std::map<int, QStringList> Site::Received() {
    std::map<int, QStringList> got;
    for (auto& [segment, listener] : Listeners) {
        got[segment];
        for (const SegmentListener::Datagram& d : listener->Take())
            got[segment] << Describe(d.Length, d.Command, d.Stage);
    }
    return got;
}

QString Site::Describe(int length, int command, int stage) {
    return QStringLiteral("%1 bytes, command %2, stage %3").arg(length).arg(command).arg(stage);
}

QStringList Site::LinesOn(const std::set<int>& segments) const {
    QStringList lines;
    const QList<int> panelSegments = PanelSegments();
    for (int i = 0; i < Lines.size(); ++i)
        if (segments.count(panelSegments.value(i)) != 0) lines << Lines[i];
    lines.sort();
    return lines;
}

bool InOrder(const QStringList& list, const QStringList& sequence) {
    int next = 0;
    for (const QString& entry : list)
        if (next < sequence.size() && entry == sequence[next]) ++next;
    return next == sequence.size();
}

} // namespace E2e
