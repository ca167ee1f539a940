// Replies as the receiver thread hands them over, and what reaches the window.
#include <QtTest>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "DuplicateRule.h"
#include "MessageFormat.h"
#include "ProtocolFakes.h"
#include "ReplyDispatcher.h"
#include "StatusTexts.h"

namespace {

// A search reply of 70 bytes laid out by hand; `number` goes into the address and the IP.
QByteArray SearchReplyBytes(int stage, int number, const char* identity12 = nullptr) {
    QByteArray reply(70, '\0');
    reply.replace(0, 6, "XXXCID");
    reply[6] = static_cast<char>(0xFC);
    reply[7] = static_cast<char>(stage);
    char identity[24];
    std::snprintf(identity, sizeof identity, "H%010d1", number);
    reply.replace(10, 12, QByteArray(identity12 ? identity12 : identity, 12));
    reply.replace(30, 6, QByteArray("\x00\x50\x2A\x01\x02\x03", 6));
    reply[36] = static_cast<char>(192);
    reply[37] = static_cast<char>(168);
    reply[38] = 1;
    reply[39] = static_cast<char>(number & 0xFF);
    reply.replace(52, 7, "V1.4.2\0", 7);
    reply[69] = 5;
    return reply;
}

QByteArray HeaderOnly(int command, int stage) {
    QByteArray reply("XXXCID");
    reply.append(static_cast<char>(command));
    reply.append(static_cast<char>(stage));
    return reply;
}

// The receiver's side: the bytes are followed by a zero byte, as the endpoint guarantees.
void Deliver(ReplyDispatcher& dispatcher, const QByteArray& datagram) {
    QByteArray buffer = datagram;
    buffer.append('\0');
    dispatcher.Dispatch("192.168.1.20", 8300, reinterpret_cast<const uint8_t*>(buffer.constData()),
                        static_cast<int>(datagram.size()));
}

// The queue set up with a dispatcher in front of it, armed unless told otherwise.
struct Engine : QueueRig {
    ReplyDispatcher Dispatcher{Queue, *Mailbox};

    explicit Engine(bool arm = true) {
        Queue.Setup(Link, *Mailbox);
        if (arm) Dispatcher.Arm();
    }
    ~Engine() {
        Link.OpenGate();
        Queue.Stop();
    }
};

const QString Panel = QStringLiteral("panel:H00000000421");
const QString ReadFault = QStringLiteral("status:Read fault");
const QString Enable = QStringLiteral("enable");

} // namespace

class ReplyDispatcherTest : public QObject {
    Q_OBJECT

  private slots:
    // Each reply arrives while the sender thread is inside the pass of a search it has just
    // sent (holding the queue's lock). A reply that retires waits for the pass, so its effects
    // follow the search's fault; one that does not retire is handled at once, before it.
    void actsByCommandAndStage_data() {
        QTest::addColumn<QByteArray>("reply");
        QTest::addColumn<bool>("retires");
        QTest::addColumn<QStringList>("log");

        const QString searchOk = QStringLiteral("status:Search success");
        const QString writeOk = QStringLiteral("status:Success");
        const QString deleteOk = QStringLiteral("status:Del Success");
        const QStringList fault = {ReadFault, Enable};

        QTest::newRow("search, stage 1") << SearchReplyBytes(1, 42) << false << fault;
        QTest::newRow("search, stage 2")
            << SearchReplyBytes(2, 42) << true << fault + QStringList{Panel, searchOk, Enable};
        QTest::newRow("search, stage 0")
            << SearchReplyBytes(0, 42) << false << QStringList{Panel, searchOk, Enable} + fault;
        QTest::newRow("search, stage 3")
            << SearchReplyBytes(3, 42) << false << QStringList{Panel, searchOk, Enable} + fault;
        QTest::newRow("search, 8 bytes, stage 2")
            << HeaderOnly(0xFC, 2) << true
            << fault + QStringList{QStringLiteral("panel:"), searchOk, Enable};
        QTest::newRow("write, stage 1") << HeaderOnly(0xFE, 1) << false << fault;
        QTest::newRow("write, stage 2")
            << HeaderOnly(0xFE, 2) << true << fault + QStringList{writeOk, Enable};
        QTest::newRow("write, stage 3")
            << HeaderOnly(0xFE, 3) << false << QStringList{writeOk, Enable} + fault;
        QTest::newRow("write, longer reply") << HeaderOnly(0xFE, 2) + QByteArray(200, 'x') << true
                                             << fault + QStringList{writeOk, Enable};
        QTest::newRow("delete cards, stage 1") << HeaderOnly(0x36, 1) << false << fault;
        QTest::newRow("delete cards, stage 2")
            << HeaderOnly(0x36, 2) << true << fault + QStringList{deleteOk, Enable};
        QTest::newRow("delete cards, stage 0")
            << HeaderOnly(0x36, 0) << false << QStringList{deleteOk, Enable} + fault;
        QTest::newRow("unknown command, stage 2") << HeaderOnly(0x37, 2) << false << fault;
        QTest::newRow("unknown command, stage 0") << HeaderOnly(0x00, 0) << false << fault;
    }

    void actsByCommandAndStage() {
        QFETCH(QByteArray, reply);
        QFETCH(bool, retires);
        QFETCH(QStringList, log);
        Engine e;
        e.Link.CloseGate();
        e.Queue.Queue(CMD_SEARCH, 8300, -1, *e.Directory, e.Pending);
        QVERIFY(e.Link.WaitForCount(1)); // the pass holds the lock now

        std::atomic<bool> done{false};
        std::thread receiver([&] {
            Deliver(e.Dispatcher, reply);
            done = true;
        });
        struct Join {
            Engine& E;
            std::thread& T;
            ~Join() {
                E.Link.OpenGate();
                if (T.joinable()) T.join();
            }
        } join{e, receiver};
        if (retires) {
            QTest::qWait(100);
            QVERIFY2(!done.load(), "a stage-2 reply must wait in retire for the pass");
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
        }
        e.Link.OpenGate();
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
        receiver.join();
        QTRY_COMPARE_WITH_TIMEOUT(e.Drained(), log, 5000);
        QTest::qWait(50);
        QCOMPARE(e.Drained(), log);
        QCOMPARE(e.Link.Count(), 1);
    }

    void signatureIsCaseSensitive_data() {
        QTest::addColumn<QByteArray>("signature");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("XXXCID") << QByteArray("XXXCID") << true;
        QTest::newRow("xxxcid") << QByteArray("xxxcid") << false;
        QTest::newRow("XXXCId") << QByteArray("XXXCId") << false;
        QTest::newRow("xXXCID") << QByteArray("xXXCID") << false;
        QTest::newRow("XXXCIE") << QByteArray("XXXCIE") << false;
        QTest::newRow("zeros") << QByteArray(6, '\0') << false;
    }

    void signatureIsCaseSensitive() {
        QFETCH(QByteArray, signature);
        QFETCH(bool, accepted);
        Engine e;
        QByteArray write = HeaderOnly(0xFE, 2);
        write.replace(0, 6, signature);
        QByteArray search = SearchReplyBytes(2, 42);
        search.replace(0, 6, signature);
        Deliver(e.Dispatcher, write);
        Deliver(e.Dispatcher, search);
        const QStringList expected =
            accepted ? QStringList{"status:Success", Enable, Panel, "status:Search success", Enable}
                     : QStringList{};
        QCOMPARE(e.Drained(), expected);
    }

    // Two replies are one panel only when their records are equal; one changed byte of a
    // reply makes another panel when the record holds it.
    void duplicateRule_data() {
        QTest::addColumn<int>("changedAt"); // -1: none
        QTest::addColumn<bool>("samePanel");
        QTest::newRow("equal replies") << -1 << true;
        QTest::newRow("header byte the record does not hold") << 8 << true;
        QTest::newRow("MAC") << 35 << false;
        QTest::newRow("IP address (same MAC)") << 39 << false;
        QTest::newRow("identity (same MAC and IP)") << 15 << false;
        QTest::newRow("gateway") << 47 << false;
        QTest::newRow("version, after its zero") << 62 << false;
        QTest::newRow("spare byte") << 68 << false;
        QTest::newRow("unlocking time") << 69 << false;
    }
    void duplicateRule() {
        QFETCH(int, changedAt);
        QFETCH(bool, samePanel);
        const QByteArray one = SearchReplyBytes(STAGE_REPLY, 42);
        QByteArray other = one;
        if (changedAt >= 0) other[changedAt] = static_cast<char>(other[changedAt] ^ 0x40);
        PanelRecord a, b;
        DecodeSearchReply(reinterpret_cast<const uint8_t*>(one.constData()), int(one.size()), a);
        DecodeSearchReply(reinterpret_cast<const uint8_t*>(other.constData()), int(other.size()),
                          b);
        QCOMPARE(SamePanel(a, b), samePanel);
        QCOMPARE(SamePanel(b, a), samePanel);
        const PanelOrder before;
        QCOMPARE(!before(a, b) && !before(b, a), samePanel);
        if (!samePanel) QVERIFY(before(a, b) != before(b, a));
    }

    // The MAC orders records first, whatever the rest holds.
    void duplicateRuleOrdersByMac() {
        QByteArray low = SearchReplyBytes(STAGE_REPLY, 9), high = SearchReplyBytes(STAGE_REPLY, 1);
        high[35] = 0x04;
        PanelRecord a, b;
        DecodeSearchReply(reinterpret_cast<const uint8_t*>(low.constData()), int(low.size()), a);
        DecodeSearchReply(reinterpret_cast<const uint8_t*>(high.constData()), int(high.size()), b);
        QVERIFY(PanelOrder{}(a, b));
        QVERIFY(!PanelOrder{}(b, a));
    }

    // A write or card deletion leaves first by the route on which its panel answered (two
    // panels sharing a MAC each by their own); a search, or a panel never heard, takes the
    // routes in their usual order.
    void requestsLeaveFirstByTheirPanelsRoute_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("panel"); // 0: none (a search)
        QTest::addColumn<QString>("firstRoute");
        QTest::newRow("write") << int{CMD_WRITE} << 1 << "10.84.0.1";
        QTest::newRow("card deletion, same MAC, other panel")
            << int{CMD_DELETE_CARDS} << 2 << "192.168.1.5";
        QTest::newRow("panel never heard") << int{CMD_WRITE} << 3 << "";
        QTest::newRow("search") << int{CMD_SEARCH} << 0 << "";
    }
    void requestsLeaveFirstByTheirPanelsRoute() {
        QFETCH(int, command);
        QFETCH(int, panel);
        QFETCH(QString, firstRoute);
        Engine e;
        TUDPR endpoint; // never opened: only the address it names during a dispatch is read
        e.Dispatcher.ReadArrivalsFrom(&endpoint);
        e.Queue.UseRoutes(&e.Dispatcher.Routes());
        const std::pair<int, const char*> heard[] = {
            {1, "10.83.0.1"}, {2, "192.168.1.5"}, {1, "10.84.0.1"}}; // the latest counts
        for (const auto& [number, via] : heard) {
            std::snprintf(endpoint.LocalAddress, sizeof endpoint.LocalAddress, "%s", via);
            Deliver(e.Dispatcher, SearchReplyBytes(STAGE_REPLY, number));
        }
        const QByteArray reply = SearchReplyBytes(STAGE_REPLY, panel);
        DecodeSearchReply(reinterpret_cast<const uint8_t*>(reply.constData()), int(reply.size()),
                          e.Directory->Records[0]);
        e.Queue.Queue(uint8_t(command), CommandQueue::DestinationPort, panel == 0 ? -1 : 0,
                      *e.Directory, e.Pending);
        QVERIFY(e.Link.WaitForCount(1));
        QCOMPARE(e.Link.At(0).FirstRoute, firstRoute);
    }

    void dropsEverythingUntilArmed() {
        Engine e(false);
        Deliver(e.Dispatcher, HeaderOnly(0xFE, 2));
        Deliver(e.Dispatcher, SearchReplyBytes(0, 42));
        QVERIFY(e.Drained().isEmpty());
        e.Dispatcher.Arm();
        Deliver(e.Dispatcher, HeaderOnly(0x36, 2));
        QCOMPARE(e.Drained(), QStringList({"status:Del Success", Enable}));
    }

    void directoryHoldsAHundredPanels() {
        Engine e;
        for (int i = 0; i < DirectoryCapacity; ++i)
            Deliver(e.Dispatcher, SearchReplyBytes(2, i));
        const QStringList full = e.Drained();
        QCOMPARE(full.size(), 3 * DirectoryCapacity);
        QCOMPARE(e.Sink.Panels.size(), size_t(DirectoryCapacity));
        for (int i = 0; i < DirectoryCapacity; ++i)
            QCOMPARE(e.Sink.Panels[static_cast<size_t>(i)].Ip[3], uint8_t(i));

        // The 101st reply changes nothing: no record, no status text, no buttons.
        Deliver(e.Dispatcher, SearchReplyBytes(2, 100));
        Deliver(e.Dispatcher, SearchReplyBytes(0, 101));
        QCOMPARE(e.Drained(), full);

        // A new search counts from zero again.
        e.Mailbox->ResetDirectory(e.Sink);
        Deliver(e.Dispatcher, SearchReplyBytes(2, 102));
        QCOMPARE(e.Drained().mid(full.size()),
                 QStringList({"panel:H00000001021", "status:Search success", Enable}));
    }

    void storesTheReplyFieldsAndCutsTheIdentityAtAZero() {
        Engine e;
        Deliver(e.Dispatcher, SearchReplyBytes(2, 42,
                                               "H12\0"
                                               "4567890"
                                               "1"));
        QCOMPARE(e.Drained(), QStringList({"panel:H12", "status:Search success", Enable}));
        QCOMPARE(e.Sink.Panels.size(), size_t(1));
        const PanelRecord& r = e.Sink.Panels[0];
        QCOMPARE(r.Terminator, '\0');
        QCOMPARE(QByteArray(r.Address, 10), QByteArray("12\0"
                                                       "4567890",
                                                       10));
        QCOMPARE(r.Facility, '1');
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(r.Mac), 6),
                 QByteArray("\x00\x50\x2A\x01\x02\x03", 6));
        QCOMPARE(r.Ip[0], uint8_t(192));
        QCOMPARE(r.Ip[3], uint8_t(42));
        QCOMPARE(QByteArray(r.Version, static_cast<int>(strnlen(r.Version, sizeof r.Version))),
                 QByteArray("V1.4.2"));
        QCOMPARE(r.UnlockTime, uint8_t(5));
    }
};

QTEST_GUILESS_MAIN(ReplyDispatcherTest)
#include "tst_replydispatcher.moc"
