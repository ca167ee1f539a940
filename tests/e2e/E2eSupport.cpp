#include "E2eSupport.h"

#include <QLabel>
#include <QTest>

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

bool InOrder(const QStringList& list, const QStringList& sequence) {
    int next = 0;
    for (const QString& entry : list)
        if (next < sequence.size() && entry == sequence[next]) ++next;
    return next == sequence.size();
}

} // namespace E2e
