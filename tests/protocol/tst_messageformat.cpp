// Request layouts and reply decoding, checked against buffers built byte by byte from the
// protocol's tables (plain offsets here, so that a wrong named offset cannot hide).
#include <QtTest>

#include <cstring>
#include <vector>

#include "MessageFormat.h"
#include "ProtocolFakes.h"

Q_DECLARE_METATYPE(PanelRecord)

namespace {

static_assert(sizeof(PanelRecord) == 53, "the record is compared as raw bytes below");

QByteArray Wire(const MessageBuffer& buffer) {
    return QByteArray(reinterpret_cast<const char*>(buffer), MessageSize);
}

void Put(QByteArray& out, int at, const QByteArray& bytes) {
    out.replace(at, bytes.size(), bytes);
}

QByteArray Bytes(std::initializer_list<int> values) {
    QByteArray out;
    for (int v : values)
        out.append(static_cast<char>(v));
    return out;
}

QByteArray Identity(const PanelRecord& r) {
    QByteArray out;
    out.append(r.TypeLetter);
    out.append(r.Address, 10);
    out.append(r.Facility);
    return out;
}

QByteArray Field(const uint8_t* bytes, int size) {
    return QByteArray(reinterpret_cast<const char*>(bytes), size);
}

QByteArray Header(int command) {
    QByteArray out(MessageSize, '\0');
    Put(out, 0, QByteArray("XXXCID"));
    out[6] = static_cast<char>(command);
    out[7] = 1;
    return out;
}

// One 42-byte block at `at`: identity, eight zero bytes, MAC, IP, subnet, gateway, server.
void PutBlock(QByteArray& out, int at, const PanelRecord& r) {
    Put(out, at, Identity(r));
    Put(out, at + 20, Field(r.Mac, 6));
    Put(out, at + 26, Field(r.Ip, 4));
    Put(out, at + 30, Field(r.Subnet, 4));
    Put(out, at + 34, Field(r.Gateway, 4));
    Put(out, at + 38, Field(r.Server, 4));
}

PanelRecord FlatCamera() {
    return MakeRecord("H0102030405"
                      "1",
                      {0x00, 0x50, 0x2A, 0x10, 0x20, 0x30}, {192, 168, 1, 20}, {255, 255, 255, 0},
                      {192, 168, 1, 1}, {192, 168, 1, 200}, "V2.3.1-20190601", 0x5C, 7);
}

PanelRecord HelpStation() {
    return MakeRecord("P4321000000"
                      "0",
                      {0x00, 0x50, 0x2A, 0xAB, 0xCD, 0xEF}, {10, 0, 0, 77}, {255, 0, 0, 0},
                      {10, 0, 0, 1}, {10, 0, 0, 2}, "0123456789ABCDEF", 0, 3);
}

} // namespace

class MessageFormatTest : public QObject {
    Q_OBJECT

  private slots:
    void searchRequest() {
        MessageBuffer buffer;
        std::memset(buffer, 0xA5, sizeof buffer);
        QCOMPARE(ComposeSearch(buffer, "XXXCID"), 10);
        QCOMPARE(Wire(buffer), Header(0xFC));
    }

    void writeRequest_data() {
        QTest::addColumn<PanelRecord>("current");
        QTest::addColumn<PanelRecord>("pending");
        QTest::addColumn<int>("unlockByte");

        PanelRecord newFlat = FlatCamera();
        newFlat.Ip[3] = 21;
        newFlat.Spare = 0x77; // must not reach the wire
        newFlat.UnlockTime = '5';
        QTest::newRow("flat camera, 5 s") << FlatCamera() << newFlat << 5;

        PanelRecord newHelp = HelpStation();
        std::memcpy(newHelp.Address, "9876000000", 10);
        newHelp.UnlockTime = '9';
        QTest::newRow("help station, 9 s") << HelpStation() << newHelp << 9;

        PanelRecord below = FlatCamera();
        below.UnlockTime = '/'; // one below '0': the subtraction wraps
        QTest::newRow("character below 0 wraps") << FlatCamera() << below << 0xFF;
    }

    void writeRequest() {
        QFETCH(PanelRecord, current);
        QFETCH(PanelRecord, pending);
        QFETCH(int, unlockByte);
        const uint8_t typed = pending.UnlockTime;

        QByteArray expected = Header(0xFE);
        PutBlock(expected, 10, current);
        PutBlock(expected, 52, pending);
        expected[94] = 0;
        expected[95] = static_cast<char>(unlockByte);

        MessageBuffer buffer;
        std::memset(buffer, 0xA5, sizeof buffer);
        QCOMPARE(ComposeWrite(buffer, "XXXCID", current, pending), 96);
        QCOMPARE(Wire(buffer), expected);
        QCOMPARE(pending.Spare, uint8_t(0));
        QCOMPARE(pending.UnlockTime, typed); // still the character

        // A second write to the same panel, without a new search, carries the same current
        // block and the same new settings.
        MessageBuffer again;
        QCOMPARE(ComposeWrite(again, "XXXCID", current, pending), 96);
        QCOMPARE(Wire(again), expected);
    }

    void deleteCardsRequest_data() {
        QTest::addColumn<PanelRecord>("panel");
        QTest::addColumn<int>("day");
        QTest::addColumn<int>("hour");
        QTest::addColumn<int>("minute");
        QTest::addColumn<int>("second");
        QTest::newRow("09:05:07 on the 3rd") << FlatCamera() << 3 << 9 << 5 << 7;
        QTest::newRow("23:59:58 on the 31st") << HelpStation() << 31 << 23 << 59 << 58;
    }

    void deleteCardsRequest() {
        QFETCH(PanelRecord, panel);
        QFETCH(int, day);
        QFETCH(int, hour);
        QFETCH(int, minute);
        QFETCH(int, second);

        QByteArray expected = Header(0x36);
        Put(expected, 8, Identity(panel)); // covers header bytes 8 and 9
        Put(expected, 28, Bytes({day, hour, minute, second}));
        Put(expected, 40, Bytes({1, 0, 0, 0, 1, 0, 0, 0}));

        std::tm when{};
        when.tm_year = 2024 - 1900;
        when.tm_mon = 5;
        when.tm_mday = day;
        when.tm_hour = hour;
        when.tm_min = minute;
        when.tm_sec = second;
        MessageBuffer buffer;
        std::memset(buffer, 0xA5, sizeof buffer);
        QCOMPARE(ComposeDeleteCards(buffer, "XXXCID", panel, when), 72);
        QCOMPARE(Wire(buffer), expected);
    }

    void signature_data() {
        QTest::addColumn<QByteArray>("datagram");
        QTest::addColumn<bool>("accepted");
        QTest::newRow("exact") << QByteArray("XXXCID\xFE\x02") << true;
        QTest::newRow("exact, longer") << QByteArray("XXXCID\xFC\x02 and more") << true;
        QTest::newRow("lower case first") << QByteArray("xXXCID\xFE\x02") << false;
        QTest::newRow("lower case d") << QByteArray("XXXCId\xFE\x02") << false;
        QTest::newRow("last byte differs") << QByteArray("XXXCIE\xFE\x02") << false;
        QTest::newRow("shifted") << QByteArray(" XXXCID\xFE") << false;
        QTest::newRow("five bytes") << QByteArray("XXXCI") << false;
    }

    void signature() {
        QFETCH(QByteArray, datagram);
        QFETCH(bool, accepted);
        const auto* data = reinterpret_cast<const uint8_t*>(datagram.constData());
        QCOMPARE(HasSignature(data, static_cast<int>(datagram.size()), "XXXCID"), accepted);
    }

    void decodeSearchReply_data() {
        QTest::addColumn<int>("length");
        QTest::newRow("8, header only") << 8;
        QTest::newRow("40, cut inside the IP address") << 40;
        QTest::newRow("69, without the unlocking time") << 69;
        QTest::newRow("70, complete") << 70;
        QTest::newRow("12288, longest accepted") << 12288;
    }

    void decodeSearchReply() {
        QFETCH(int, length);
        // The receiver's buffer: a reply whose every byte differs, then garbage left over from
        // an earlier, longer datagram.
        std::vector<uint8_t> buffer(12288, 0xEE);
        for (int i = 0; i < 70; ++i)
            buffer[static_cast<size_t>(i)] = static_cast<uint8_t>(0x80 + i);
        std::memcpy(buffer.data(), "XXXCID\xFC\x02", 8);
        for (size_t i = static_cast<size_t>(length); i < buffer.size(); ++i)
            buffer[i] = 0xEE;
        const auto at = [&](int offset) -> uint8_t {
            return offset < length ? buffer[static_cast<size_t>(offset)] : 0;
        };

        PanelRecord expected{};
        expected.TypeLetter = static_cast<char>(at(10));
        for (int i = 0; i < 10; ++i)
            expected.Address[i] = static_cast<char>(at(11 + i));
        expected.Facility = static_cast<char>(at(21));
        for (int i = 0; i < 6; ++i)
            expected.Mac[i] = at(30 + i);
        for (int i = 0; i < 4; ++i) {
            expected.Ip[i] = at(36 + i);
            expected.Subnet[i] = at(40 + i);
            expected.Gateway[i] = at(44 + i);
            expected.Server[i] = at(48 + i);
        }
        for (int i = 0; i < 16; ++i)
            expected.Version[i] = static_cast<char>(at(52 + i));
        expected.Spare = at(68);
        expected.UnlockTime = at(69);

        PanelRecord decoded;
        std::memset(&decoded, 0x5A, sizeof decoded);
        DecodeSearchReply(buffer.data(), length, decoded);
        QCOMPARE(decoded.Terminator, '\0');
        QCOMPARE(QByteArray(reinterpret_cast<const char*>(&decoded), sizeof decoded),
                 QByteArray(reinterpret_cast<const char*>(&expected), sizeof expected));
        if (length >= 70) QCOMPARE(decoded.UnlockTime, uint8_t(0x80 + 69));
    }
};

QTEST_GUILESS_MAIN(MessageFormatTest)
#include "tst_messageformat.moc"
