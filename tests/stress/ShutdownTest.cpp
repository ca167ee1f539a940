// The tool brought up and taken down a hundred times in a row while replies keep arriving:
// every round opens the port again, and no thread, descriptor or hang is left behind.
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QThreadPool>
#include <cstdio>
#include <memory>

#include "StatusTexts.h"
#include "StressSupport.h"
#include "Unit1.h"

using namespace Stress;

namespace {
constexpr int Wait = 20000;
constexpr auto RoundLimit = std::chrono::seconds(120);

enum class Ending { RightAfterSearch, AfterListFilled, RightAfterDelete };
} // namespace
Q_DECLARE_METATYPE(Ending)

class ShutdownTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void cleanupTestCase();
    void closeWhileRepliesArrive_data();
    void closeWhileRepliesArrive();

  private:
    std::unique_ptr<NetnsProcess> Standin, Flood;
    std::unique_ptr<Watchdog> Guard;
    int BaseThreads = -1, BaseFiles = -1;
};

void ShutdownTest::initTestCase() {
    if (const QString missing = MissingNetwork(2); !missing.isEmpty()) QSKIP(qPrintable(missing));
    Guard = std::make_unique<Watchdog>();
    // Qt's pool threads (used while drawing) then end when idle, with their descriptors.
    QThreadPool::globalInstance()->setExpiryTimeout(0);
    // Twenty panels answer every search and every deletion of theirs; the flood keeps write and
    // delete replies and foreign datagrams coming in between.
    Standin = std::make_unique<NetnsProcess>(PanelNamespaces().at(0), QStringLiteral(STANDIN_PATH),
                                             QStringList{"--panels", "20", "--exit-after", "900"});
    Flood =
        std::make_unique<NetnsProcess>(PanelNamespaces().at(1), QStringLiteral(FLOOD_PATH),
                                       QStringList{"--to", ToolIp(), "--seconds", "900", "--rate",
                                                   "20000", "--max", "18000000", "--mix", "noise"});
    QString error;
    QVERIFY2(Standin->Start(error), qPrintable(error));
    QVERIFY2(Flood->Start(error), qPrintable(error));
}

void ShutdownTest::cleanupTestCase() {
    if (Flood) Flood->Terminate();
    if (Standin) Standin->Terminate();
    if (Flood) QVERIFY(Flood->WaitFinished(5000));
    if (Standin) QVERIFY(Standin->WaitFinished(5000));
}

void ShutdownTest::closeWhileRepliesArrive_data() {
    QTest::addColumn<Ending>("ending");
    QTest::addColumn<int>("rounds");
    // 34 + 33 + 33 = 100 rounds in a normal build.
    QTest::newRow("close right after Search all") << Ending::RightAfterSearch << Scaled(34, 3);
    QTest::newRow("close once panels are listed") << Ending::AfterListFilled << Scaled(33, 3);
    QTest::newRow("close right after Del all cards") << Ending::RightAfterDelete << Scaled(33, 3);
}

void ShutdownTest::closeWhileRepliesArrive() {
    QFETCH(Ending, ending);
    QFETCH(int, rounds);
    const long residentStart = ResidentBytes();
    for (int round = 0; round < rounds; ++round) {
        Guard->Arm(RoundLimit,
                   std::string(QTest::currentDataTag()) + ", round " + std::to_string(round));
        {
            Tool tool;
            QVERIFY2(tool.Start(), "port 8300 could not be opened again");
            TForm1& form = tool.Form();
            tool.ClickSearch();
            if (ending != Ending::RightAfterSearch) {
                QTRY_VERIFY_WITH_TIMEOUT(form.ListBox1->count() > 0, Wait);
                QTRY_VERIFY_WITH_TIMEOUT(form.Button3->isEnabled(), Wait);
            }
            if (ending == Ending::RightAfterDelete) {
                QVERIFY(tool.SelectLine(form.ListBox1->count() - 1));
                tool.ClickDelete(); // with a line selected: queued, no box
            }
            QCOMPARE(tool.BoxesShown(), 0);
        } // closed as the user closes it, then destroyed
        // Everything the round started has ended and let go of its descriptors.
        if (BaseThreads < 0) {
            std::printf("threads after the first round: %s\n", qPrintable(ThreadNames()));
            BaseThreads = ThreadCount();
            BaseFiles = OpenFiles();
        }
        QTRY_VERIFY2_WITH_TIMEOUT(ThreadCount() == BaseThreads,
                                  qPrintable(QStringLiteral("threads left: ") + ThreadNames()),
                                  5000);
        QTRY_COMPARE_WITH_TIMEOUT(OpenFiles(), BaseFiles, 5000);
        Guard->Disarm();
    }
    std::printf("%s: %d rounds; %d threads and %d descriptors after each; resident memory "
                "%.1f -> %.1f MiB\n",
                QTest::currentDataTag(), rounds, BaseThreads, BaseFiles, residentStart / 1048576.0,
                ResidentBytes() / 1048576.0);
    std::fflush(stdout);
}

QTEST_MAIN(ShutdownTest)
#include "ShutdownTest.moc"
