// The command queue and its sender thread, with a transmitter that records instead of sending.
#include <QtTest>

#include <cstring>
#include <memory>
#include <thread>

#include "CommandQueue.h"
#include "ProtocolFakes.h"
#include "StatusTexts.h"

namespace {

std::tm ThirdAt090507() {
    std::tm t{};
    t.tm_year = 2024 - 1900;
    t.tm_mday = 3;
    t.tm_hour = 9;
    t.tm_min = 5;
    t.tm_sec = 7;
    return t;
}

// One engine with a panel in slot 3 and a fixed clock.
struct Engine : QueueRig {
    Engine() {
        Queue.SetClock(&ThirdAt090507);
        Directory->Records[3] =
            MakeRecord("H0102030405"
                       "1",
                       {0, 0x50, 0x2A, 1, 2, 3}, {192, 168, 1, 20}, {255, 255, 255, 0},
                       {192, 168, 1, 1}, {192, 168, 1, 9}, "V1", 0x11, 6);
        Directory->Count = 4;
        Pending = Directory->Records[3];
        Pending.Ip[3] = 30;
        Pending.Spare = 0x42;
        Pending.UnlockTime = '8';
    }
};

// The 512 bytes the engine's request must have, written out from the message layouts.
QByteArray ExpectedRequest(int command) {
    const QByteArray identity = "H01020304051";
    const QByteArray mac("\x00\x50\x2A\x01\x02\x03", 6);
    const QByteArray subnet("\xFF\xFF\xFF\x00", 4);
    const QByteArray gateway("\xC0\xA8\x01\x01", 4), server("\xC0\xA8\x01\x09", 4);
    QByteArray bytes = "XXXCID";
    if (command == CMD_SEARCH) bytes += QByteArray("\xFC\x01\x00\x00", 4);
    if (command == CMD_WRITE) {
        bytes += QByteArray("\xFE\x01\x00\x00", 4);
        // The selected record as reported, then the pending settings (IP ending in 30).
        bytes += identity + QByteArray(8, '\0') + mac + QByteArray("\xC0\xA8\x01\x14", 4) + subnet +
                 gateway + server;
        bytes += identity + QByteArray(8, '\0') + mac + QByteArray("\xC0\xA8\x01\x1E", 4) + subnet +
                 gateway + server;
        bytes += QByteArray("\x00\x08", 2); // spare 0, unlocking time '8' as 8 seconds
    }
    if (command == CMD_DELETE_CARDS) {
        bytes += QByteArray("\x36\x01", 2) + identity + QByteArray(8, '\0');
        bytes += QByteArray("\x03\x09\x05\x07", 4); // day 3, 09:05:07
        bytes += QByteArray(8, '\0') + QByteArray("\x01\x00\x00\x00\x01\x00\x00\x00", 8);
    }
    return bytes + QByteArray(MessageSize - int(bytes.size()), '\0');
}

QStringList FaultLog(const char* text) {
    return {QStringLiteral("status:") + text, "enable"};
}

} // namespace

class CommandQueueTest : public QObject {
    Q_OBJECT

  private slots:
    void transmitsOnceThenGivesUp_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("length");
        QTest::addColumn<QString>("fault");
        QTest::newRow("search") << int(CMD_SEARCH) << 10 << QString(StatusText::ReadFault);
        QTest::newRow("write") << int(CMD_WRITE) << 96 << QString(StatusText::WriteFault);
        QTest::newRow("delete cards")
            << int(CMD_DELETE_CARDS) << 72 << QString(StatusText::WriteFault);
    }

    void transmitsOnceThenGivesUp() {
        QFETCH(int, command);
        QFETCH(int, length);
        QFETCH(QString, fault);
        Engine e;
        QVERIFY(e.Queue.Setup(e.Link, *e.Mailbox));
        QCOMPARE(QByteArray(e.Queue.SignatureCopy()), QByteArray("XXXCID"));

        e.Queue.Queue(static_cast<uint8_t>(command), 8300, 3, *e.Directory, e.Pending);
        // The fault text comes first, then the buttons.
        QTRY_COMPARE_WITH_TIMEOUT(e.Drained(), FaultLog(fault.toUtf8().constData()), 5000);
        QTest::qWait(300); // room for a second transmission that must not come
        QCOMPARE(e.Link.Count(), 1);
        QCOMPARE(e.Drained().size(), 2);
        QCOMPARE(e.Queue.ActiveSlots(), 0);

        const RecordingTransmitter::Datagram sent = e.Link.At(0);
        QCOMPARE(sent.Address, QStringLiteral("255.255.255.255"));
        QCOMPARE(sent.Port, 8300);
        QCOMPARE(sent.Length, length);
        QCOMPARE(sent.Bytes, ExpectedRequest(command));
        if (command == CMD_WRITE) {
            QCOMPARE(e.Pending.Spare, uint8_t(0));
            QCOMPARE(e.Pending.UnlockTime, uint8_t('8'));
        }
    }

    void refusesSelectionOutsideTheDirectory_data() {
        QTest::addColumn<int>("command");
        QTest::addColumn<int>("index");
        QTest::newRow("write, none selected") << int(CMD_WRITE) << -1;
        QTest::newRow("write, 100") << int(CMD_WRITE) << 100;
        QTest::newRow("delete cards, none selected") << int(CMD_DELETE_CARDS) << -1;
        QTest::newRow("delete cards, 100") << int(CMD_DELETE_CARDS) << 100;
    }

    void refusesSelectionOutsideTheDirectory() {
        QFETCH(int, command);
        QFETCH(int, index);
        Engine e;
        QVERIFY(e.Queue.Setup(e.Link, *e.Mailbox));
        e.Queue.Queue(static_cast<uint8_t>(command), 8300, index, *e.Directory, e.Pending);
        // A search queued behind it shows what reached the slots: had the refused command
        // been queued, it would be sent first.
        e.Queue.Queue(CMD_SEARCH, 8300, -1, *e.Directory, e.Pending);
        QTRY_COMPARE_WITH_TIMEOUT(e.Drained(), FaultLog(StatusText::ReadFault), 5000);
        QCOMPARE(e.Link.Count(), 1);
        QCOMPARE(uint8_t(e.Link.At(0).Bytes[6]), CMD_SEARCH);
    }

    void commandsQueuedDuringAPassAreEachSentOnce() {
        Engine e;
        QVERIFY(e.Queue.Setup(e.Link, *e.Mailbox));
        // The second and third queue calls wait for the lock while a pass runs.
        e.Queue.Queue(CMD_SEARCH, 8300, -1, *e.Directory, e.Pending);
        e.Queue.Queue(CMD_WRITE, 8300, 3, *e.Directory, e.Pending);
        e.Queue.Queue(CMD_DELETE_CARDS, 8300, 3, *e.Directory, e.Pending);
        const QStringList expected = FaultLog(StatusText::ReadFault) +
                                     FaultLog(StatusText::WriteFault) +
                                     FaultLog(StatusText::WriteFault);
        QTRY_COMPARE_WITH_TIMEOUT(e.Drained(), expected, 5000);
        QTest::qWait(300);
        QCOMPARE(e.Link.Count(), 3);
        QCOMPARE(uint8_t(e.Link.At(0).Bytes[6]), CMD_SEARCH);
        QCOMPARE(uint8_t(e.Link.At(1).Bytes[6]), CMD_WRITE);
        QCOMPARE(uint8_t(e.Link.At(2).Bytes[6]), CMD_DELETE_CARDS);
    }

    void retireSparesACommandNotYetSent() {
        Engine e;
        QVERIFY(e.Queue.Setup(e.Link, *e.Mailbox));
        e.Queue.Stop(); // no pass can reach the slot
        e.Queue.Queue(CMD_WRITE, 8300, 3, *e.Directory, e.Pending);
        QCOMPARE(e.Queue.ActiveSlots(), 1);
        e.Queue.Retire();
        QCOMPARE(e.Queue.ActiveSlots(), 1);
    }

    void lateReplyLeavesTheNewerCommandToBeSent() {
        Engine e;
        QVERIFY(e.Queue.Setup(e.Link, *e.Mailbox));
        QStringList expected;
        for (int round = 0; round < 5; ++round) {
            e.Queue.Queue(CMD_SEARCH, 8300, -1, *e.Directory, e.Pending);
            // The reply to the previous round's command arrives late, right after this one
            // was queued and before the sender thread gets to it.
            e.Queue.Retire();
            expected += FaultLog(StatusText::ReadFault);
            QTRY_COMPARE_WITH_TIMEOUT(e.Drained(), expected, 5000);
            QCOMPARE(e.Link.Count(), round + 1);
        }
    }

    void dropsACommandWhenEverySlotIsActive() {
        Engine e;
        QVERIFY(e.Queue.Setup(e.Link, *e.Mailbox));
        e.Queue.Stop(); // keep every queued command active
        for (int i = 0; i < CommandQueue::SlotCount; ++i)
            e.Queue.Queue(CMD_SEARCH, 8300, -1, *e.Directory, e.Pending);
        QCOMPARE(e.Queue.ActiveSlots(), 100);
        e.Queue.Queue(CMD_SEARCH, 8300, -1, *e.Directory, e.Pending);
        e.Queue.Queue(CMD_DELETE_CARDS, 8300, 3, *e.Directory, e.Pending);
        QCOMPARE(e.Queue.ActiveSlots(), 100);
        QCOMPARE(e.Link.Count(), 0);
        QVERIFY(e.Drained().isEmpty());
    }

    void stopEndsASleepingPassAtOnce() {
        Engine e;
        QVERIFY(e.Queue.Setup(e.Link, *e.Mailbox));
        e.Queue.Queue(CMD_SEARCH, 8300, -1, *e.Directory, e.Pending);
        QVERIFY(e.Link.WaitForCount(1));
        // The pass now sleeps its 100 ms holding the lock. Stop wakes it and joins the thread,
        // so the command is never given up.
        e.Queue.Stop();
        QVERIFY(e.Drained().isEmpty());
        e.Queue.Stop(); // a second stop is harmless
        QCOMPARE(e.Link.Count(), 1);
        QCOMPARE(e.Queue.ActiveSlots(), 1);
    }

    void stopEndsAnIdleSenderThread() {
        Engine e;
        QVERIFY(e.Queue.Setup(e.Link, *e.Mailbox));
        e.Queue.Stop();
        // Nothing is sent after the stop: the thread is gone.
        e.Queue.Queue(CMD_SEARCH, 8300, -1, *e.Directory, e.Pending);
        QTest::qWait(300);
        QCOMPARE(e.Link.Count(), 0);
        QVERIFY(e.Drained().isEmpty());
    }
};

QTEST_GUILESS_MAIN(CommandQueueTest)
#include "tst_commandqueue.moc"
