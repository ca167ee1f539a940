// The tool under a flood of datagrams from the panel namespaces while the user keeps working:
// the window keeps answering, the list never passes 100 lines, memory stays flat.
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <memory>
#include <vector>

#include "StatusTexts.h"
#include "StressSupport.h"
#include "Unit1.h"

using namespace Stress;

namespace {
constexpr int Wait = 20000;
constexpr long MemorySlack = 8L << 20;
constexpr int TickMs = 20;

long long SentCount(const QStringList& lines) {
    for (const QString& line : lines)
        if (line.startsWith(QStringLiteral("sent "))) return line.section(u' ', 1, 1).toLongLong();
    return -1;
}
} // namespace

class FloodTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void floodWhileWorking_data();
    void floodWhileWorking();
};

void FloodTest::initTestCase() {
    if (const QString missing = MissingNetwork(2); !missing.isEmpty()) QSKIP(qPrintable(missing));
}

void FloodTest::floodWhileWorking_data() {
    QTest::addColumn<QString>("mix");
    QTest::addColumn<int>("senders");
    QTest::addColumn<int>("seconds");
    // Every kind of datagram, the lengths the receiver must drop among them.
    QTest::newRow("mixed, 2 senders") << QStringLiteral("all") << 2 << Scaled(10, 3);
    // Nothing but search replies of 2000 distinct panels: the 100-line cap under pressure.
    QTest::newRow("search replies only") << QStringLiteral("search") << 2 << Scaled(5, 2);
}

void FloodTest::floodWhileWorking() {
    QFETCH(QString, mix);
    QFETCH(int, senders);
    QFETCH(int, seconds);
    const int answerBoundMs = Sanitized() ? 15000 : 3000;

    Tool tool;
    QVERIFY(tool.Start());
    TForm1& form = tool.Form();

    int mostLines = 0;
    connect(form.ListBox1->model(), &QAbstractItemModel::rowsInserted, this,
            [&] { mostLines = std::max(mostLines, form.ListBox1->count()); });
    long statusChanges = 0;
    connect(&form, &TForm1::StatusChanged, this, [&] { ++statusChanges; });
    QElapsedTimer clock;
    clock.start();
    qint64 lastTick = 0, longestGap = 0;
    QTimer ticker;
    connect(&ticker, &QTimer::timeout, this, [&] {
        const qint64 now = clock.elapsed();
        longestGap = std::max(longestGap, now - lastTick);
        lastTick = now;
    });

    // Warm up: one search nobody answers, so every thread has run once.
    tool.ClickSearch();
    QTRY_COMPARE_WITH_TIMEOUT(form.Label11->text(), QString::fromLatin1(StatusText::ReadFault),
                              Wait);
    const long residentBefore = ResidentBytes();
    const UdpCounters before = ReadUdpCounters();

    std::vector<std::unique_ptr<NetnsProcess>> floods;
    for (int i = 0; i < senders; ++i) {
        floods.push_back(std::make_unique<NetnsProcess>(
            PanelNamespaces().at(i), QStringLiteral(FLOOD_PATH),
            QStringList{"--to", ToolIp(), "--seconds", QString::number(seconds), "--max",
                        "20000000", "--mix", mix, "--panels-from", QString::number(i * 1000)}));
        QString error;
        QVERIFY2(floods.back()->Start(error), qPrintable(error));
    }
    const qint64 floodStart = clock.elapsed();
    lastTick = floodStart;
    ticker.start(TickMs);

    long residentWarm = -1;
    int searches = 0, answered = 0, deletes = 0, selections = 0;
    qint64 clickedAt = -1, slowestAnswer = 0, disabledSince = -1;
    enum class Step { Search, Select, Delete } next = Step::Search;
    long statusAtClick = 0;
    const auto flooding = [&] {
        return std::any_of(floods.begin(), floods.end(), [](auto& p) { return p->Running(); });
    };
    for (int round = 0; flooding(); ++round) {
        QVERIFY2(clock.elapsed() - floodStart < (seconds + 60) * 1000LL,
                 "the flood senders did not stop by themselves");
        if (residentWarm < 0 && clock.elapsed() - floodStart > 2000) residentWarm = ResidentBytes();
        // A search counts as answered once a text from another thread follows the click's own.
        if (clickedAt >= 0 && statusChanges >= statusAtClick + 2) {
            slowestAnswer = std::max(slowestAnswer, clock.elapsed() - clickedAt);
            clickedAt = -1;
            ++answered;
        }
        if (clickedAt >= 0)
            QVERIFY2(clock.elapsed() - clickedAt < answerBoundMs,
                     "a search click got no status text while flooding");
        // Search, select a line, delete its cards, and over again; a search waits until the
        // buttons are back, which a reply or the give-up of the last command brings.
        switch (next) {
        case Step::Search:
            if (clickedAt < 0 && form.Button2->isEnabled()) {
                statusAtClick = statusChanges;
                clickedAt = clock.elapsed();
                tool.ClickSearch();
                ++searches;
                disabledSince = -1;
                next = Step::Select;
            } else if (disabledSince < 0) {
                disabledSince = clock.elapsed();
            } else {
                QVERIFY2(clock.elapsed() - disabledSince < answerBoundMs,
                         "\"Search all\" stayed disabled while flooding");
            }
            break;
        case Step::Select:
            if (form.ListBox1->count() > 0 && tool.SelectLine(round % form.ListBox1->count()))
                ++selections;
            next = Step::Delete;
            break;
        case Step::Delete:
            if (form.SelectedIndex() >= 0 && form.Button3->isEnabled()) {
                tool.ClickDelete();
                ++deletes;
            }
            next = Step::Search;
            break;
        }
        QVERIFY(form.ListBox1->count() <= DirectoryCapacity);
        QTest::qWait(50);
    }
    ticker.stop();
    const qint64 floodMs = clock.elapsed() - floodStart;
    long long sent = 0;
    for (auto& flood : floods) {
        QVERIFY2(flood->WaitFinished(5000), "a flood sender failed");
        const long long n = SentCount(flood->Lines());
        QVERIFY2(n >= 0, qPrintable(flood->Lines().join(u'\n')));
        sent += n;
    }
    const UdpCounters after = ReadUdpCounters();

    // Quiet again: whatever still waited lands, then a search nobody answers empties the list.
    QTest::qWait(1000);
    tool.ClickSearch();
    QTRY_COMPARE_WITH_TIMEOUT(form.Label11->text(), QString::fromLatin1(StatusText::ReadFault),
                              Wait);
    QTest::qWait(500);
    QCOMPARE(form.ListBox1->count(), 0);
    QVERIFY(form.Button1->isEnabled() && form.Button2->isEnabled() && form.Button3->isEnabled());
    const long residentAfter = ResidentBytes();
    if (residentWarm < 0) residentWarm = residentBefore;

    std::printf("flood %s: %lld datagrams sent in %.1f s by %d senders; kernel delivered %lld to "
                "the socket, dropped %lld (receive buffer full)\n",
                qPrintable(mix), sent, floodMs / 1000.0, senders,
                after.InDatagrams - before.InDatagrams, after.RcvbufErrors - before.RcvbufErrors);
    std::printf("window: %ld status texts applied, %d searches (%d answered, slowest %lld ms), "
                "%d selections, %d deletions, longest timer gap %lld ms (tick %d ms), most "
                "lines %d\n",
                statusChanges, searches, answered, static_cast<long long>(slowestAnswer),
                selections, deletes, static_cast<long long>(longestGap), TickMs, mostLines);
    std::printf("resident memory: before %.1f MiB, 2 s into the flood %.1f MiB, after %.1f MiB "
                "(growth %+.2f MiB)%s\n",
                residentBefore / 1048576.0, residentWarm / 1048576.0, residentAfter / 1048576.0,
                (residentAfter - residentWarm) / 1048576.0,
                Sanitized() ? " - not judged under a sanitizer" : "");
    std::fflush(stdout);

    QVERIFY2(mostLines <= DirectoryCapacity, "the list held more than 100 lines");
    QCOMPARE(mostLines, DirectoryCapacity); // more than 100 panels answered: the cap was reached
    QVERIFY2(searches >= seconds && answered >= searches - 1, "too few searches went through");
    QVERIFY2(longestGap < answerBoundMs, "the window stopped answering its timer");
    QVERIFY2(sent > 0, "nothing was sent");
    QCOMPARE(tool.BoxesShown(), 0);
    if (!Sanitized())
        QVERIFY2(residentAfter - residentWarm < MemorySlack, "resident memory grew with the flood");
}

QTEST_MAIN(FloodTest)
#include "FloodTest.moc"
