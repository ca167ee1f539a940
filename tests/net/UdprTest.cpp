// The UDP endpoint on a real socket. Runs only inside the private test network
// (tools/testnet.sh); anywhere else it skips without sending anything.
#include "Udpr.h"

#include "NamespaceSocket.h"

#include <QCoreApplication>
#include <QStringList>
#include <QTest>

#include <arpa/inet.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <future>
#include <map>
#include <mutex>
#include <optional>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int Port = TUDPR::DispatchPort;
constexpr int Timeout = 5000;

using Bytes = std::vector<uint8_t>;

std::string env(const char* name) {
    const char* value = std::getenv(name);
    return value ? value : "";
}

std::vector<std::string> envList(const char* name) {
    std::vector<std::string> items;
    std::istringstream in(env(name));
    for (std::string item; in >> item;)
        items.push_back(item);
    return items;
}

// True only when this process really runs in the test network's tool namespace.
bool inToolNamespace() {
    const std::string ns = env("TESTNET_TOOL_NS");
    if (ns.empty() || ns.find('/') != std::string::npos) return false;
    struct stat self {
    }, tool{};
    if (stat("/proc/self/ns/net", &self) != 0) return false;
    if (stat(("/run/netns/" + ns).c_str(), &tool) != 0) return false;
    return self.st_dev == tool.st_dev && self.st_ino == tool.st_ino;
}

Bytes pattern(int length, int seed = 0) {
    Bytes bytes(static_cast<size_t>(length));
    for (int i = 0; i < length; ++i)
        bytes[static_cast<size_t>(i)] = static_cast<uint8_t>((i + seed) % 251 + 1); // never 0
    return bytes;
}

struct Received {
    std::string address;
    unsigned port = 0;
    int length = 0;
    Bytes bytes; // length bytes and the one after them
    pid_t thread = 0;
    std::string local; // the endpoint's LocalAddress during the call
};

class Recorder final : public DatagramHandler {
  public:
    void Dispatch(const char* sourceAddress, unsigned sourcePort, const uint8_t* data,
                  int length) override {
        Received r{sourceAddress, sourcePort,
                   length,        Bytes(data, data + length + 1),
                   gettid(),      Of != nullptr ? Of->LocalAddress : ""};
        std::lock_guard<std::mutex> guard(Lock);
        Calls.push_back(std::move(r));
    }
    int count() {
        std::lock_guard<std::mutex> guard(Lock);
        return static_cast<int>(Calls.size());
    }
    std::vector<Received> calls() {
        std::lock_guard<std::mutex> guard(Lock);
        return Calls;
    }
    bool has(const Bytes& payload) {
        std::lock_guard<std::mutex> guard(Lock);
        for (const Received& r : Calls)
            if (Bytes(r.bytes.begin(), r.bytes.begin() + r.length) == payload) return true;
        return false;
    }
    void clear() {
        std::lock_guard<std::mutex> guard(Lock);
        Calls.clear();
    }
    const TUDPR* Of = nullptr; // set before Open

  private:
    std::mutex Lock;
    std::vector<Received> Calls;
};

// Holds the receiver in its first call until released, so that the socket's buffer fills.
class HeldHandler final : public DatagramHandler {
  public:
    void Dispatch(const char*, unsigned, const uint8_t*, int) override {
        std::unique_lock<std::mutex> lock(Lock);
        Open.wait(lock, [this] { return Released; });
        ++Calls;
    }
    void release() {
        std::lock_guard<std::mutex> guard(Lock);
        Released = true;
        Open.notify_all();
    }
    int count() {
        std::lock_guard<std::mutex> guard(Lock);
        return Calls;
    }

  private:
    std::mutex Lock;
    std::condition_variable Open;
    bool Released = false;
    int Calls = 0;
};

// Spends `Delay` on every datagram, as a receiver on a busy computer falls behind.
class SlowHandler final : public DatagramHandler {
  public:
    explicit SlowHandler(std::chrono::milliseconds delay) : Delay(delay) {}
    void Dispatch(const char* sourceAddress, unsigned, const uint8_t*, int) override {
        std::this_thread::sleep_for(Delay);
        std::lock_guard<std::mutex> guard(Lock);
        Sources.emplace_back(sourceAddress);
    }
    std::vector<std::string> sources() {
        std::lock_guard<std::mutex> guard(Lock);
        return Sources;
    }

  private:
    const std::chrono::milliseconds Delay;
    std::mutex Lock;
    std::vector<std::string> Sources;
};

// A plain UDP socket created in another namespace of the test network (a stand-in panel).
class PeerSocket {
  public:
    PeerSocket(const std::string& ns, int port) {
        Fd = UdpSocketInNamespace(ns);
        if (Fd < 0) return;
        const int on = 1;
        setsockopt(Fd, SOL_SOCKET, SO_BROADCAST, &on, sizeof on);
        sockaddr_in local{};
        local.sin_family = AF_INET;
        local.sin_port = htons(static_cast<uint16_t>(port));
        socklen_t size = sizeof local;
        if (bind(Fd, reinterpret_cast<sockaddr*>(&local), size) != 0 ||
            getsockname(Fd, reinterpret_cast<sockaddr*>(&local), &size) != 0) {
            close(Fd);
            Fd = -1;
            return;
        }
        BoundPort = ntohs(local.sin_port);
    }
    ~PeerSocket() {
        if (Fd >= 0) close(Fd);
    }
    PeerSocket(const PeerSocket&) = delete;
    PeerSocket& operator=(const PeerSocket&) = delete;

    bool ok() const { return Fd >= 0; }
    int port() const { return BoundPort; }

    bool sendTo(const std::string& address, int port, const Bytes& data) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<uint16_t>(port));
        inet_pton(AF_INET, address.c_str(), &to.sin_addr);
        return sendto(Fd, data.data(), data.size(), 0, reinterpret_cast<sockaddr*>(&to),
                      sizeof to) == static_cast<ssize_t>(data.size());
    }

    struct Datagram {
        Bytes bytes;
        std::string address;
        int port = 0;
    };
    std::optional<Datagram> receive(int timeoutMs) {
        pollfd p{Fd, POLLIN, 0};
        if (poll(&p, 1, timeoutMs) != 1) return std::nullopt;
        Bytes buffer(65536);
        sockaddr_in from{};
        socklen_t size = sizeof from;
        const ssize_t n = recvfrom(Fd, buffer.data(), buffer.size(), MSG_TRUNC,
                                   reinterpret_cast<sockaddr*>(&from), &size);
        if (n < 0) return std::nullopt;
        buffer.resize(static_cast<size_t>(n));
        char text[INET_ADDRSTRLEN] = {};
        inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
        return Datagram{buffer, text, ntohs(from.sin_port)};
    }

  private:
    int Fd = -1;
    int BoundPort = 0;
};

void configure(TUDPR& endpoint, int localPort, Recorder* handler) {
    if (handler != nullptr) handler->Of = &endpoint;
    endpoint.LocalPort = localPort;
    endpoint.RemotePort = Port;
    endpoint.SendBufferSize = 32768;
    endpoint.ReceiveBufferSize = 8192;
    endpoint.RemoteAddress = "192.168.0.1";
    endpoint.Handler = handler;
}

// Close on another thread: a Close that never returns (receiver not woken) must fail the run,
// not hang it.
bool closeWithin(TUDPR& endpoint, std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    std::promise<bool> result;
    std::future<bool> done = result.get_future();
    std::thread closer([&] { result.set_value(endpoint.Close()); });
    if (done.wait_for(limit) != std::future_status::ready) {
        std::fprintf(stderr, "FAIL: Close did not return; the receiver thread was not woken\n");
        std::_Exit(1);
    }
    closer.join();
    return done.get();
}

// A datagram shaped like the endpoint's settle mark, from 127.0.0.1 on the endpoint's own port
// (which only a raw socket can send while the endpoint holds it), with a token that is not its.
bool sendForgedMark(uint64_t number) {
    const int fd = socket(AF_INET, SOCK_RAW, IPPROTO_UDP);
    if (fd < 0) return false;
    uint8_t datagram[8 + SettleMark::Length] = {};
    const uint16_t port = htons(Port), length = htons(sizeof datagram);
    std::memcpy(datagram + 0, &port, 2); // source port
    std::memcpy(datagram + 2, &port, 2); // destination port
    std::memcpy(datagram + 4, &length, 2);
    uint8_t* mark = datagram + 8; // checksum 0: none
    std::memcpy(mark, SettleMark::Tag, sizeof SettleMark::Tag);
    const uint64_t token = 0x0123456789ABCDEFu;
    std::memcpy(mark + SettleMark::TokenAt, &token, sizeof token);
    std::memcpy(mark + SettleMark::NumberAt, &number, sizeof number);
    sockaddr_in loopback{};
    loopback.sin_family = AF_INET;
    loopback.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    const bool sent =
        bind(fd, reinterpret_cast<sockaddr*>(&loopback), sizeof loopback) == 0 &&
        sendto(fd, datagram, sizeof datagram, 0, reinterpret_cast<sockaddr*>(&loopback),
               sizeof loopback) == ssize_t(sizeof datagram);
    close(fd);
    return sent;
}

// State letter of one of our threads in /proc ('S' sleeping, 'R' running), or 0 if it is gone.
char threadState(pid_t tid) {
    std::ifstream in("/proc/self/task/" + std::to_string(tid) + "/stat");
    std::string stat;
    if (!std::getline(in, stat)) return 0;
    const size_t close = stat.rfind(')');
    return close != std::string::npos && close + 2 < stat.size() ? stat[close + 2] : 0;
}

// Datagrams read off UDP sockets in this namespace so far (the kernel counts each receive).
long udpInDatagrams() {
    std::ifstream in("/proc/self/net/snmp");
    std::string names, values;
    while (std::getline(in, names)) {
        if (names.rfind("Udp:", 0) != 0) continue;
        std::getline(in, values);
        std::istringstream n(names), v(values);
        std::string name, value;
        while (n >> name && v >> value)
            if (name == "InDatagrams") return std::stol(value);
    }
    return -1;
}

} // namespace

class UdprTest : public QObject {
    Q_OBJECT

    std::string ToolIp;
    std::vector<std::string> PanelNs;
    std::vector<std::string> PanelIps;

  private slots:
    void initTestCase() {
        if (!inToolNamespace()) QSKIP("not inside the test network (tools/testnet.sh)");
        ToolIp = env("TESTNET_TOOL_IP");
        PanelNs = envList("TESTNET_PANEL_NS");
        PanelIps = envList("TESTNET_PANEL_IPS");
        QVERIFY(!ToolIp.empty());
        QVERIFY(!PanelNs.empty());
        QCOMPARE(PanelNs.size(), PanelIps.size());
    }

    // The tool's addresses on the segment of panel `i` (several when it has two interfaces
    // there); with a single segment, the one tool address.
    std::vector<std::string> toolIpsFacing(size_t i) {
        const std::vector<std::string> panelSegments = envList("TESTNET_PANEL_SEGMENTS");
        const std::vector<std::string> toolIps = envList("TESTNET_TOOL_IPS");
        const std::vector<std::string> toolSegments = envList("TESTNET_TOOL_SEGMENTS");
        if (panelSegments.size() != PanelNs.size() || toolIps.size() != toolSegments.size())
            return {ToolIp};
        std::vector<std::string> facing;
        for (size_t t = 0; t < toolIps.size(); ++t)
            if (toolSegments[t] == panelSegments[i]) facing.push_back(toolIps[t]);
        return facing;
    }

    // The handler learns by which of the tool's networks a datagram came in: the address a
    // unicast was sent to, or for a broadcast the tool's address on the sender's segment.
    void localAddress_data() {
        QTest::addColumn<bool>("broadcast");
        QTest::newRow("unicast") << false;
        QTest::newRow("255.255.255.255") << true;
    }
    void localAddress() {
        QFETCH(bool, broadcast);
        Recorder recorder;
        TUDPR endpoint;
        configure(endpoint, Port, &recorder);
        QVERIFY(endpoint.Open());
        for (size_t i = 0; i < PanelNs.size(); ++i) {
            const std::vector<std::string> facing = toolIpsFacing(i);
            QVERIFY(!facing.empty());
            PeerSocket panel(PanelNs[i], 0);
            QVERIFY(panel.ok());
            recorder.clear();
            const Bytes datagram = pattern(16, int(i));
            QVERIFY(panel.sendTo(broadcast ? "255.255.255.255" : facing.front(), Port, datagram));
            // A broadcast comes in once by each of the tool's interfaces on that segment; the
            // address given is the one that reaches the sender.
            const int copies = broadcast ? int(facing.size()) : 1;
            QTRY_COMPARE_WITH_TIMEOUT(recorder.count(), copies, Timeout);
            QTest::qWait(100); // and no more
            QCOMPARE(recorder.count(), copies);
            for (const Received& r : recorder.calls()) {
                QCOMPARE(r.address, PanelIps[i]);
                if (broadcast)
                    QVERIFY2(std::find(facing.begin(), facing.end(), r.local) != facing.end(),
                             r.local.c_str());
                else
                    QCOMPARE(r.local, facing.front());
            }
        }
        QVERIFY(closeWithin(endpoint));
    }

    void sendLength_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<int>("onWire");
        QTest::newRow("0") << 0 << 512;
        QTest::newRow("10") << 10 << 512;
        QTest::newRow("511") << 511 << 512;
        QTest::newRow("512") << 512 << 512;
        QTest::newRow("600") << 600 << 600;
        QTest::newRow("12288") << 12288 << 12288;
    }
    void sendLength() {
        QFETCH(int, length);
        QFETCH(int, onWire);
        PeerSocket panel(PanelNs[0], Port);
        QVERIFY(panel.ok());
        TUDPR endpoint;
        configure(endpoint, Port, nullptr);
        QVERIFY(endpoint.Open());
        endpoint.RemoteAddress = PanelIps[0];
        endpoint.RemotePort = Port;

        // The bytes past `length` in the caller's buffer go out with a short datagram.
        const Bytes buffer = pattern(std::max(length, 512), 3);
        QCOMPARE(endpoint.Send(buffer.data(), length), 0);

        const auto got = panel.receive(Timeout);
        QVERIFY(got.has_value());
        QCOMPARE(int(got->bytes.size()), onWire);
        QVERIFY(got->bytes == Bytes(buffer.begin(), buffer.begin() + onWire));
        QCOMPARE(got->address, ToolIp);
        QCOMPARE(got->port, Port);
        QVERIFY(!panel.receive(200).has_value()); // exactly one datagram per Send
        QVERIFY(closeWithin(endpoint));
    }

    void receiveLength_data() {
        QTest::addColumn<int>("length");
        QTest::addColumn<bool>("handedOn");
        QTest::newRow("0") << 0 << false;
        QTest::newRow("1") << 1 << false;
        QTest::newRow("7") << 7 << false;
        QTest::newRow("8") << 8 << true;
        QTest::newRow("9") << 9 << true;
        QTest::newRow("512") << 512 << true;
        QTest::newRow("12287") << 12287 << true;
        QTest::newRow("12288") << 12288 << true;
        QTest::newRow("12289") << 12289 << false;
        QTest::newRow("65507") << 65507 << false;
    }
    void receiveLength() {
        QFETCH(int, length);
        QFETCH(bool, handedOn);
        Recorder recorder;
        TUDPR endpoint;
        configure(endpoint, Port, &recorder);
        QVERIFY(endpoint.Open());
        PeerSocket panel(PanelNs[0], 0);
        QVERIFY(panel.ok());

        // Fill the receive buffer with non-zero bytes first, so the zero after a shorter
        // datagram must have been written by the endpoint.
        const Bytes primer(TUDPR::MaxReceiveLength, 0xA5);
        QVERIFY(panel.sendTo(ToolIp, Port, primer));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count(), 1, Timeout);
        recorder.clear();

        const Bytes datagram = pattern(length);
        const long read = udpInDatagrams();
        QVERIFY(panel.sendTo(ToolIp, Port, datagram));
        // Read off the socket (whatever became of it) before the marker goes, so the marker
        // never meets a full receive buffer.
        QTRY_COMPARE_WITH_TIMEOUT(udpInDatagrams(), read + 1, Timeout);
        // The receiver goes on after a dropped datagram.
        const Bytes marker = {'M', 'A', 'R', 'K', 'E', 'R', '-', '0', '1'};
        QVERIFY(panel.sendTo(ToolIp, Port, marker));
        QTRY_VERIFY_WITH_TIMEOUT(recorder.has(marker), Timeout);

        const std::vector<Received> calls = recorder.calls();
        QCOMPARE(int(calls.size()), handedOn ? 2 : 1);
        for (const Received& r : calls) {
            QCOMPARE(r.address, PanelIps[0]);
            QCOMPARE(r.port, unsigned(panel.port()));
            QCOMPARE(r.bytes.back(), uint8_t(0));
        }
        if (handedOn) {
            const Received& r = calls.front();
            QCOMPARE(r.length, length);
            QVERIFY(Bytes(r.bytes.begin(), r.bytes.end() - 1) == datagram);
        }
        QVERIFY(closeWithin(endpoint));
    }

    // Only the endpoint on the dispatch port hands datagrams on; others receive and drop them.
    void localPortGate_data() {
        QTest::addColumn<int>("localPort");
        QTest::addColumn<bool>("handedOn");
        QTest::newRow("8300") << 8300 << true;
        QTest::newRow("8301") << 8301 << false;
        QTest::newRow("9000") << 9000 << false;
    }
    void localPortGate() {
        QFETCH(int, localPort);
        QFETCH(bool, handedOn);
        Recorder recorder;
        TUDPR endpoint;
        configure(endpoint, localPort, &recorder);
        QVERIFY(endpoint.Open());
        PeerSocket panel(PanelNs[0], 0);
        QVERIFY(panel.ok());
        int sent = 0;
        for (int length : {8, 512, 12288}) {
            const long read = udpInDatagrams();
            QVERIFY(panel.sendTo(ToolIp, localPort, pattern(length)));
            ++sent;
            // Received in every case; only what happens next differs.
            QTRY_COMPARE_WITH_TIMEOUT(udpInDatagrams(), read + 1, Timeout);
            if (handedOn) QTRY_COMPARE_WITH_TIMEOUT(recorder.count(), sent, Timeout);
        }
        QCOMPARE(recorder.count(), handedOn ? sent : 0);
        QVERIFY(closeWithin(endpoint));
    }

    // A full receive buffer loses datagrams; every one is either handed on or counted as
    // dropped, and the count is there before a later datagram could report it.
    void dropsAreCounted_data() {
        QTest::addColumn<int>("bufferSize");
        QTest::addColumn<bool>("drops");
        QTest::newRow("8 KiB") << 8192 << true;
        QTest::newRow("4 MiB") << (4 << 20) << false;
    }
    void dropsAreCounted() {
        QFETCH(int, bufferSize);
        QFETCH(bool, drops);
        HeldHandler handler;
        TUDPR endpoint;
        configure(endpoint, Port, nullptr);
        endpoint.ReceiveBufferSize = bufferSize;
        endpoint.Handler = &handler;
        QVERIFY(endpoint.Open());
        // Root may go past net.core.rmem_max.
        QCOMPARE(endpoint.ObtainedReceiveBufferSize() >= bufferSize, true);
        PeerSocket panel(PanelNs[0], 0);
        QVERIFY(panel.ok());
        const int sent = 1000;
        const long read = udpInDatagrams();
        for (int i = 0; i < sent; ++i)
            QVERIFY(panel.sendTo(ToolIp, Port, pattern(70, i)));
        if (drops)
            QTRY_VERIFY_WITH_TIMEOUT(endpoint.DroppedDatagrams() > 0, Timeout);
        else
            QTRY_VERIFY_WITH_TIMEOUT(udpInDatagrams() >= read + 1, Timeout);
        handler.release();
        QTRY_COMPARE_WITH_TIMEOUT(handler.count() + int(endpoint.DroppedDatagrams()), sent,
                                  Timeout);
        QCOMPARE(endpoint.DroppedDatagrams() > 0, drops);
        QVERIFY(closeWithin(endpoint));
    }

    // Settle returns only when what reached the socket before it has been through the handler,
    // however far behind the receiver is, and its mark never reaches the handler.
    void settleWaitsForQueued_data() {
        QTest::addColumn<int>("localPort");
        QTest::addColumn<int>("sent");
        QTest::addColumn<int>("delayMs");
        QTest::newRow("nothing queued") << Port << 0 << 0;
        QTest::newRow("receiver behind") << Port << 12 << 40;
        QTest::newRow("one queued") << Port << 1 << 300;
        QTest::newRow("port not dispatched") << Port + 1 << 5 << 0;
    }
    void settleWaitsForQueued() {
        QFETCH(int, localPort);
        QFETCH(int, sent);
        QFETCH(int, delayMs);
        SlowHandler handler{std::chrono::milliseconds(delayMs)};
        TUDPR endpoint;
        configure(endpoint, localPort, nullptr);
        endpoint.Handler = &handler;
        QVERIFY(endpoint.Open());
        PeerSocket panel(PanelNs[0], 0);
        QVERIFY(panel.ok());
        for (int i = 0; i < sent; ++i)
            QVERIFY(panel.sendTo(ToolIp, localPort, pattern(64, i)));
        QTest::qWait(20); // at the socket, mostly unread
        const auto start = std::chrono::steady_clock::now();
        QVERIFY(endpoint.Settle(std::chrono::seconds(5)));
        const auto took = std::chrono::steady_clock::now() - start;
        QCOMPARE(int(handler.sources().size()), localPort == Port ? sent : 0);
        QVERIFY(took < std::chrono::seconds(4));
        QVERIFY(closeWithin(endpoint));
    }

    // A mark stuck behind a held receiver, no socket, or no loopback: false within the limit,
    // without the extra wait when the mark cannot leave. A datagram made up to look like a mark
    // (any number, but not this endpoint's token) counts for nothing.
    void settleGivesUp_data() {
        QTest::addColumn<QString>("state");
        QTest::addColumn<int>("limitMs");
        QTest::addColumn<int>("atMostMs");
        QTest::newRow("closed") << "closed" << 300 << 100;
        QTest::newRow("receiver held") << "held" << 300 << 1000;
        QTest::newRow("receiver held, forged marks before") << "forged" << 300 << 1000;
        QTest::newRow("loopback down") << "nolo" << 5000 << 500;
    }
    void settleGivesUp() {
        QFETCH(QString, state);
        QFETCH(int, limitMs);
        QFETCH(int, atMostMs);
        HeldHandler held;
        TUDPR endpoint;
        configure(endpoint, Port, nullptr);
        endpoint.Handler = &held;
        PeerSocket panel(PanelNs[0], 0);
        QVERIFY(panel.ok() && endpoint.Open());
        if (state == "closed") QVERIFY(closeWithin(endpoint));
        if (state == "forged") {
            const long read = udpInDatagrams();
            for (uint64_t number : {uint64_t{1}, uint64_t{1} << 62})
                QVERIFY(sendForgedMark(number));
            QTRY_COMPARE_WITH_TIMEOUT(udpInDatagrams(), read + 2, Timeout);
        }
        if (state != "closed" && state != "nolo") QVERIFY(panel.sendTo(ToolIp, Port, pattern(64)));
        if (state == "nolo") QVERIFY(std::system("ip link set lo down") == 0);
        QTest::qWait(20);
        const auto start = std::chrono::steady_clock::now();
        const bool settled = endpoint.Settle(std::chrono::milliseconds(limitMs));
        const auto took = std::chrono::steady_clock::now() - start;
        held.release(); // before any check, so that Close can end the receiver
        if (state == "nolo") QVERIFY(std::system("ip link set lo up") == 0);
        QVERIFY(!settled);
        QVERIFY(took < std::chrono::milliseconds(atMostMs));
        if (state != "closed") QVERIFY(endpoint.Settle(std::chrono::seconds(5)));
        // no mark handed on
        QCOMPARE(held.count(), state == "held" || state == "forged" ? 1 : 0);
        closeWithin(endpoint);
    }

    // The handler may close or destroy its own endpoint, or ask it to settle (which the receiver
    // cannot do while it runs the handler): no deadlock, no use of what is gone.
    void handlerEndsItsEndpoint_data() {
        QTest::addColumn<QString>("action");
        QTest::newRow("Close") << "close";
        QTest::newRow("destructor") << "destroy";
        QTest::newRow("Settle") << "settle";
    }
    void handlerEndsItsEndpoint() {
        QFETCH(QString, action);
        struct SelfEnding final : DatagramHandler {
            TUDPR* Endpoint = nullptr;
            std::string Action;
            std::promise<std::string> Result;
            void Dispatch(const char*, unsigned, const uint8_t*, int) override {
                if (Endpoint == nullptr) return;
                TUDPR* endpoint = std::exchange(Endpoint, nullptr);
                if (Action == "close") {
                    const bool closed = endpoint->Close();
                    Result.set_value(closed && !endpoint->Open() ? "closed" : "open");
                } else if (Action == "destroy") {
                    delete endpoint;
                    Result.set_value("destroyed");
                } else {
                    const auto start = std::chrono::steady_clock::now();
                    const bool settled = endpoint->Settle(std::chrono::seconds(5));
                    const bool quick =
                        std::chrono::steady_clock::now() - start < std::chrono::seconds(1);
                    Result.set_value(!settled && quick ? "refused" : "waited");
                }
            }
        } handler;
        auto* endpoint = new TUDPR;
        configure(*endpoint, Port, nullptr);
        endpoint->Handler = &handler;
        handler.Endpoint = endpoint;
        handler.Action = action.toStdString();
        std::future<std::string> result = handler.Result.get_future();
        QVERIFY(endpoint->Open());
        PeerSocket panel(PanelNs[0], 0);
        QVERIFY(panel.ok());
        QVERIFY(panel.sendTo(ToolIp, Port, pattern(16)));
        QCOMPARE(int(result.wait_for(std::chrono::milliseconds(Timeout))),
                 int(std::future_status::ready));
        const std::string outcome = result.get();
        const std::map<std::string, std::string> expected = {
            {"close", "closed"}, {"destroy", "destroyed"}, {"settle", "refused"}};
        QCOMPARE(outcome, expected.at(handler.Action));
        if (action == "destroy") {
            // The port comes free once the receiver has left.
            QTRY_VERIFY_WITH_TIMEOUT(PeerSocket(env("TESTNET_TOOL_NS"), Port).ok(), Timeout);
        } else {
            QVERIFY(!closeWithin(*endpoint) || action == "settle");
            delete endpoint;
        }
    }

    void closeWakesBlockedReceiver() {
        Recorder recorder;
        TUDPR endpoint;
        configure(endpoint, Port, &recorder);
        QVERIFY(endpoint.Open());
        PeerSocket panel(PanelNs[0], 0);
        QVERIFY(panel.ok());
        QVERIFY(panel.sendTo(ToolIp, Port, pattern(8)));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count(), 1, Timeout);
        const pid_t receiver = recorder.calls().front().thread;
        QVERIFY(receiver != gettid());
        // Back in recvfrom, asleep.
        QTRY_COMPARE_WITH_TIMEOUT(threadState(receiver), 'S', Timeout);
        QTest::qWait(100);

        QVERIFY(closeWithin(endpoint));
        QCOMPARE(endpoint.Running.load(), 0);
        QTRY_COMPARE_WITH_TIMEOUT(threadState(receiver), char(0), Timeout);
        QCOMPARE(recorder.count(), 1);
        // The port is free again: the socket was closed.
        PeerSocket again(env("TESTNET_TOOL_NS"), Port);
        QVERIFY(again.ok());
    }

    // A Close that comes before the receiver thread has started must still stop it.
    void closeRightAfterOpen() {
        for (int i = 0; i < 50; ++i) {
            TUDPR endpoint;
            configure(endpoint, Port, nullptr);
            QVERIFY(endpoint.Open());
            QVERIFY(closeWithin(endpoint));
            QCOMPARE(endpoint.Running.load(), 0);
        }
    }

    void closeWithoutSocket_data() {
        QTest::addColumn<QString>("before");
        QTest::newRow("never opened") << "none";
        QTest::newRow("already closed") << "closed";
        QTest::newRow("bind failed") << "bindFailed";
    }
    void closeWithoutSocket() {
        QFETCH(QString, before);
        TUDPR endpoint;
        configure(endpoint, Port, nullptr);
        if (before == "closed") {
            QVERIFY(endpoint.Open());
            QVERIFY(closeWithin(endpoint));
        } else if (before == "bindFailed") {
            PeerSocket holder(env("TESTNET_TOOL_NS"), Port);
            QVERIFY(holder.ok());
            QVERIFY(!endpoint.Open());
        }
        QCOMPARE(endpoint.Close(), false);
        QCOMPARE(endpoint.Running.load(), 0);
    }

    // A second copy of the tool cannot have the port; the first one keeps working.
    void secondEndpointOnSamePortFails() {
        Recorder first, second;
        TUDPR one, two;
        configure(one, Port, &first);
        configure(two, Port, &second);
        QVERIFY(one.Open());
        QVERIFY(!two.Open());
        QCOMPARE(two.Running.load(), 0);
        PeerSocket panel(PanelNs[0], 0);
        QVERIFY(panel.ok());
        QVERIFY(panel.sendTo(ToolIp, Port, pattern(16)));
        QTRY_COMPARE_WITH_TIMEOUT(first.count(), 1, Timeout);
        QCOMPARE(second.count(), 0);
        QVERIFY(closeWithin(one));
    }

    // The tool's broadcast reaches every panel once per route to its segment (each of the
    // tool's interfaces there), on whichever of the tool's networks it is, with or without a
    // default route, and comes back once for each route it went out on; the panels' answers
    // arrive with their own addresses.
    void broadcastReachesPanelsAndComesBack() {
        std::vector<std::unique_ptr<PeerSocket>> panels;
        for (const std::string& ns : PanelNs) {
            panels.push_back(std::make_unique<PeerSocket>(ns, Port));
            QVERIFY(panels.back()->ok());
        }
        Recorder recorder;
        TUDPR endpoint;
        configure(endpoint, Port, &recorder);
        QVERIFY(endpoint.Open());
        endpoint.RemoteAddress = "255.255.255.255";
        endpoint.RemotePort = Port;
        const Bytes request = pattern(512, 9);
        QCOMPARE(endpoint.Send(request.data(), 10), 0);

        for (size_t i = 0; i < panels.size(); ++i) {
            const std::vector<std::string> facing = toolIpsFacing(i);
            std::set<std::string> from;
            for (size_t copy = 0; copy < facing.size(); ++copy) {
                const auto got = panels[i]->receive(Timeout);
                QVERIFY2(got.has_value(), PanelNs[i].c_str());
                QVERIFY(got->bytes == request);
                QCOMPARE(got->port, Port);
                from.insert(got->address);
            }
            // sent from each route's own address
            QCOMPARE(from, std::set<std::string>(facing.begin(), facing.end()));
        }
        for (size_t i = 0; i < panels.size(); ++i)
            QVERIFY2(!panels[i]->receive(200).has_value(), PanelNs[i].c_str());

        // One copy per route comes back to the tool, carrying that route's address.
        std::vector<std::string> toolIps = envList("TESTNET_TOOL_IPS");
        if (toolIps.empty()) toolIps = {ToolIp};
        const std::set<std::string> own(toolIps.begin(), toolIps.end());
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count(), int(own.size()), Timeout);
        QTest::qWait(200);
        QCOMPARE(recorder.count(), int(own.size()));
        std::set<std::string> cameBackFrom;
        for (const Received& r : recorder.calls()) {
            QVERIFY2(own.count(r.address) == 1, r.address.c_str());
            QCOMPARE(r.local, r.address);
            QCOMPARE(r.port, unsigned(Port));
            QVERIFY(Bytes(r.bytes.begin(), r.bytes.end() - 1) == request);
            cameBackFrom.insert(r.address);
        }
        QCOMPARE(cameBackFrom, own);
        recorder.clear();

        for (size_t i = 0; i < panels.size(); ++i)
            QVERIFY(panels[i]->sendTo(toolIpsFacing(i).front(), Port, pattern(64, int(i))));
        QTRY_COMPARE_WITH_TIMEOUT(recorder.count(), int(panels.size()), Timeout);
        std::set<std::string> answered;
        for (const Received& r : recorder.calls()) {
            QCOMPARE(r.port, unsigned(Port));
            answered.insert(r.address);
        }
        QCOMPARE(answered, std::set<std::string>(PanelIps.begin(), PanelIps.end()));
        QVERIFY(closeWithin(endpoint));
    }

    // A request for one panel leaves first by the route its reply came in on; the others follow.
    void firstRouteLeadsTheBroadcast() {
        const std::vector<std::string> toolIps = envList("TESTNET_TOOL_IPS");
        const std::vector<std::string> toolSegments = envList("TESTNET_TOOL_SEGMENTS");
        const std::vector<std::string> panelSegments = envList("TESTNET_PANEL_SEGMENTS");
        if (toolIps.size() < 2 || toolSegments.size() != toolIps.size() ||
            panelSegments.size() != PanelNs.size())
            QSKIP("one route only");
        // On one CPU the copies reach a panel in the order they left.
        cpu_set_t all, one;
        QCOMPARE(sched_getaffinity(0, sizeof all, &all), 0);
        CPU_ZERO(&one);
        CPU_SET(sched_getcpu(), &one);
        QCOMPARE(sched_setaffinity(0, sizeof one, &one), 0);
        for (size_t t : {toolIps.size() - 1, size_t{0}}) {
            const auto panel =
                std::find(panelSegments.begin(), panelSegments.end(), toolSegments[t]) -
                panelSegments.begin();
            QVERIFY(size_t(panel) < PanelNs.size());
            PeerSocket listener(PanelNs[size_t(panel)], Port);
            QVERIFY(listener.ok());
            TUDPR endpoint;
            configure(endpoint, Port, nullptr);
            QVERIFY(endpoint.Open());
            endpoint.RemoteAddress = "255.255.255.255";
            endpoint.FirstRoute = toolIps[t];
            const Bytes request = pattern(512, 5);
            QCOMPARE(endpoint.Send(request.data(), 512), 0);
            const auto got = listener.receive(Timeout);
            QVERIFY(got.has_value());
            QCOMPARE(got->address, toolIps[t]);
            QVERIFY(closeWithin(endpoint));
        }
        sched_setaffinity(0, sizeof all, &all);
    }

    // The sender thread is not stopped before the window closes the endpoint.
    void sendWhileClosing() {
        PeerSocket panel(PanelNs[0], 8301);
        QVERIFY(panel.ok());
        TUDPR endpoint;
        configure(endpoint, Port, nullptr);
        endpoint.RemoteAddress = PanelIps[0];
        endpoint.RemotePort = 8301;
        QVERIFY(endpoint.Open());
        const Bytes message = pattern(512);
        std::atomic<bool> stop{false};
        std::atomic<int> results{0};
        std::thread sender([&] {
            while (!stop) {
                results += endpoint.Send(message.data(), 512);
                std::this_thread::yield();
            }
        });
        QVERIFY(panel.receive(Timeout).has_value());
        const bool closed = closeWithin(endpoint);
        QTest::qWait(50);
        stop = true;
        sender.join();
        QVERIFY(closed);
        QCOMPARE(results.load(), 0);
        // Whatever was sent before the close is read off; after it nothing more goes out.
        while (panel.receive(200).has_value()) {
        }
        QCOMPARE(endpoint.Send(message.data(), 512), 0);
        QVERIFY(!panel.receive(300).has_value());
    }
};

int main(int argc, char** argv) {
    if (!inToolNamespace()) {
        std::fputs("SKIP: not inside the test network (run through tools/testnet.sh)\n", stderr);
        return 77;
    }
    QCoreApplication app(argc, argv);
    UdprTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "UdprTest.moc"
