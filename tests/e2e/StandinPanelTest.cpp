// The stand-in's answers, without a network: requests are composed by the tool's own
// composers, replies decoded by the tool's own decoder, so both sides agree on every byte.
#include <QTest>
#include <cstring>
#include <ctime>

#include "MessageFormat.h"
#include "StandinPanel.h"

using namespace Standin;

namespace {

const Ipv4 OwnIp{{10, 83, 0, 11}};
const Ipv4 OwnSubnet{{255, 255, 0, 0}};

Options Parsed(const QStringList& args) {
    std::vector<std::string> list;
    for (const QString& a : args)
        list.push_back(a.toStdString());
    Options options;
    std::string error;
    if (!ParseOptions(list, options, error)) qFatal("bad options: %s", error.c_str());
    return options;
}

PanelRecord Decoded(const std::vector<uint8_t>& reply) {
    PanelRecord record;
    DecodeSearchReply(reply.data(), static_cast<int>(reply.size()), record);
    return record;
}

QString Identity(const PanelRecord& r) {
    return QString::fromLatin1(&r.TypeLetter, 1) + QString::fromLatin1(r.Address, 10) +
           QString::fromLatin1(&r.Facility, 1);
}

QString Ip(const uint8_t* b) {
    return QString::fromStdString(FormatIpv4(b));
}

std::vector<uint8_t> Request(const MessageBuffer& buffer, int length = MessageSize) {
    return std::vector<uint8_t>(buffer, buffer + length);
}

Outcome Send(StandinPanel& panel, const std::vector<uint8_t>& request) {
    return panel.Handle(request.data(), static_cast<int>(request.size()), "10.83.0.1:8300");
}

std::vector<PanelRecord> Search(StandinPanel& panel) {
    MessageBuffer buffer;
    ComposeSearch(buffer, Signature);
    std::vector<PanelRecord> found;
    for (const auto& reply : Send(panel, Request(buffer)).Replies)
        found.push_back(Decoded(reply));
    return found;
}

} // namespace

class StandinPanelTest : public QObject {
    Q_OBJECT
  private slots:
    void derivedPanels_data();
    void derivedPanels();
    void searchReplyBytes_data();
    void searchReplyBytes();
    void requestsAnswered_data();
    void requestsAnswered();
    void writeChangesWhatTheNextSearchReports();
    void poweredOneAfterAnother_data();
    void poweredOneAfterAnother();
    void badCommandLines_data();
    void badCommandLines();
};

void StandinPanelTest::derivedPanels_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("identity");
    QTest::addColumn<QString>("ip");
    QTest::addColumn<QString>("subnet");
    QTest::addColumn<QString>("gateway");
    QTest::addColumn<QString>("server");
    QTest::addColumn<QString>("mac");

    QTest::newRow("own address, flat") << QStringList{} << 0 << "H10830000111"
                                       << "10.83.0.11"
                                       << "255.255.0.0"
                                       << "10.83.0.1"
                                       << "10.83.0.254"
                                       << "00:50:2A:53:00:0B";
    QTest::newRow("300th panel, next byte of the address")
        << QStringList{"--panels", "300"} << 299 << "H10830010541"
        << "10.83.1.54"
        << "255.255.0.0"
        << "10.83.0.1"
        << "10.83.0.254"
        << "00:50:2A:53:01:36";
    QTest::newRow("villa") << QStringList{"--kind", "villa", "--panels", "2"} << 1 << "H00120000001"
                           << "10.83.0.12"
                           << "255.255.0.0"
                           << "10.83.0.1"
                           << "10.83.0.254"
                           << "00:50:2A:53:00:0C";
    QTest::newRow("help station") << QStringList{"--kind", "help"} << 0 << "P00110000001"
                                  << "10.83.0.11"
                                  << "255.255.0.0"
                                  << "10.83.0.1"
                                  << "10.83.0.254"
                                  << "00:50:2A:53:00:0B";
    QTest::newRow("given identity and addresses")
        << QStringList{"--identity", "H09999999990",  "--panels",  "3",
                       "--ip",       "192.168.1.254", "--gateway", "192.168.1.1",
                       "--server",   "192.168.1.2",   "--mac",     "00:50:2a:00:ff:ff"}
        << 2 << "H10000000010"
        << "192.168.2.0"
        << "255.255.255.0"
        << "192.168.1.1"
        << "192.168.1.2"
        << "00:50:2A:01:00:01";
    QTest::newRow("factory settings alike, MACs apart")
        << QStringList{"--alike",       "--panels",   "3",           "--ip",
                       "192.168.1.100", "--identity", "H00000000010"}
        << 2 << "H00000000010"
        << "192.168.1.100"
        << "255.255.255.0"
        << "192.168.1.1"
        << "192.168.1.254"
        << "00:50:2A:A8:01:66";
}

void StandinPanelTest::derivedPanels() {
    QFETCH(QStringList, args);
    QFETCH(int, index);
    StandinPanel standin(Parsed(args), OwnIp, OwnSubnet);
    const std::vector<PanelRecord> found = Search(standin);
    QCOMPARE(static_cast<int>(found.size()), Parsed(args).Panels);
    const PanelRecord& r = found[static_cast<size_t>(index)];
    QTEST(Identity(r), "identity");
    QTEST(Ip(r.Ip), "ip");
    QTEST(Ip(r.Subnet), "subnet");
    QTEST(Ip(r.Gateway), "gateway");
    QTEST(Ip(r.Server), "server");
    QTEST(QString::asprintf("%02X:%02X:%02X:%02X:%02X:%02X", r.Mac[0], r.Mac[1], r.Mac[2], r.Mac[3],
                            r.Mac[4], r.Mac[5]),
          "mac");
    // What it prints about itself is what it answers.
    QVERIFY(QString::fromStdString(standin.Describe(index))
                .startsWith(
                    QStringLiteral("panel %1: %2 ip %3 ").arg(index).arg(Identity(r), Ip(r.Ip))));
}

void StandinPanelTest::searchReplyBytes_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("length");
    QTest::addColumn<bool>("hasSignature");
    QTest::addColumn<int>("stage");
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<int>("unlock");

    QTest::newRow("default") << QStringList{} << 512 << true << 2 << QByteArray("V1.0 stand-in")
                             << 5;
    QTest::newRow("short, up to the unlocking time")
        << QStringList{"--short", "70", "--unlock", "9", "--version", "0123456789ABCDEF"} << 70
        << true << 2 << QByteArray("0123456789ABCDEF") << 9;
    QTest::newRow("short, without the version")
        << QStringList{"--short", "52"} << 52 << true << 2 << QByteArray() << 0;
    QTest::newRow("malformed") << QStringList{"--malformed"} << 512 << false << 2
                               << QByteArray("V1.0 stand-in") << 5;
    QTest::newRow("stage 3") << QStringList{"--stage", "3"} << 512 << true << 3
                             << QByteArray("V1.0 stand-in") << 5;
}

void StandinPanelTest::searchReplyBytes() {
    QFETCH(QStringList, args);
    QFETCH(int, length);
    QFETCH(bool, hasSignature);
    QFETCH(QByteArray, version);
    QFETCH(int, unlock);

    StandinPanel standin(Parsed(args), OwnIp, OwnSubnet);
    MessageBuffer buffer;
    ComposeSearch(buffer, Signature);
    const Outcome outcome = Send(standin, Request(buffer));
    QCOMPARE(outcome.Replies.size(), size_t{1});
    const std::vector<uint8_t>& reply = outcome.Replies[0];
    QCOMPARE(static_cast<int>(reply.size()), length);
    QCOMPARE(HasSignature(reply.data(), length, Signature), hasSignature);
    QCOMPARE(int{reply[MessageHeader::CommandAt]}, int{CMD_SEARCH});
    QTEST(int{reply[MessageHeader::StageAt]}, "stage");
    const PanelRecord r = Decoded(reply);
    QCOMPARE(QByteArray(r.Version, static_cast<int>(strnlen(r.Version, sizeof r.Version))),
             version);
    QCOMPARE(int{r.UnlockTime}, unlock);
    // Everything after the last field the tool reads is zero.
    for (int i = SearchReplyLength; i < length; ++i)
        QCOMPARE(int{reply[static_cast<size_t>(i)]}, 0);
}

void StandinPanelTest::requestsAnswered_data() {
    QTest::addColumn<QString>("request"); // which request the row sends
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<int>("replies");
    QTest::addColumn<int>("command");
    QTest::addColumn<QString>("line");

    const QString id = QStringLiteral("H10830000111");
    QTest::newRow("search, 3 panels")
        << "search" << QStringList{"--panels", "3"} << 3 << int{CMD_SEARCH}
        << "search from 10.83.0.1:8300 -> 3 replies";
    QTest::newRow("search, silent") << "search" << QStringList{"--silent"} << 0 << 0
                                    << "search from 10.83.0.1:8300 -> 1 reply (silent)";
    QTest::newRow("delete-cards for this panel")
        << "delete" << QStringList{} << 1 << int{CMD_DELETE_CARDS}
        << "delete-cards for " + id + " at day 3 09:05:07";
    QTest::newRow("delete-cards for the second of two")
        << "delete-second" << QStringList{"--panels", "2"} << 1 << int{CMD_DELETE_CARDS}
        << "delete-cards for H10830000121 at day 3 09:05:07";
    QTest::newRow("delete-cards for another panel")
        << "delete-other" << QStringList{} << 0 << 0
        << "delete-cards for H10830000991 at day 3 09:05:07: no such panel, ignored";
    QTest::newRow("write to this panel")
        << "write" << QStringList{} << 1 << int{CMD_WRITE} << "write for " + id + " -> " + id;
    QTest::newRow("write naming another server")
        << "write-other-server" << QStringList{} << 0 << 0 << "write for " + id + " ip 10.83.0.11";
    QTest::newRow("own search reply")
        << "search-reply" << QStringList{} << 0 << 0 << "ignored stage 2 command 0xFC";
    QTest::newRow("write reply") << "write-reply" << QStringList{} << 0 << 0
                                 << "ignored stage 2 command 0xFE";
    QTest::newRow("7 bytes") << "short" << QStringList{} << 0 << 0 << "ignored 7-byte datagram";
    QTest::newRow("lower-case signature")
        << "lower-case" << QStringList{} << 0 << 0 << "ignored datagram without signature";
    QTest::newRow("unknown command")
        << "unknown" << QStringList{} << 0 << 0 << "ignored command 0x37";
}

void StandinPanelTest::requestsAnswered() {
    QFETCH(QString, request);
    QFETCH(QStringList, args);
    QFETCH(int, replies);
    QFETCH(int, command);
    QFETCH(QString, line);

    StandinPanel standin(Parsed(args), OwnIp, OwnSubnet);
    PanelRecord panel = Decoded(standin.SearchReplyFor(standin.Panels()[0]));
    std::tm when{};
    when.tm_mday = 3;
    when.tm_hour = 9;
    when.tm_min = 5;
    when.tm_sec = 7;

    MessageBuffer buffer;
    int length = MessageSize;
    if (request.startsWith(QStringLiteral("search"))) {
        ComposeSearch(buffer, Signature);
        if (request == QStringLiteral("search-reply")) buffer[MessageHeader::StageAt] = STAGE_REPLY;
    } else if (request.startsWith(QStringLiteral("delete"))) {
        if (request == QStringLiteral("delete-second"))
            panel = Decoded(standin.SearchReplyFor(standin.Panels()[1]));
        if (request == QStringLiteral("delete-other")) std::memcpy(panel.Address, "1083000099", 10);
        ComposeDeleteCards(buffer, Signature, panel, when);
    } else if (request.startsWith(QStringLiteral("write"))) {
        PanelRecord pending = panel;
        pending.UnlockTime = '7';
        if (request == QStringLiteral("write-other-server")) panel.Server[3] = 200;
        ComposeWrite(buffer, Signature, panel, pending);
        if (request == QStringLiteral("write-reply")) buffer[MessageHeader::StageAt] = STAGE_REPLY;
    } else if (request == QStringLiteral("short")) {
        ComposeSearch(buffer, Signature);
        length = 7;
    } else if (request == QStringLiteral("lower-case")) {
        ComposeSearch(buffer, "XXXCId");
    } else {
        ComposeSearch(buffer, Signature);
        buffer[MessageHeader::CommandAt] = 0x37;
    }

    const Outcome outcome = Send(standin, Request(buffer, length));
    QVERIFY2(QString::fromStdString(outcome.Line).startsWith(line), outcome.Line.c_str());
    QCOMPARE(static_cast<int>(outcome.Replies.size()), replies);
    for (const auto& reply : outcome.Replies) {
        QVERIFY(HasSignature(reply.data(), static_cast<int>(reply.size()), Signature));
        QCOMPARE(int{reply[MessageHeader::CommandAt]}, command);
        QCOMPARE(int{reply[MessageHeader::StageAt]}, int{STAGE_REPLY});
    }
}

void StandinPanelTest::writeChangesWhatTheNextSearchReports() {
    StandinPanel standin(Parsed({"--panels", "2"}), OwnIp, OwnSubnet);
    const std::vector<PanelRecord> before = Search(standin);
    const PanelRecord current = before[1];
    PanelRecord pending = current;
    std::memcpy(pending.Address, "4321000000", 10);
    pending.Mac[5] = 0xAB;
    const uint8_t ip[4] = {10, 83, 7, 77};
    std::memcpy(pending.Ip, ip, 4);
    pending.Server[3] = 9;
    pending.UnlockTime = '8';
    MessageBuffer buffer;
    ComposeWrite(buffer, Signature, current, pending);
    const Outcome written = Send(standin, Request(buffer));
    QCOMPARE(written.Replies.size(), size_t{1});
    // A panel answers from its own address, the new one once written.
    QCOMPARE(Ip(written.ReplyFrom.at(0).Bytes), QStringLiteral("10.83.7.77"));

    const std::vector<PanelRecord> after = Search(standin);
    QCOMPARE(Identity(after[0]), Identity(before[0]));
    QCOMPARE(Ip(after[0].Ip), Ip(before[0].Ip));
    QCOMPARE(Identity(after[1]), QStringLiteral("H43210000001"));
    QCOMPARE(Ip(after[1].Ip), QStringLiteral("10.83.7.77"));
    QCOMPARE(int{after[1].Mac[5]}, 0xAB);
    QCOMPARE(int{after[1].Server[3]}, 9);
    QCOMPARE(int{after[1].UnlockTime}, 8);
    QCOMPARE(int{after[1].Spare}, 0);
    // The settings of the search before no longer name it.
    QCOMPARE(Send(standin, Request(buffer)).Replies.size(), size_t{0});
}

void StandinPanelTest::poweredOneAfterAnother_data() {
    QTest::addColumn<QStringList>("args");
    QTest::addColumn<double>("elapsed");
    QTest::addColumn<int>("answering");

    const QStringList everySecond{"--panels", "3", "--appear-every", "1"};
    QTest::newRow("first at once") << everySecond << 0.0 << 1;
    QTest::newRow("second after a second") << everySecond << 1.0 << 2;
    QTest::newRow("not yet the third") << everySecond << 1.999 << 2;
    QTest::newRow("all") << everySecond << 60.0 << 3;
    const QStringList later{"--panels", "2", "--appear-after", "2.5", "--appear-every", "0.5"};
    QTest::newRow("none before the first") << later << 2.4 << 0;
    QTest::newRow("first after its delay") << later << 2.5 << 1;
    QTest::newRow("both") << later << 3.0 << 2;
}

// A panel not yet powered neither answers a search nor takes a write.
void StandinPanelTest::poweredOneAfterAnother() {
    QFETCH(QStringList, args);
    QFETCH(double, elapsed);
    QFETCH(int, answering);
    StandinPanel standin(Parsed(args), OwnIp, OwnSubnet);
    MessageBuffer buffer;
    ComposeSearch(buffer, Signature);
    const auto search = Request(buffer);
    QCOMPARE(int(standin.Handle(search.data(), int(search.size()), "x", elapsed).Replies.size()),
             answering);
    const PanelRecord last = standin.Panels().back();
    PanelRecord moved = last;
    moved.Ip[3] = 200;
    ComposeWrite(buffer, Signature, last, moved);
    const auto write = Request(buffer);
    const Outcome wrote = standin.Handle(write.data(), int(write.size()), "x", elapsed);
    QCOMPARE(int(wrote.Replies.size()), answering == Parsed(args).Panels ? 1 : 0);
}

void StandinPanelTest::badCommandLines_data() {
    QTest::addColumn<QStringList>("args");
    QTest::newRow("unknown option") << QStringList{"--bogus"};
    QTest::newRow("no panels") << QStringList{"--panels", "0"};
    QTest::newRow("missing value") << QStringList{"--delay-ms"};
    QTest::newRow("identity of 11 characters") << QStringList{"--identity", "H1234567890"};
    QTest::newRow("version of 17 characters") << QStringList{"--version=ABCDEFGHIJKLMNOPQ"};
    QTest::newRow("address out of range") << QStringList{"--ip", "10.83.0.256"};
    QTest::newRow("flag with a value") << QStringList{"--silent=1"};
    QTest::newRow("unknown kind") << QStringList{"--kind", "gate"};
    QTest::newRow("empty datagrams") << QStringList{"--short", "0"};
    QTest::newRow("powered before the start") << QStringList{"--appear-after", "-1"};
    QTest::newRow("negative lateness") << QStringList{"--jitter-ms", "-5"};
    QTest::newRow("seed beyond 31 bits") << QStringList{"--seed", "2147483648"};
}

void StandinPanelTest::badCommandLines() {
    QFETCH(QStringList, args);
    std::vector<std::string> list;
    for (const QString& a : args)
        list.push_back(a.toStdString());
    Options options;
    std::string error;
    QVERIFY(!ParseOptions(list, options, error));
    QVERIFY(!error.empty());
}

QTEST_APPLESS_MAIN(StandinPanelTest)
#include "StandinPanelTest.moc"
