// "Search all" from the click to the list, against stand-in panels in their own namespaces.
#include <QLabel>
#include <QListWidget>
#include <QProcess>
#include <QPushButton>
#include <QTest>
#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "BroadcastInterfaces.h"
#include "E2eSupport.h"
#include "MessageFormat.h"
#include "StatusTexts.h"
#include "TEdit.h"

using namespace E2e;

namespace {
constexpr int Wait = 10000;   // for what must happen
constexpr int QuietMs = 1000; // for what must not happen
const QString ReadFault = QString::fromLatin1(StatusText::ReadFault);
const QString SearchSuccess = QString::fromLatin1(StatusText::SearchSuccess);
const QString OneSearch = Site::Describe(512, CMD_SEARCH, STAGE_REQUEST);

QStringList EnvWords(const char* name) {
    return qEnvironmentVariable(name).split(u' ', Qt::SkipEmptyParts);
}

QStringList Sorted(QStringList lines) {
    lines.sort();
    return lines;
}

bool Ip(const QStringList& args) {
    return QProcess::execute(QStringLiteral("ip"), args) == 0;
}

// The state the switch gives its port (e.g. "forwarding"; "disabled" without carrier).
QString PortState(const QString& switchNs, const QString& port) {
    QProcess bridge;
    bridge.start(QStringLiteral("bridge"), {QStringLiteral("-n"), switchNs, QStringLiteral("link"),
                                            QStringLiteral("show"), QStringLiteral("dev"), port});
    if (!bridge.waitForFinished(10000)) return {};
    const QStringList words =
        QString::fromLatin1(bridge.readAllStandardOutput()).simplified().split(u' ');
    const qsizetype state = words.indexOf(QStringLiteral("state"));
    return state >= 0 ? words.value(state + 1) : QString();
}
} // namespace

class SearchE2eTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void noPanelAnswers();
    void panelsInSeveralNamespaces_data();
    void panelsInSeveralNamespaces();
    void manyPanelsAnswerOneSearch_data();
    void manyPanelsAnswerOneSearch();
    void replyShapes_data();
    void replyShapes();
    void everyNetworkOnce();
    void callpanelListsEveryPanelOnce();
    void cableUnpluggedAndBack();
};

void SearchE2eTest::initTestCase() {
    if (const QString missing = MissingNetwork(3); !missing.isEmpty()) QSKIP(qPrintable(missing));
}

void SearchE2eTest::noPanelAnswers() {
    Tool tool;
    QVERIFY(tool.Start());
    const int mark = tool.Mark();
    tool.ClickSearch();
    QTRY_VERIFY_WITH_TIMEOUT(tool.StatusesSince(mark).contains(ReadFault), Wait);
    QTest::qWait(QuietMs);
    QCOMPARE(tool.StatusesSince(mark), (QStringList{QString(), ReadFault}));
    QCOMPARE(tool.StatusLine(), ReadFault);
    QVERIFY(tool.Lines().isEmpty());
    QVERIFY(tool.ButtonsEnabled());
    QVERIFY(tool.Boxes.isEmpty());
}

void SearchE2eTest::panelsInSeveralNamespaces_data() {
    // Reply delays of the stand-ins in the first namespaces; all lie within the 100 ms during
    // which the search is pending, so every reply waits for its give-up.
    QTest::addColumn<QList<int>>("delaysMs");
    QTest::addColumn<QStringList>("moreArgs"); // for every stand-in
    // empty: any order; {-1}: by drawn lateness; else the order the delays aim at, which a
    // loaded machine may not keep, so the order is judged by when each stand-in really sent.
    QTest::addColumn<QList<int>>("arrivalOrder");
    QTest::newRow("all at once") << QList<int>{0, 0, 0} << QStringList{} << QList<int>{};
    QTest::newRow("first namespace first")
        << QList<int>{0, 30, 60} << QStringList{} << QList<int>{0, 1, 2};
    QTest::newRow("last namespace first")
        << QList<int>{60, 30, 0} << QStringList{} << QList<int>{2, 1, 0};
    // Each reply 10 to 60 ms late at random, from a seed that draws them out of the panels'
    // order in both searches: a queue that kept its first-in order would list the panels as
    // they stand.
    QTest::newRow("random lateness, later panels overtake")
        << QList<int>{10} << QStringList{"--panels", "6", "--jitter-ms", "50", "--seed", "7"}
        << QList<int>{-1};
}

namespace {
// The lateness of each reply that the stand-in printed for a search ("..., late 12 40 7 ms").
QList<int> DrawnLateness(const QString& line) {
    QList<int> late;
    const qsizetype at = line.indexOf(QStringLiteral(", late "));
    if (at < 0 || !line.endsWith(QStringLiteral(" ms"))) return late;
    for (const QString& word : line.mid(at + 7).chopped(3).split(u' '))
        late << word.toInt();
    return late;
}

// When the stand-in's reply left for the given search, in microseconds on the steady clock all
// namespaces share ("sent reply from 10.0.1.2 at 123456 us"); -1 when it did not say.
long long SentAtUs(const QStringList& sentLines, int search) {
    if (search < 1 || search > sentLines.size()) return -1;
    const QStringList words = sentLines[search - 1].split(u' ');
    return words.size() >= 2 ? words[words.size() - 2].toLongLong() : -1;
}

// Replies sent this far apart cannot swap on the way: the test's links are in one kernel.
constexpr long long SurelyApartUs = 2000;

// Whether the window listed every pair of panels whose replies left surely apart in the order
// they left. Stand-ins in several processes keep their delays only as well as the machine's
// load lets them, so the order they aimed at is not what the window is held to.
bool ListedAsSent(const QStringList& listed, const QStringList& lines,
                  const QList<long long>& sentUs) {
    for (int a = 0; a < lines.size(); ++a)
        for (int b = 0; b < lines.size(); ++b)
            if (sentUs[a] + SurelyApartUs < sentUs[b] &&
                listed.indexOf(lines[a]) > listed.indexOf(lines[b]))
                return false;
    return true;
}

// The panels in the order their replies were due: by lateness, the earlier panel first on a tie.
QList<int> DueOrder(const QList<int>& late) {
    QList<int> order;
    for (int i = 0; i < late.size(); ++i)
        order << i;
    std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return late[a] < late[b]; });
    return order;
}
} // namespace

void SearchE2eTest::panelsInSeveralNamespaces() {
    QFETCH(QList<int>, delaysMs);
    QFETCH(QStringList, moreArgs);
    QFETCH(QList<int>, arrivalOrder);

    std::vector<std::unique_ptr<Standin>> standins;
    QStringList expected;
    for (int i = 0; i < delaysMs.size(); ++i) {
        standins.push_back(std::make_unique<Standin>(PanelNamespaces()[i],
                                                     QStringList{QStringLiteral("--delay-ms"),
                                                                 QString::number(delaysMs[i]),
                                                                 QStringLiteral("--say-sent")} +
                                                         moreArgs));
        QString error;
        QVERIFY2(standins.back()->Start(error), qPrintable(error));
        for (const PanelInfo& panel : standins.back()->Panels())
            expected << panel.Line();
    }
    const int jitterMs =
        moreArgs.contains(QStringLiteral("--jitter-ms"))
            ? moreArgs.value(moreArgs.indexOf(QStringLiteral("--jitter-ms")) + 1).toInt()
            : 0;

    Tool tool;
    QVERIFY(tool.Start());
    // The second search must empty the list and count from zero again.
    for (int search = 1; search <= 2; ++search) {
        const int mark = tool.Mark();
        tool.ClickSearch();
        QTRY_COMPARE_WITH_TIMEOUT(tool.Lines().size(), expected.size(), Wait);
        QTRY_COMPARE_WITH_TIMEOUT(tool.StatusLine(), SearchSuccess, Wait);
        QTest::qWait(QuietMs / 2);
        QCOMPARE(tool.Lines().size(), expected.size());
        for (auto& standin : standins)
            QTRY_COMPARE_WITH_TIMEOUT(standin->LinesWith(QStringLiteral("search from")).size(),
                                      search, Wait);

        QList<int> order = arrivalOrder;
        if (arrivalOrder == QList<int>{-1}) {
            // Every panel answered within its bounds, and the replies came in order of due time.
            const QString said = standins[0]->LinesWith(QStringLiteral("search from"))[search - 1];
            const QList<int> late = DrawnLateness(said);
            QCOMPARE(late.size(), expected.size());
            for (int ms : late)
                QVERIFY2(ms >= delaysMs[0] && ms <= delaysMs[0] + jitterMs, qPrintable(said));
            order = DueOrder(late);
            QVERIFY2(!std::is_sorted(order.begin(), order.end()), qPrintable(said));
        }
        if (!order.isEmpty() && arrivalOrder != QList<int>{-1}) {
            QList<long long> sentUs;
            for (auto& standin : standins) {
                QTRY_COMPARE_WITH_TIMEOUT(
                    standin->LinesWith(QStringLiteral("sent reply from")).size(), search, Wait);
                sentUs << SentAtUs(standin->LinesWith(QStringLiteral("sent reply from")), search);
            }
            QVERIFY(!sentUs.contains(-1));
            QVERIFY2(ListedAsSent(tool.Lines(), expected, sentUs),
                     qPrintable(tool.Lines().join(u'|')));
            QStringList aimed;
            for (int i : order)
                aimed << expected[i];
            if (tool.Lines() != aimed)
                qWarning("the machine's load reordered the stand-ins' replies");
            order.clear();
        }
        if (order.isEmpty()) {
            QStringList got = tool.Lines(), want = expected;
            got.sort();
            want.sort();
            QCOMPARE(got, want);
        } else {
            QStringList want;
            for (int i : order)
                want << expected[i];
            QCOMPARE(tool.Lines(), want);
        }
        const QStringList statuses = tool.StatusesSince(mark);
        QVERIFY2(InOrder(statuses, {QString(), ReadFault, SearchSuccess}),
                 qPrintable(statuses.join(u'|')));
        // Every reply waited for the give-up, so no fault follows a success.
        QCOMPARE(statuses.lastIndexOf(ReadFault), statuses.indexOf(ReadFault));
        QVERIFY(statuses.indexOf(ReadFault) < statuses.indexOf(SearchSuccess));
        QVERIFY(tool.ButtonsEnabled());
    }
    QVERIFY(tool.Boxes.isEmpty());
    for (auto& standin : standins)
        QVERIFY(standin->Stop());
}

void SearchE2eTest::manyPanelsAnswerOneSearch_data() {
    QTest::addColumn<int>("answering");
    QTest::addColumn<int>("listed");
    QTest::newRow("1 panel") << 1 << 1;
    QTest::newRow("10 panels") << 10 << 10;
    QTest::newRow("100 panels") << 100 << 100;
    QTest::newRow("120 panels, the list holds 100") << 120 << 100;
}

void SearchE2eTest::manyPanelsAnswerOneSearch() {
    QFETCH(int, answering);
    QFETCH(int, listed);

    Standin standin(PanelNamespaces()[0], {QStringLiteral("--panels"), QString::number(answering)});
    QString error;
    QVERIFY2(standin.Start(error), qPrintable(error));
    const QList<PanelInfo> panels = standin.Panels();
    QCOMPARE(panels.size(), answering);

    Tool tool;
    QVERIFY(tool.Start());
    const int mark = tool.Mark();
    tool.ClickSearch();
    QTRY_VERIFY_WITH_TIMEOUT(tool.Lines().size() >= listed, Wait);
    QTest::qWait(QuietMs);
    qInfo("%d of %d answering panels listed", static_cast<int>(tool.Lines().size()), answering);

    QStringList want;
    for (int i = 0; i < listed; ++i)
        want << panels[i].Line();
    QCOMPARE(tool.Lines(), want); // one socket sends them in order; none lost, none twice
    QCOMPARE(tool.StatusLine(), SearchSuccess);
    QVERIFY(InOrder(tool.StatusesSince(mark), {QString(), ReadFault, SearchSuccess}));
    QVERIFY(tool.ButtonsEnabled());

    // The last listed panel shows its own settings.
    QVERIFY(tool.SelectLine(listed - 1));
    TForm1& form = tool.Form();
    const QStringList ip = panels[listed - 1].Ip.split(u'.');
    QCOMPARE((QStringList{form.Edit7->text(), form.Edit8->text(), form.Edit9->text(),
                          form.Edit10->text()}),
             ip);
    QVERIFY(standin.Stop());
}

void SearchE2eTest::replyShapes_data() {
    QTest::addColumn<QStringList>("standinArgs");
    QTest::addColumn<bool>("listed");
    QTest::addColumn<QString>("unlockShown"); // in Edit28 once the line is selected
    QTest::addColumn<QString>("versionShown");
    QTest::addColumn<QStringList>("statuses"); // since the click

    const QString version = QStringLiteral("V1.0 stand-in");
    const QStringList answered{QString(), ReadFault, SearchSuccess};
    const QStringList unanswered{QString(), ReadFault};
    QTest::newRow("512 bytes") << QStringList{} << true << "5" << version << answered;
    QTest::newRow("70 bytes, the last field read")
        << QStringList{"--short", "70", "--unlock", "9"} << true << "9" << version << answered;
    QTest::newRow("69 bytes, no unlocking time")
        << QStringList{"--short", "69", "--unlock", "9"} << true << "0" << version << answered;
    QTest::newRow("40 bytes, IP address last")
        << QStringList{"--short", "40"} << true << "0" << QString() << answered;
    QTest::newRow("long reply of 1400 bytes")
        << QStringList{"--short", "1400"} << true << "5" << version << answered;
    QTest::newRow("16-character version")
        << QStringList{"--version", "ABCDEFGHIJKLMNOP"} << true << "5"
        << "ABCDEFGHIJKLMNOP" << answered;
    QTest::newRow("sent to the broadcast address")
        << QStringList{"--reply-to", "255.255.255.255"} << true << "5" << version << answered;
    // Without retire nothing holds it back: it shows before the give-up, which has the last word.
    QTest::newRow("stage 3 does not wait for the give-up")
        << QStringList{"--stage", "3"} << true << "5" << version
        << QStringList{QString(), SearchSuccess, ReadFault};
    QTest::newRow("stage 1 looks like a request")
        << QStringList{"--stage", "1"} << false << QString() << QString() << unanswered;
    QTest::newRow("broken signature")
        << QStringList{"--malformed"} << false << QString() << QString() << unanswered;
}

void SearchE2eTest::replyShapes() {
    QFETCH(QStringList, standinArgs);
    QFETCH(bool, listed);
    QFETCH(QString, unlockShown);
    QFETCH(QString, versionShown);
    QFETCH(QStringList, statuses);

    Standin standin(PanelNamespaces()[0], standinArgs);
    QString error;
    QVERIFY2(standin.Start(error), qPrintable(error));
    const PanelInfo panel = standin.Panels().value(0);

    Tool tool;
    QVERIFY(tool.Start());
    const int mark = tool.Mark();
    tool.ClickSearch();
    QTRY_COMPARE_WITH_TIMEOUT(standin.LinesWith(QStringLiteral("search from")).size(), 1, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(tool.StatusesSince(mark).size(), statuses.size(), Wait);
    QTest::qWait(QuietMs);
    QCOMPARE(tool.StatusesSince(mark), statuses);
    QCOMPARE(tool.StatusLine(), statuses.last());
    QVERIFY(tool.ButtonsEnabled());
    if (!listed) {
        QVERIFY(tool.Lines().isEmpty());
        return;
    }
    QCOMPARE(tool.Lines(), QStringList{panel.Line()});
    QVERIFY(tool.SelectLine(0));
    QCOMPARE(tool.Form().Edit28->text(), unlockShown);
    QCOMPARE(tool.Form().Edit27->text(), versionShown);
    QVERIFY(standin.Stop());
}

// Whatever networks the tool is on, and with or without a default route: each segment gets
// one search per click for each subnet of each of the tool's interfaces there, and every panel
// is listed once, also one that can answer only the alias in its factory subnet (when the
// Wi-Fi has that subnet number too).
void SearchE2eTest::everyNetworkOnce() {
    Site site;
    QString error;
    QVERIFY2(site.Start(error), qPrintable(error));
    Tool tool;
    QVERIFY(tool.Start());
    for (int search = 1; search <= 2; ++search) {
        const int mark = tool.Mark();
        tool.ClickSearch();
        QTRY_COMPARE_WITH_TIMEOUT(tool.Lines().size(), site.Lines.size(), Wait);
        QTRY_COMPARE_WITH_TIMEOUT(tool.StatusLine(), SearchSuccess, Wait);
        QTest::qWait(QuietMs);
        qInfo("%s: %d of %d answering panels listed",
              qPrintable(qEnvironmentVariable("TESTNET_TOPOLOGY")),
              static_cast<int>(tool.Lines().size()), static_cast<int>(site.Lines.size()));
        QCOMPARE(Sorted(tool.Lines()), Sorted(site.Lines));
        QVERIFY(InOrder(tool.StatusesSince(mark), {QString(), ReadFault, SearchSuccess}));
        for (const auto& [segment, received] : site.Received()) {
            const QString seen =
                QStringLiteral("segment %1 received %2").arg(segment).arg(received.join(u'|'));
            qInfo("%s", qPrintable(seen));
            QVERIFY2(received == QStringList(RoutesOn(segment), OneSearch), qPrintable(seen));
        }
        const QList<int> segments = PanelSegments();
        for (size_t i = 0; i < site.Standins.size(); ++i)
            QCOMPARE(site.Standins[i]->LinesWith(QStringLiteral("search from")).size(),
                     search * RoutesOn(segments.value(int(i))));
    }
    QVERIFY(tool.Boxes.isEmpty());
    for (auto& standin : site.Standins)
        QVERIFY(standin->Stop());
}

// `callpanel search` on the same networks: one row per panel, the new panel on its factory
// subnet among them.
void SearchE2eTest::callpanelListsEveryPanelOnce() {
    Site site;
    QString error;
    QVERIFY2(site.Start(error), qPrintable(error));
    QProcess cli;
    cli.start(QStringLiteral(CALLPANEL_PATH),
              {QStringLiteral("search"), QStringLiteral("--format"), QStringLiteral("csv")});
    QVERIFY(cli.waitForFinished(Wait));
    QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
    QCOMPARE(cli.exitCode(), 0);
    QStringList rows = QString::fromUtf8(cli.readAllStandardOutput()).split(u'\n');
    rows.removeAll(QString());
    QVERIFY(!rows.isEmpty());
    const QStringList header = rows.takeFirst().split(u',');
    const qsizetype macAt = header.indexOf(QStringLiteral("mac"));
    const qsizetype ipAt = header.indexOf(QStringLiteral("ip"));
    QVERIFY(macAt >= 0 && ipAt >= 0);
    std::set<QString> macs;
    QStringList ips;
    for (const QString& row : rows) {
        const QStringList cells = row.split(u',');
        macs.insert(cells.value(macAt));
        ips << cells.value(ipAt);
    }
    qInfo("%s: callpanel listed %d rows for %d panels",
          qPrintable(qEnvironmentVariable("TESTNET_TOPOLOGY")), static_cast<int>(rows.size()),
          static_cast<int>(site.Lines.size()));
    QCOMPARE(rows.size(), site.Lines.size());
    QCOMPARE(macs.size(), size_t(rows.size()));
    QCOMPARE(Sorted(ips), Sorted(EnvWords("TESTNET_PANEL_IPS")));
    for (auto& standin : site.Standins)
        QVERIFY(standin->Stop());
}

// The interfaces are looked at for every search: a cable pulled out leaves its segment
// unasked (with no interface left, nothing is sent and the search fails as an unanswered one),
// and once it is back the next search reaches that segment again.
void SearchE2eTest::cableUnpluggedAndBack() {
    const QStringList ifaces = EnvWords("TESTNET_TOOL_IFACES");
    const QStringList toolSegments = EnvWords("TESTNET_TOOL_SEGMENTS");
    const QStringList ports = EnvWords("TESTNET_TOOL_PORTS");
    const QStringList switches = EnvWords("TESTNET_SEGMENT_NS");
    if (ifaces.isEmpty() || ifaces.size() != toolSegments.size() || ifaces.size() != ports.size())
        QSKIP("the test network does not name the tool's interfaces");
    const int unpluggedSegment = PanelSegments().value(0);
    const qsizetype unpluggedIndex = toolSegments.indexOf(QString::number(unpluggedSegment));
    const QString unplugged = ifaces[unpluggedIndex];
    // Segments served, and routes (one per interface here) with and without the cable.
    std::set<int> servedWithout;
    std::map<int, int> routesWithout;
    for (int i = 0; i < ifaces.size(); ++i) {
        if (ifaces[i] == unplugged) continue;
        servedWithout.insert(toolSegments[i].toInt());
        ++routesWithout[toolSegments[i].toInt()];
    }

    Site site;
    QString error;
    QVERIFY2(site.Start(error), qPrintable(error));
    Tool tool;
    QVERIFY(tool.Start());

    QProcess routes;
    routes.start(QStringLiteral("ip"),
                 {QStringLiteral("route"), QStringLiteral("show"), QStringLiteral("default")});
    QVERIFY(routes.waitForFinished(Wait));
    const QStringList defaultRoute = QString::fromLatin1(routes.readAllStandardOutput())
                                         .simplified()
                                         .split(u' ', Qt::SkipEmptyParts);
    QVERIFY(Ip({QStringLiteral("link"), QStringLiteral("set"), unplugged, QStringLiteral("down")}));
    // The interface list in the namespace: the unplugged segment is no longer served.
    QTRY_COMPARE_WITH_TIMEOUT(int(CurrentBroadcastRoutes().size()), int(ifaces.size()) - 1, Wait);

    int mark = tool.Mark();
    tool.ClickSearch();
    QTRY_VERIFY_WITH_TIMEOUT(tool.StatusesSince(mark).contains(ReadFault), Wait);
    QTest::qWait(QuietMs);
    QCOMPARE(Sorted(tool.Lines()), site.LinesOn(servedWithout));
    // Each reply shows its success; with nothing sent, the unanswered search's fault stays.
    QStringList statuses{QString(), ReadFault};
    for (qsizetype i = 0; i < site.LinesOn(servedWithout).size(); ++i)
        statuses << SearchSuccess;
    QCOMPARE(tool.StatusesSince(mark), statuses);
    QVERIFY(tool.ButtonsEnabled());
    for (const auto& [segment, received] : site.Received())
        QCOMPARE(received, QStringList(routesWithout[segment], OneSearch));

    QVERIFY(Ip({QStringLiteral("link"), QStringLiteral("set"), unplugged, QStringLiteral("up")}));
    // Going down took the default route through it away; the network is left as it was found.
    if (!defaultRoute.isEmpty())
        QVERIFY(Ip(QStringList{QStringLiteral("route"), QStringLiteral("replace")} + defaultRoute));
    QTRY_COMPARE_WITH_TIMEOUT(int(CurrentBroadcastRoutes().size()), int(ifaces.size()), Wait);
    // The switch learns of the carrier a moment later, like a real switch port coming up.
    QTRY_COMPARE_WITH_TIMEOUT(PortState(switches.value(unpluggedSegment), ports[unpluggedIndex]),
                              QStringLiteral("forwarding"), Wait);

    mark = tool.Mark();
    tool.ClickSearch();
    QTRY_COMPARE_WITH_TIMEOUT(tool.Lines().size(), site.Lines.size(), Wait);
    QTRY_COMPARE_WITH_TIMEOUT(tool.StatusLine(), SearchSuccess, Wait);
    QTest::qWait(QuietMs);
    QCOMPARE(Sorted(tool.Lines()), Sorted(site.Lines));
    for (const auto& [segment, received] : site.Received())
        QCOMPARE(received, QStringList(RoutesOn(segment), OneSearch));
    for (auto& standin : site.Standins)
        QVERIFY(standin->Stop());
}

QTEST_MAIN(SearchE2eTest)
#include "SearchE2eTest.moc"
