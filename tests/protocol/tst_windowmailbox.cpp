// The road from the sender and receiver threads to the window thread.
#include <QtTest>

#include <poll.h>

#include <atomic>
#include <memory>
#include <thread>

#include "ProtocolFakes.h"
#include "WindowMailbox.h"

namespace {

constexpr int ReceiverPosts = 6000; // more than the ring holds: the receiver must wait
constexpr int SenderPosts = 1500;
char ReceiverTexts[ReceiverPosts];
char SenderTexts[SenderPosts];
char FillTexts[WindowMailbox::Capacity + 1];

bool Readable(int fd, int timeoutMs) {
    pollfd p{fd, POLLIN, 0};
    return poll(&p, 1, timeoutMs) > 0;
}

PanelRecord Numbered(int n) {
    char identity[24];
    std::snprintf(identity, sizeof identity, "H%010d1", n);
    return MakeRecord(identity, {0, 0x50, 0x2A, 0, 0, n & 0xFF}, {10, 0, 0, n & 0xFF}, {}, {}, {},
                      "", 0, 5);
}

// On the way out of a test, failed or not: free any waiting poster and join.
struct Joiner {
    WindowMailbox& Mailbox;
    std::thread& Thread;
    ~Joiner() {
        Mailbox.Close();
        if (Thread.joinable()) Thread.join();
    }
};

// Fills the ring the way the sender thread would, leaving `free` entries.
void FillLeaving(WindowMailbox& mailbox, int free) {
    for (int i = 0; i < WindowMailbox::Capacity - free; ++i)
        mailbox.PostStatus(&FillTexts[i], false);
}

} // namespace

class WindowMailboxTest : public QObject {
    Q_OBJECT

  private slots:
    void keepsEachThreadsOrderAndWakesTheWindow() {
        auto mailbox = std::make_unique<WindowMailbox>();
        RecordingSink sink;
        std::thread receiver([&] {
            for (int i = 0; i < ReceiverPosts; ++i)
                mailbox->PostStatus(&ReceiverTexts[i], true);
        });
        std::thread sender([&] {
            for (int i = 0; i < SenderPosts; ++i)
                mailbox->PostStatus(&SenderTexts[i], false);
        });
        Joiner joinReceiver{*mailbox, receiver};
        Joiner joinSender{*mailbox, sender};

        int received = 0;
        int lastSender = -1;
        int fromSender = 0;
        size_t seen = 0;
        while (received < ReceiverPosts) {
            // Only the wake fd tells the window thread to drain: a lost wake stalls here.
            QVERIFY2(Readable(mailbox->WakeFd(), 10000), "changes pending but no wake");
            mailbox->Drain(sink);
            for (; seen < sink.Texts.size(); ++seen) {
                const char* text = sink.Texts[seen];
                if (text >= ReceiverTexts && text < ReceiverTexts + ReceiverPosts) {
                    QCOMPARE(static_cast<int>(text - ReceiverTexts), received);
                    ++received;
                } else {
                    const int n = static_cast<int>(text - SenderTexts);
                    QVERIFY(n > lastSender && n < SenderPosts);
                    lastSender = n;
                    ++fromSender;
                }
            }
        }
        receiver.join();
        sender.join();
        mailbox->Drain(sink);
        for (; seen < sink.Texts.size(); ++seen) {
            const int n = static_cast<int>(sink.Texts[seen] - SenderTexts);
            QVERIFY(n > lastSender && n < SenderPosts);
            lastSender = n;
            ++fromSender;
        }
        QCOMPARE(received, ReceiverPosts);
        QVERIFY(fromSender > 0); // the sender may lose changes only to a full ring
    }

    void senderDropsOnlyWhenFull() {
        auto mailbox = std::make_unique<WindowMailbox>();
        std::atomic<bool> done{false};
        std::thread sender([&] {
            for (int i = 0; i <= WindowMailbox::Capacity; ++i) // one more than fits
                mailbox->PostStatus(&FillTexts[i], false);
            done = true;
        });
        Joiner join{*mailbox, sender};
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000); // never waited for the window
        sender.join();
        RecordingSink sink;
        mailbox->Drain(sink);
        QCOMPARE(static_cast<int>(sink.Texts.size()), WindowMailbox::Capacity);
        for (int i = 0; i < WindowMailbox::Capacity; ++i)
            QCOMPARE(sink.Texts[static_cast<size_t>(i)], &FillTexts[i]);
    }

    void receiverKeepsTheSendersReserve_data() {
        QTest::addColumn<int>("free");
        QTest::addColumn<bool>("panel");
        QTest::addColumn<bool>("waits");
        QTest::newRow("status, reserve free") << WindowMailbox::SenderReserve << false << false;
        QTest::newRow("status, one short") << WindowMailbox::SenderReserve - 1 << false << true;
        QTest::newRow("panel, reserve free") << WindowMailbox::SenderReserve << true << false;
        QTest::newRow("panel, one short") << WindowMailbox::SenderReserve - 1 << true << true;
    }

    void receiverKeepsTheSendersReserve() {
        QFETCH(int, free);
        QFETCH(bool, panel);
        QFETCH(bool, waits);
        auto mailbox = std::make_unique<WindowMailbox>();
        FillLeaving(*mailbox, free);
        std::atomic<bool> done{false};
        std::atomic<bool> accepted{true};
        std::thread receiver([&] {
            if (panel)
                accepted = mailbox->PostPanel(Numbered(7));
            else
                mailbox->PostStatus(StatusTextForTest, true);
            done = true;
        });
        Joiner join{*mailbox, receiver};
        if (waits) {
            QTest::qWait(100);
            QVERIFY(!done.load());
        }
        RecordingSink sink;
        if (!waits) QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
        mailbox->Drain(sink);
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
        receiver.join();
        QVERIFY(accepted.load());
        mailbox->Drain(sink);
        QCOMPARE(static_cast<int>(sink.Log.size()), WindowMailbox::Capacity - free + 1);
        QCOMPARE(sink.Log.last(), panel ? QStringLiteral("panel:H00000000071")
                                        : QStringLiteral("status:") + StatusTextForTest);
    }

    void closeWakesAWaitingPoster() {
        auto mailbox = std::make_unique<WindowMailbox>();
        FillLeaving(*mailbox, WindowMailbox::SenderReserve - 1);
        std::atomic<bool> done{false};
        std::thread receiver([&] {
            mailbox->PostStatus(StatusTextForTest, true);
            done = true;
        });
        Joiner join{*mailbox, receiver};
        QTest::qWait(50);
        QVERIFY(!done.load());
        mailbox->Close();
        QTRY_VERIFY_WITH_TIMEOUT(done.load(), 5000);
        receiver.join();

        mailbox->PostStatus(StatusTextForTest, false);
        mailbox->PostEnableButtons(true);
        QVERIFY(!mailbox->PostPanel(Numbered(1)));
        RecordingSink sink;
        mailbox->Drain(sink);
        // What was queued before the close still arrives; nothing after it.
        QCOMPARE(static_cast<int>(sink.Log.size()),
                 WindowMailbox::Capacity - WindowMailbox::SenderReserve + 1);
        QVERIFY(!sink.Log.contains(QStringLiteral("status:") + StatusTextForTest));
    }

    void panelCapAndResetDirectory_data() {
        QTest::addColumn<bool>("drainedBeforeReset");
        QTest::newRow("panels still pending") << false;
        QTest::newRow("panels already applied") << true;
    }

    void panelCapAndResetDirectory() {
        QFETCH(bool, drainedBeforeReset);
        auto mailbox = std::make_unique<WindowMailbox>();
        RecordingSink sink;
        for (int i = 0; i < DirectoryCapacity; ++i)
            QVERIFY(mailbox->PostPanel(Numbered(i)));
        // Panels still on their way count: the 101st is refused and posts nothing.
        QVERIFY(!mailbox->PostPanel(Numbered(100)));
        mailbox->PostStatus(StatusTextForTest, true);
        if (drainedBeforeReset) mailbox->Drain(sink);

        mailbox->ResetDirectory(sink);
        // The old search's changes are applied before the reset returns, in order.
        QCOMPARE(sink.Panels.size(), size_t(DirectoryCapacity));
        for (int i = 0; i < DirectoryCapacity; ++i)
            QCOMPARE(sink.Panels[static_cast<size_t>(i)].Ip[3], uint8_t(i));
        QCOMPARE(sink.Log.last(), QStringLiteral("status:") + StatusTextForTest);
        QVERIFY(!Readable(mailbox->WakeFd(), 0));

        QVERIFY(mailbox->PostPanel(Numbered(200)));
        QVERIFY(Readable(mailbox->WakeFd(), 0));
        mailbox->Drain(sink);
        QCOMPARE(sink.Log.last(), QStringLiteral("panel:H00000002001"));
    }

    // Replies as they reach the receiver, each written 10 * MAC + variant (0: the panel's
    // record; 1: same MAC, another IP address; 2: same MAC and IP, another unlocking time);
    // which of them the window gets.
    void oneLinePerPanel_data() {
        QTest::addColumn<bool>("oneLinePerPanel");
        QTest::addColumn<QList<int>>("replies");
        QTest::addColumn<QList<int>>("posted");
        QTest::newRow("one route: every reply listed")
            << false << QList<int>{10, 20, 10, 20} << QList<int>{10, 20, 10, 20};
        QTest::newRow("two routes: each panel once, in order of its first reply")
            << true << QList<int>{10, 20, 20, 30, 10, 30} << QList<int>{10, 20, 30};
        QTest::newRow("two routes: panels sharing a MAC keep a line each")
            << true << QList<int>{10, 11, 10, 11} << QList<int>{10, 11};
        QTest::newRow("two routes: sharing MAC and IP address, a line each")
            << true << QList<int>{10, 12, 12, 10} << QList<int>{10, 12};
    }

    void oneLinePerPanel() {
        QFETCH(bool, oneLinePerPanel);
        QFETCH(QList<int>, replies);
        QFETCH(QList<int>, posted);
        const auto reply = [](int code) {
            PanelRecord r = Numbered(code / 10);
            if (code % 10 == 1) r.Ip[3] ^= 0x80;
            if (code % 10 == 2) r.UnlockTime = 9;
            return r;
        };
        const auto codeOf = [](const PanelRecord& r) {
            return r.Mac[5] * 10 + ((r.Ip[3] & 0x80) != 0 ? 1 : r.UnlockTime == 9 ? 2 : 0);
        };
        auto mailbox = std::make_unique<WindowMailbox>();
        RecordingSink sink;
        // A previous search's panel does not hold its place against the new one.
        QVERIFY(mailbox->PostPanel(reply(replies[0])));
        mailbox->ResetDirectory(sink, oneLinePerPanel);
        sink.Panels.clear();
        QList<int> accepted;
        for (int code : replies)
            if (mailbox->PostPanel(reply(code))) accepted << code;
        QCOMPARE(accepted, posted); // a refused reply posts nothing, so no status text either
        mailbox->Drain(sink);
        QList<int> got;
        for (const PanelRecord& p : sink.Panels)
            got << codeOf(p);
        QCOMPARE(got, posted);
    }

    // Sixty panels that each answer two subnets fill sixty lines, not a hundred with duplicates.
    void duplicatesDoNotTakeRoom() {
        auto mailbox = std::make_unique<WindowMailbox>();
        RecordingSink sink;
        mailbox->ResetDirectory(sink, true);
        for (int copy = 0; copy < 2; ++copy)
            for (int i = 0; i < 60; ++i)
                mailbox->PostPanel(Numbered(i));
        for (int i = 60; i < 100; ++i)
            QVERIFY(mailbox->PostPanel(Numbered(i)));
        QVERIFY(!mailbox->PostPanel(Numbered(100)));
        mailbox->Drain(sink);
        QCOMPARE(sink.Panels.size(), size_t(DirectoryCapacity));
        for (int i = 0; i < DirectoryCapacity; ++i)
            QCOMPARE(sink.Panels[static_cast<size_t>(i)].Mac[5], uint8_t(i));
    }

    void wakeFdFollowsPendingChanges() {
        auto mailbox = std::make_unique<WindowMailbox>();
        QVERIFY(mailbox->WakeFd() >= 0);
        QVERIFY(!Readable(mailbox->WakeFd(), 0));
        mailbox->PostEnableButtons(false);
        mailbox->PostEnableButtons(true);
        QVERIFY(Readable(mailbox->WakeFd(), 0));
        RecordingSink sink;
        mailbox->Drain(sink);
        QCOMPARE(sink.Log, QStringList({"enable", "enable"}));
        QVERIFY(!Readable(mailbox->WakeFd(), 0));
        mailbox->PostEnableButtons(false);
        QVERIFY(Readable(mailbox->WakeFd(), 0));
    }

  private:
    static constexpr const char* StatusTextForTest = "from the receiver";
};

QTEST_GUILESS_MAIN(WindowMailboxTest)
#include "tst_windowmailbox.moc"
