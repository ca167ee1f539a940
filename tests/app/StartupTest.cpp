// Start-up of the endpoint for a window, and what the endpoint hands the window before and
// after it is shown. Sends only to 127.0.0.1 inside the private test network.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <chrono>
#include <cstring>
#include <memory>
#include <semaphore>

#include "EndpointLink.h"
#include "MessageFormat.h"
#include "Startup.h"
#include "Unit1.h"

namespace {

// A UDP socket of the test; closed with the test.
struct TestSocket {
    int Fd = socket(AF_INET, SOCK_DGRAM, 0);
    ~TestSocket() {
        if (Fd >= 0) close(Fd);
    }
    bool Bind(const char* address, int port) {
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, address, &local.sin_addr);
        return bind(Fd, reinterpret_cast<const sockaddr*>(&local), sizeof local) == 0;
    }
    void SendToTool(const QByteArray& datagram) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(Startup::Port);
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        sendto(Fd, datagram.constData(), static_cast<size_t>(datagram.size()), 0,
               reinterpret_cast<const sockaddr*>(&to), sizeof to);
    }
};

// Type letter, ten address digits, facility digit.
QByteArray IdentityOf(int n) {
    return "F" + QByteArray::number(n).rightJustified(10, '0') + "0";
}

// A search reply of panel n, 512 bytes as panels send it: identity "F<10 digits>0",
// IP 10.1.n/256.n%256.
QByteArray SearchReplyOf(int n) {
    QByteArray datagram(MessageSize, '\0');
    auto* bytes = reinterpret_cast<uint8_t*>(datagram.data());
    std::memcpy(bytes, Signature, SignatureLength);
    bytes[MessageHeader::CommandAt] = CMD_SEARCH;
    bytes[MessageHeader::StageAt] = STAGE_REPLY;
    std::memcpy(bytes + SearchReply::BlockAt + PanelBlock::IdentityAt, IdentityOf(n).constData(),
                PanelIdentityLength);
    uint8_t* ip = bytes + SearchReply::BlockAt + PanelBlock::IpAt;
    ip[0] = 10;
    ip[1] = 1;
    ip[2] = static_cast<uint8_t>(n / 256);
    ip[3] = static_cast<uint8_t>(n % 256);
    std::memcpy(bytes + SearchReply::VersionAt, "V2.1", 4);
    bytes[SearchReply::UnlockTimeAt] = 3;
    return datagram;
}

QString LineOf(int n) {
    return QStringLiteral("%1 - 10.1.%2.%3")
        .arg(QLatin1String(IdentityOf(n)))
        .arg(n / 256)
        .arg(n % 256);
}

// Lets the test act while the sender thread sleeps after its transmission, holding the lock.
class WatchedLink final : public Transmitter {
  public:
    explicit WatchedLink(Transmitter& real) : Real(real) {}
    void Transmit(const char* address, int port, const uint8_t* data, int length,
                  const char* firstRoute) override {
        Real.Transmit(address, port, data, length, firstRoute);
        Transmitted.release();
    }
    std::counting_semaphore<1024> Transmitted{0};

  private:
    Transmitter& Real;
};

// Window and endpoint, taken down as the program does: close, window, endpoint.
struct Tool {
    std::unique_ptr<TUDPR> Endpoint;
    std::unique_ptr<TForm1> Window = std::make_unique<TForm1>();
    ~Tool() {
        if (Window->isVisible())
            Window->close();
        else if (Endpoint)
            Endpoint->Close(); // never shown: only the receiver runs
        Window.reset();
        Endpoint.reset();
    }
};

} // namespace

class StartupTest : public QObject {
    Q_OBJECT
  private slots:
    void openEndpoint_data();
    void openEndpoint();
    void repliesBeforeShowAreDropped();
    void repliesWaitingForTheLockAreKept_data();
    void repliesWaitingForTheLockAreKept();
};

void StartupTest::openEndpoint_data() {
    QTest::addColumn<QString>("holder");
    QTest::addColumn<bool>("opens");
    QTest::newRow("port free") << QString() << true;
    QTest::newRow("held on every address") << QStringLiteral("0.0.0.0") << false;
    QTest::newRow("held on loopback only") << QStringLiteral("127.0.0.1") << false;
    QTest::newRow("held by a first copy of the tool") << QStringLiteral("tool") << false;
}

void StartupTest::openEndpoint() {
    QFETCH(QString, holder);
    QFETCH(bool, opens);

    TestSocket other;
    Tool first;
    if (holder == QLatin1String("tool")) {
        first.Endpoint.reset(Startup::OpenEndpoint(*first.Window));
        QVERIFY(first.Endpoint);
    } else if (!holder.isEmpty()) {
        QVERIFY(other.Bind(holder.toLatin1().constData(), Startup::Port));
    }

    Tool tool;
    tool.Endpoint.reset(Startup::OpenEndpoint(*tool.Window));
    QCOMPARE(bool(tool.Endpoint), opens);
    QVERIFY(!tool.Window->isVisible());
    if (opens) {
        QCOMPARE(tool.Window->Udpr, tool.Endpoint.get());
        QCOMPARE(tool.Endpoint->Handler, static_cast<DatagramHandler*>(&tool.Window->Dispatcher));
        QVERIFY(tool.Window->Link != nullptr);
    } else {
        // Nothing may point at an endpoint that was never opened.
        QCOMPARE(tool.Window->Udpr, nullptr);
        QCOMPARE(tool.Window->Link, nullptr);
    }
}

void StartupTest::repliesBeforeShowAreDropped() {
    Tool tool;
    tool.Endpoint.reset(Startup::OpenEndpoint(*tool.Window));
    QVERIFY(tool.Endpoint);

    TestSocket panel;
    panel.SendToTool(SearchReplyOf(1));
    // The receiver takes it at once; give it ample time to hand it to the unarmed dispatcher.
    QTest::qWait(500);

    tool.Window->show();
    QVERIFY(QTest::qWaitForWindowExposed(tool.Window.get()));
    panel.SendToTool(SearchReplyOf(2));

    QTRY_COMPARE_WITH_TIMEOUT(tool.Window->ListBox1->count(), 1, 10000);
    QCOMPARE(tool.Window->ListBox1->item(0)->text(), LineOf(2));
    QTRY_COMPARE(tool.Window->Label11->text(), QStringLiteral("Search success"));
}

void StartupTest::repliesWaitingForTheLockAreKept_data() {
    QTest::addColumn<int>("panels");
    QTest::newRow("one panel") << 1;
    QTest::newRow("ten panels") << 10;
    QTest::newRow("a full directory") << DirectoryCapacity;
}

// While the sender thread sleeps after a search with the lock held, the receiver waits for it
// on the first reply; the others must wait in the socket's receive buffer, not be dropped.
void StartupTest::repliesWaitingForTheLockAreKept() {
    QFETCH(int, panels);

    Tool tool;
    tool.Endpoint.reset(Startup::OpenEndpoint(*tool.Window));
    QVERIFY(tool.Endpoint);
    WatchedLink link(*tool.Window->Link);
    tool.Window->Link = &link;
    tool.Window->show();
    QVERIFY(QTest::qWaitForWindowExposed(tool.Window.get()));
    QTRY_COMPARE(tool.Window->Label11->text(), QString());

    QTest::mouseClick(tool.Window->Button2, Qt::LeftButton);
    QVERIFY(link.Transmitted.try_acquire_for(std::chrono::seconds(10)));

    TestSocket panel;
    for (int n = 1; n <= panels; ++n)
        panel.SendToTool(SearchReplyOf(n));

    QTRY_COMPARE_WITH_TIMEOUT(tool.Window->ListBox1->count(), panels, 20000);
    for (int n = 1; n <= panels; ++n)
        QCOMPARE(tool.Window->ListBox1->item(n - 1)->text(), LineOf(n));
    QTRY_COMPARE(tool.Window->Label11->text(), QStringLiteral("Search success"));
    QVERIFY(tool.Window->Button1->isEnabled());
    QVERIFY(tool.Window->Button2->isEnabled());
}

QTEST_MAIN(StartupTest)
#include "StartupTest.moc"
