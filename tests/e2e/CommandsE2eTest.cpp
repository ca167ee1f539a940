// "Del all cards" and "Write" from the click to the panel and back, against stand-in panels.
#include <QComboBox>
#include <QDateTime>
#include <QElapsedTimer>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <vector>

#include "E2eSupport.h"
#include "MessageFormat.h"
#include "StatusTexts.h"
#include "TEdit.h"

using namespace E2e;

namespace {
constexpr int Wait = 10000;
constexpr int QuietMs = 1000;
const QString ReadFault = QString::fromLatin1(StatusText::ReadFault);
const QString WriteFault = QString::fromLatin1(StatusText::WriteFault);
const QString SearchSuccess = QString::fromLatin1(StatusText::SearchSuccess);
const QString WriteSuccess = QString::fromLatin1(StatusText::WriteSuccess);
const QString DeleteSuccess = QString::fromLatin1(StatusText::DeleteSuccess);

using Edits = QList<QPair<QString, QString>>; // box name, text typed into it

TEdit* BoxNamed(TForm1& form, const QString& name) {
    const std::pair<const char*, TEdit * TForm1::*> boxes[] = {
        {"Edit1", &TForm1::Edit1},   {"Edit3", &TForm1::Edit3},   {"Edit4", &TForm1::Edit4},
        {"Edit5", &TForm1::Edit5},   {"Edit6", &TForm1::Edit6},   {"Edit7", &TForm1::Edit7},
        {"Edit8", &TForm1::Edit8},   {"Edit9", &TForm1::Edit9},   {"Edit10", &TForm1::Edit10},
        {"Edit13", &TForm1::Edit13}, {"Edit14", &TForm1::Edit14}, {"Edit15", &TForm1::Edit15},
        {"Edit16", &TForm1::Edit16}, {"Edit18", &TForm1::Edit18}, {"Edit19", &TForm1::Edit19},
        {"Edit20", &TForm1::Edit20}, {"Edit21", &TForm1::Edit21}, {"Edit23", &TForm1::Edit23},
        {"Edit24", &TForm1::Edit24}, {"Edit25", &TForm1::Edit25}, {"Edit26", &TForm1::Edit26},
        {"Edit28", &TForm1::Edit28}};
    for (const auto& [boxName, member] : boxes)
        if (name == QLatin1String(boxName)) return form.*member;
    return nullptr;
}

QStringList IpShown(TForm1& form) {
    return {form.Edit7->text(), form.Edit8->text(), form.Edit9->text(), form.Edit10->text()};
}

// Starts stand-ins in the first panel namespaces and searches until the tool lists them all.
struct Scene {
    E2e::Tool Tool;
    std::vector<std::unique_ptr<Standin>> Standins;

    bool Start(const QList<QStringList>& args, QString& error) {
        for (int i = 0; i < args.size(); ++i) {
            Standins.push_back(std::make_unique<Standin>(PanelNamespaces()[i], args[i]));
            if (!Standins.back()->Start(error)) return false;
        }
        if (!Tool.Start()) {
            error = QStringLiteral("the tool did not start");
            return false;
        }
        return true;
    }
    // The list line of stand-in `i`'s first panel, -1 when it is not listed.
    int LineOf(int i) {
        return static_cast<int>(Tool.Lines().indexOf(Standins[i]->Panels().value(0).Line()));
    }
    // Stops stand-in `i` and starts it again in its namespace with other options.
    bool Restart(int i, const QStringList& args, QString& error) {
        const QString ns = Standins[i]->Namespace();
        Standins[i]->Stop();
        Standins[i] = std::make_unique<Standin>(ns, args);
        return Standins[i]->Start(error);
    }
};

// Seconds between the "day D HH:MM:SS" a stand-in printed and `now`, or -1 if unreadable.
int SecondsOff(const QString& line, const QDateTime& now) {
    static const QRegularExpression when(QStringLiteral(" at day (\\d+) (\\d+):(\\d+):(\\d+)"));
    const QRegularExpressionMatch m = when.match(line);
    if (!m.hasMatch() || m.captured(1).toInt() != now.date().day()) return -1;
    const int printed =
        m.captured(2).toInt() * 3600 + m.captured(3).toInt() * 60 + m.captured(4).toInt();
    return std::abs(now.time().msecsSinceStartOfDay() / 1000 - printed);
}

} // namespace

class CommandsE2eTest : public QObject {
    Q_OBJECT
  private slots:
    void initTestCase();
    void deleteCards_data();
    void deleteCards();
    void deleteCardsWithoutSelection();
    void lateReplyNeverCancelsQueuedCommand_data();
    void lateReplyNeverCancelsQueuedCommand();
    void writeSettings_data();
    void writeSettings();
    void commandsReachEveryNetwork_data();
    void commandsReachEveryNetwork();
};

void CommandsE2eTest::initTestCase() {
    if (const QString missing = MissingNetwork(2); !missing.isEmpty()) QSKIP(qPrintable(missing));
}

void CommandsE2eTest::deleteCards_data() {
    // The second panel is the one selected; once it is listed it may be restarted with other
    // options, as a panel that changed since the search.
    QTest::addColumn<QStringList>("targetArgsAfterSearch"); // empty: unchanged
    QTest::addColumn<QStringList>("statuses");              // since the click

    const QStringList answered{QString(), WriteFault, DeleteSuccess};
    const QStringList unanswered{QString(), WriteFault};
    QTest::newRow("panel answers") << QStringList{} << answered;
    QTest::newRow("panel silent") << QStringList{"--silent"} << unanswered;
    QTest::newRow("reply with broken signature") << QStringList{"--malformed"} << unanswered;
    QTest::newRow("reply of stage 1") << QStringList{"--stage", "1"} << unanswered;
    // Not retired, so not held back: the give-up comes after it and stays.
    QTest::newRow("reply of stage 3")
        << QStringList{"--stage", "3"} << QStringList{QString(), DeleteSuccess, WriteFault};
    QTest::newRow("reply after the give-up") << QStringList{"--delay-ms", "400"} << answered;
}

void CommandsE2eTest::deleteCards() {
    QFETCH(QStringList, targetArgsAfterSearch);
    QFETCH(QStringList, statuses);

    Scene scene;
    QString error;
    QVERIFY2(scene.Start({{}, {}}, error), qPrintable(error));
    Tool& tool = scene.Tool;
    tool.ClickSearch();
    QTRY_COMPARE_WITH_TIMEOUT(tool.Lines().size(), 2, Wait);
    const QString target = scene.Standins[1]->Panels().value(0).Identity;
    const int row = scene.LineOf(1);
    QVERIFY(row >= 0);
    if (!targetArgsAfterSearch.isEmpty())
        QVERIFY2(scene.Restart(1, targetArgsAfterSearch, error), qPrintable(error));
    QTRY_VERIFY_WITH_TIMEOUT(tool.ButtonsEnabled(), Wait);

    QVERIFY(tool.SelectLine(row));
    const int mark = tool.Mark();
    const QDateTime clicked = QDateTime::currentDateTime();
    tool.ClickDelete();

    // It reached the selected panel, carrying the computer's clock, and no other panel.
    const QString reached = QStringLiteral("delete-cards for ") + target + QStringLiteral(" at");
    QTRY_COMPARE_WITH_TIMEOUT(scene.Standins[1]->LinesWith(reached).size(), 1, Wait);
    const int off = SecondsOff(scene.Standins[1]->LinesWith(reached)[0], clicked);
    QVERIFY2(off >= 0 && off <= 5, qPrintable(scene.Standins[1]->LinesWith(reached)[0]));
    QTRY_VERIFY_WITH_TIMEOUT(
        scene.Standins[0]->LinesWith(reached).value(0).endsWith(QStringLiteral("ignored")), Wait);

    QTRY_COMPARE_WITH_TIMEOUT(tool.StatusesSince(mark).size(), statuses.size(), Wait);
    QTest::qWait(QuietMs);
    QCOMPARE(tool.StatusesSince(mark), statuses);
    QCOMPARE(tool.StatusLine(), statuses.last());
    QVERIFY(tool.ButtonsEnabled());
    QCOMPARE(tool.Lines().size(), 2); // a card deletion changes no line
    QVERIFY(tool.Boxes.isEmpty());
    for (auto& standin : scene.Standins)
        QVERIFY(standin->Stop());
}

void CommandsE2eTest::deleteCardsWithoutSelection() {
    Scene scene;
    QString error;
    QVERIFY2(scene.Start({{}}, error), qPrintable(error));
    Tool& tool = scene.Tool;
    tool.ClickSearch();
    QTRY_COMPARE_WITH_TIMEOUT(tool.Lines().size(), 1, Wait);
    QTRY_COMPARE_WITH_TIMEOUT(tool.StatusLine(), SearchSuccess, Wait);

    const int mark = tool.Mark();
    tool.ClickDelete();
    QCOMPARE(tool.Boxes.size(), 1);
    QCOMPARE(tool.Boxes[0].Text, QString::fromUtf8("Pls select a camera ！"));
    QCOMPARE(tool.Boxes[0].Title, QStringLiteral("Fault"));
    QCOMPARE(tool.Boxes[0].Flags, 16);
    QTest::qWait(QuietMs);
    QVERIFY(scene.Standins[0]->LinesWith(QStringLiteral("delete-cards")).isEmpty());
    QVERIFY(tool.StatusesSince(mark).isEmpty());
    QCOMPARE(tool.StatusLine(), SearchSuccess);
    QVERIFY(tool.ButtonsEnabled());
}

void CommandsE2eTest::lateReplyNeverCancelsQueuedCommand_data() {
    // Panel A is deleted from; panel B's search reply comes late.
    QTest::addColumn<QStringList>("argsA");
    QTest::addColumn<QStringList>("argsB");
    QTest::addColumn<int>("deleteAtMs"); // after the search click; -1: as soon as A is listed
    // A stage-3 reply shows at once, before the give-up; a stage-2 one waits for it.
    QTest::addColumn<bool>("successAfterFault");
    // A's stage-3 reply is listed while the search is still pending, so "Del all cards" waits
    // for the search's give-up and is queued just as B's reply, which came a little later and
    // waits for the lock to retire, gets it.
    QTest::newRow("while delete-cards waits in the queue")
        << QStringList{"--stage", "3"} << QStringList{"--delay-ms", "30"} << -1 << false;
    // B answers the search while the card deletion is on the wire.
    QTest::newRow("while delete-cards is pending")
        << QStringList{} << QStringList{"--delay-ms", "1500"} << 1450 << true;
}

void CommandsE2eTest::lateReplyNeverCancelsQueuedCommand() {
    QFETCH(QStringList, argsA);
    QFETCH(QStringList, argsB);
    QFETCH(int, deleteAtMs);
    QFETCH(bool, successAfterFault);

    Scene scene;
    QString error;
    QVERIFY2(scene.Start({argsA, argsB}, error), qPrintable(error));
    Tool& tool = scene.Tool;
    const QString lineA = scene.Standins[0]->Panels().value(0).Line();
    const QString identityA = scene.Standins[0]->Panels().value(0).Identity;

    int mark = -1;
    qint64 clickedAtMs = -1, queueWaitMs = -1;
    QElapsedTimer sinceSearch;
    auto deleteA = [&] {
        const int row = static_cast<int>(tool.Lines().indexOf(lineA));
        if (mark >= 0 || row < 0 || !tool.SelectLine(row)) return;
        mark = tool.Mark();
        clickedAtMs = sinceSearch.elapsed();
        QElapsedTimer held;
        held.start();
        tool.ClickDelete();
        queueWaitMs = held.elapsed();
    };
    QObject guard; // destroyed first, it ends the connection and any call still pending
    if (deleteAtMs < 0) {
        // Right after the line is added, outside the window's own change handling.
        QObject::connect(tool.Form().ListBox1->model(), &QAbstractItemModel::rowsInserted, &guard,
                         [&] { QTimer::singleShot(0, &guard, deleteA); });
    }
    sinceSearch.start();
    tool.ClickSearch();
    if (deleteAtMs >= 0) {
        QTRY_VERIFY_WITH_TIMEOUT(tool.Lines().contains(lineA), Wait);
        QVERIFY(sinceSearch.elapsed() < deleteAtMs); // else the machine is too slow to tell
        QTest::qWait(static_cast<int>(deleteAtMs - sinceSearch.elapsed()));
        deleteA();
    }
    QTRY_VERIFY_WITH_TIMEOUT(mark >= 0, Wait);
    qInfo("delete-cards clicked %lld ms after the search; queueing it took %lld ms",
          static_cast<long long>(clickedAtMs), static_cast<long long>(queueWaitMs));

    // The command went out and its outcome shows; B's reply is listed all the same.
    QTRY_COMPARE_WITH_TIMEOUT(
        scene.Standins[0]->LinesWith(QStringLiteral("delete-cards for ") + identityA).size(), 1,
        Wait);
    QTRY_COMPARE_WITH_TIMEOUT(tool.Lines().size(), 2, Wait);
    // The give-up shows that it was sent and not retired unsent.
    QTRY_VERIFY_WITH_TIMEOUT(InOrder(tool.StatusesSince(mark), {QString(), WriteFault}), Wait);
    QTRY_VERIFY_WITH_TIMEOUT(InOrder(tool.StatusesSince(mark), {QString(), DeleteSuccess}), Wait);
    QTest::qWait(QuietMs);
    const QStringList statuses = tool.StatusesSince(mark);
    QCOMPARE(statuses.count(WriteFault), 1);
    QCOMPARE(statuses.count(DeleteSuccess), 1);
    if (successAfterFault)
        QVERIFY2(InOrder(statuses, {QString(), WriteFault, DeleteSuccess}),
                 qPrintable(statuses.join(u'|')));
    QVERIFY(tool.ButtonsEnabled());
    QVERIFY(tool.Boxes.isEmpty());
    for (auto& standin : scene.Standins)
        QVERIFY(standin->Stop());
}

void CommandsE2eTest::writeSettings_data() {
    QTest::addColumn<QStringList>("standinArgs");
    QTest::addColumn<QStringList>("argsAfterSearch"); // empty: unchanged
    QTest::addColumn<Edits>("edits");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("identityAfter"); // empty: unchanged
    QTest::addColumn<QString>("ipAfter");       // empty: unchanged
    QTest::addColumn<QString>("unlockAfter");

    // Stand-ins of the first panel namespace answer as 10.83.0.11/16 unless told otherwise.
    QTest::newRow("flat camera: IP address and unlocking time")
        << QStringList{} << QStringList{}
        << Edits{{"Edit9", "7"}, {"Edit10", "77"}, {"Edit28", "7"}} << WriteSuccess << QString()
        << "10.83.7.77"
        << "7";
    QTest::newRow("villa camera: address and facility")
        << QStringList{"--kind", "villa"} << QStringList{}
        << Edits{{"Edit1", "4321"}, {"Edit6", "0"}, {"Edit28", "3"}} << WriteSuccess
        << "H43210000000" << QString() << "3";
    QTest::newRow("help station: MAC address")
        << QStringList{"--kind", "help", "--unlock", "0"} << QStringList{} << Edits{{"Edit5", "ab"}}
        << WriteSuccess << QString() << QString() << "0";
    QTest::newRow("panel changed since the search")
        << QStringList{} << QStringList{"--server", "10.83.0.200"} << Edits{{"Edit10", "78"}}
        << WriteFault << QString() << QString() << "5";
    QTest::newRow("panel silent") << QStringList{} << QStringList{"--silent"}
                                  << Edits{{"Edit10", "79"}} << WriteFault << QString() << QString()
                                  << "5";
}

void CommandsE2eTest::writeSettings() {
    QFETCH(QStringList, standinArgs);
    QFETCH(QStringList, argsAfterSearch);
    QFETCH(Edits, edits);
    QFETCH(QString, outcome);
    QFETCH(QString, identityAfter);
    QFETCH(QString, ipAfter);
    QFETCH(QString, unlockAfter);

    Scene scene;
    QString error;
    QVERIFY2(scene.Start({standinArgs}, error), qPrintable(error));
    Tool& tool = scene.Tool;
    TForm1& form = tool.Form();
    const PanelInfo before = scene.Standins[0]->Panels().value(0);

    tool.ClickSearch();
    QTRY_COMPARE_WITH_TIMEOUT(tool.Lines(), QStringList{before.Line()}, Wait);
    QTRY_VERIFY_WITH_TIMEOUT(tool.ButtonsEnabled(), Wait);
    QVERIFY(tool.SelectLine(0));
    QCOMPARE(IpShown(form).join(u'.'), before.Ip);
    const QString macBefore = form.Edit5->text();
    if (!argsAfterSearch.isEmpty())
        QVERIFY2(scene.Restart(0, argsAfterSearch, error), qPrintable(error));

    for (const auto& [name, text] : edits) {
        TEdit* box = BoxNamed(form, name);
        QVERIFY2(box != nullptr, qPrintable(name));
        tool.Type(box, text);
        QCOMPARE(box->text(), text);
    }
    const int mark = tool.Mark();
    tool.ClickWrite();
    QVERIFY2(tool.Boxes.isEmpty(), qPrintable(tool.Boxes.value(0).Text));

    QTRY_COMPARE_WITH_TIMEOUT(tool.StatusLine(), outcome, Wait);
    QTest::qWait(QuietMs);
    // A reply waits for the give-up and then replaces its fault text.
    if (outcome == WriteSuccess)
        QCOMPARE(tool.StatusesSince(mark), (QStringList{QString(), WriteFault, WriteSuccess}));
    else
        QCOMPARE(tool.StatusesSince(mark), (QStringList{QString(), WriteFault}));
    QVERIFY(tool.ButtonsEnabled());
    const QStringList written = scene.Standins[0]->LinesWith(QStringLiteral("write for "));
    QCOMPARE(written.size(), 1);
    QVERIFY2(written[0].startsWith(QStringLiteral("write for ") + before.Identity),
             qPrintable(written[0]));

    // A Write changes no line; a new search shows what the panel holds now.
    QCOMPARE(tool.Lines(), QStringList{before.Line()});
    if (argsAfterSearch.contains(QStringLiteral("--silent")))
        QVERIFY(scene.Restart(0, standinArgs, error));
    const QString identity = identityAfter.isEmpty() ? before.Identity : identityAfter;
    const QString ip = ipAfter.isEmpty() ? before.Ip : ipAfter;
    tool.ClickSearch();
    QTRY_COMPARE_WITH_TIMEOUT(tool.Lines(), QStringList{identity + QStringLiteral(" - ") + ip},
                              Wait);
    QTRY_VERIFY_WITH_TIMEOUT(tool.ButtonsEnabled(), Wait);
    QVERIFY(tool.SelectLine(0));
    QCOMPARE(IpShown(form).join(u'.'), ip);
    QCOMPARE(form.Edit28->text(), unlockAfter);
    bool macEdited = false;
    for (const auto& edit : edits)
        macEdited |= edit.first == QStringLiteral("Edit5");
    QCOMPARE(form.Edit5->text(), macEdited ? QStringLiteral("AB") : macBefore);
    QVERIFY(tool.Boxes.isEmpty());
    for (auto& standin : scene.Standins)
        QVERIFY(standin->Stop());
}

void CommandsE2eTest::commandsReachEveryNetwork_data() {
    QTest::addColumn<int>("command");
    QTest::newRow("Del all cards") << int{CMD_DELETE_CARDS};
    QTest::newRow("Write") << int{CMD_WRITE};
}

// "Del all cards" and "Write" for the panel in the first panel namespace, which in the laptop
// topologies sits on a segment without the default route: every segment gets the request once
// per route the tool has to it, the panel it names acts on each copy and the others ignore them.
void CommandsE2eTest::commandsReachEveryNetwork() {
    QFETCH(int, command);
    Site site;
    QString error;
    QVERIFY2(site.Start(error), qPrintable(error));
    Tool tool;
    QVERIFY(tool.Start());
    tool.ClickSearch();
    QTRY_COMPARE_WITH_TIMEOUT(tool.Lines().size(), site.Lines.size(), Wait);
    QTRY_VERIFY_WITH_TIMEOUT(tool.ButtonsEnabled(), Wait);
    QTest::qWait(QuietMs / 2);
    site.Received(); // the search
    const PanelInfo target = site.Standins[0]->Panels().value(0);
    QVERIFY(tool.SelectLine(static_cast<int>(tool.Lines().indexOf(target.Line()))));

    const int mark = tool.Mark();
    QString acted, success;
    if (command == CMD_DELETE_CARDS) {
        tool.ClickDelete();
        acted = QStringLiteral("delete-cards for ") + target.Identity + QStringLiteral(" at");
        success = DeleteSuccess;
    } else {
        tool.Type(tool.Form().Edit28, QStringLiteral("7"));
        tool.ClickWrite();
        acted = QStringLiteral("write for ") + target.Identity + QStringLiteral(" -> ");
        success = WriteSuccess;
    }
    QVERIFY2(tool.Boxes.isEmpty(), qPrintable(tool.Boxes.value(0).Text));
    QTRY_COMPARE_WITH_TIMEOUT(tool.StatusLine(), success, Wait);
    QTest::qWait(QuietMs);
    QStringList statuses = tool.StatusesSince(mark);
    statuses.erase(std::unique(statuses.begin(), statuses.end()), statuses.end());
    QCOMPARE(statuses, (QStringList{QString(), WriteFault, success}));
    const QList<int> segments = PanelSegments();
    const auto copiesFor = [&](size_t panel) { return RoutesOn(segments.value(int(panel))); };
    QCOMPARE(site.Standins[0]->LinesWith(acted).size(), copiesFor(0));
    if (command == CMD_WRITE)
        QVERIFY(site.Standins[0]->LinesWith(acted)[0].endsWith(QStringLiteral("unlock 7")));
    for (size_t i = 1; i < site.Standins.size(); ++i)
        QCOMPARE(site.Standins[i]->LinesWith(QStringLiteral("ignored")).size(), copiesFor(i));
    for (const auto& [segment, received] : site.Received())
        QCOMPARE(received,
                 QStringList(RoutesOn(segment), Site::Describe(512, command, STAGE_REQUEST)));
    for (auto& standin : site.Standins)
        QVERIFY(standin->Stop());
}

QTEST_MAIN(CommandsE2eTest)
#include "CommandsE2eTest.moc"
