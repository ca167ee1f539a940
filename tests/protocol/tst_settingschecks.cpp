// The shared checks and staging of a Write, and the panel texts, on plain strings: the box each
// failure names (the window focuses it), the conversion order, part-way staging, GBK.
#include <QtTest>

#include <cstddef>
#include <cstring>
#include <map>

#include "GbkCodec.h"
#include "PanelTexts.h"
#include "Records.h"
#include "SettingsChecks.h"

namespace {

// Valid settings of a flat camera; rows change single texts.
SettingsTexts Baseline() {
    return SettingsTexts{0,
                         "0102030405",
                         "1",
                         {"0A", "FF", "00"},
                         {"192", "168", "1", "20"},
                         {"255", "255", "255", "0"},
                         {"192", "168", "1", "1"},
                         {"192", "168", "1", "2"},
                         "5"};
}

// "Ip3=0" sets byte 3 of the IP texts; "Type=2" the device type. Values are raw bytes.
SettingsTexts With(const QByteArrayList& changes) {
    SettingsTexts t = Baseline();
    std::map<QByteArray, std::string*> texts{
        {"Address", &t.Address}, {"Facility", &t.Facility}, {"Unlock", &t.Unlock}};
    for (int at = 0; at < 4; ++at) {
        const QByteArray n = QByteArray::number(at);
        if (at < 3) texts["Mac" + n] = &t.Mac[at];
        texts["Ip" + n] = &t.Ip[at], texts["Subnet" + n] = &t.Subnet[at];
        texts["Gateway" + n] = &t.Gateway[at], texts["Server" + n] = &t.Server[at];
    }
    for (const QByteArray& change : changes) {
        const QByteArray name = change.left(change.indexOf('='));
        const QByteArray value = change.mid(name.size() + 1);
        if (name == "Type")
            t.Type = value.toInt();
        else
            *texts.at(name) = value.toStdString();
    }
    return t;
}

QByteArray Raw(const PanelRecord& r) {
    return QByteArray(reinterpret_cast<const char*>(&r), sizeof r);
}

} // namespace

class SettingsChecksTest : public QObject {
    Q_OBJECT
  private slots:
    void firstFailedCheck_data();
    void firstFailedCheck();
    void checkMask_data();
    void checkMask();
    void conversionError_data();
    void conversionError();
    void textsOf_data();
    void textsOf();
    void gbk();
    void parseIpv4_data();
    void parseIpv4();
    void readBack();
    void readsBackOtherwise_data();
    void readsBackOtherwise();
};

void SettingsChecksTest::firstFailedCheck_data() {
    QTest::addColumn<QByteArrayList>("changes");
    QTest::addColumn<int>("box"); // -1: every check passes
    QTest::addColumn<int>("index");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("flags");
    QTest::addColumn<bool>("selectAll");

    const int ip = int(SettingsBox::Ip), gw = int(SettingsBox::Gateway),
              srv = int(SettingsBox::Server), addr = int(SettingsBox::Address),
              fac = int(SettingsBox::Facility), unl = int(SettingsBox::Unlock),
              mac = int(SettingsBox::Mac);
    const QString invalid = "Invalid IP！", range = "Pls input a number between 0 - 255！";
    const QString flat = "Invalid Address bits ，10 bits for Flat station！";
    const QString four = "Invalid Address bits ，4 bits for Help station & Villa camera！";
    QTest::newRow("all pass") << QByteArrayList{} << -1 << 0 << "" << 0 << false;
    QTest::newRow("ip host 0") << QByteArrayList{"Ip3=0"} << ip << 3 << invalid << 16 << false;
    QTest::newRow("gateway byte 0 -1")
        << QByteArrayList{"Gateway0=-1"} << gw << 0 << range << 16 << true;
    QTest::newRow("server byte 2")
        << QByteArrayList{"Server2=256"} << srv << 2 << range << 16 << true;
    QTest::newRow("flat, 11 GBK bytes")
        << QByteArrayList{"Address=012345678\xCB\xCE"} << addr << 0 << flat << 64 << false;
    QTest::newRow("flat, 10 GBK bytes")
        << QByteArrayList{"Address=01234567\xCB\xCE"} << -1 << 0 << "" << 0 << false;
    QTest::newRow("flat ending in six zeros")
        << QByteArrayList{"Address=0102000000"} << addr << 0
        << "Flat station address can not end with 000000 ，it reads back as Villa camera！" << 64
        << true;
    QTest::newRow("villa with 10") << QByteArrayList{"Type=2"} << addr << 0 << four << 64 << false;
    QTest::newRow("facility high byte") << QByteArrayList{"Facility=\xA3\xA1"} << fac << 0
                                        << "Facility NO. between 0-1" << 64 << false;
    QTest::newRow("flat unlock 10") << QByteArrayList{"Unlock=10"} << -1 << 0 << "" << 0 << false;
    QTest::newRow("unlock before mac") << QByteArrayList{"Unlock=0", "Mac1=zz"} << unl << 0
                                       << "Unlocking time between 1-9" << 64 << false;
    QTest::newRow("mac 2 beyond f")
        << QByteArrayList{"Mac1=zz"} << mac << 1 << "Invalid MAC！" << 16 << true;
    // Addresses that cut the panel off, after the window's own checks.
    QTest::newRow("ip 0.x") << QByteArrayList{"Ip0=0"} << ip << 0 << invalid << 16 << false;
    QTest::newRow("ip loopback") << QByteArrayList{"Ip0=127"} << ip << 0 << invalid << 16 << false;
    QTest::newRow("ip multicast") << QByteArrayList{"Ip0=239"} << ip << 0 << invalid << 16 << false;
    QTest::newRow("ip 240 passes") << QByteArrayList{"Ip0=240"} << -1 << 0 << "" << 0 << false;
    QTest::newRow("ip of this computer")
        << QByteArrayList{"Ip0=10", "Ip1=0", "Ip2=0", "Ip3=7"} << ip << 3 << invalid << 16 << false;
    QTest::newRow("ip network of a /26")
        << QByteArrayList{"Subnet3=192", "Ip3=64"} << ip << 3 << invalid << 16 << false;
    QTest::newRow("ip broadcast of a /26")
        << QByteArrayList{"Subnet3=192", "Ip3=127"} << ip << 3 << invalid << 16 << false;
    QTest::newRow("no mask, no subnet rule")
        << QByteArrayList{"Subnet3=1", "Ip3=64"} << -1 << 0 << "" << 0 << false;
    QTest::newRow("gateway is the ip")
        << QByteArrayList{"Gateway3=20"} << gw << 3 << invalid << 16 << false;
    QTest::newRow("mac before the ip rules")
        << QByteArrayList{"Ip0=127", "Mac0=zz"} << mac << 0 << "Invalid MAC！" << 16 << true;
}

void SettingsChecksTest::firstFailedCheck() {
    QFETCH(QByteArrayList, changes);
    QFETCH(int, box);
    QFETCH(int, index);
    QFETCH(QString, text);
    QFETCH(int, flags);
    QFETCH(bool, selectAll);
    const std::optional<CheckFailure> failure = FirstFailedCheck(With(changes), {{10, 0, 0, 7}});
    if (box < 0) {
        QVERIFY2(!failure, failure ? failure->Text.c_str() : "");
        return;
    }
    QVERIFY(failure.has_value());
    QCOMPARE(int(failure->Box), box);
    QCOMPARE(failure->Index, index);
    QCOMPARE(QString::fromStdString(failure->Text), text);
    QCOMPARE(QString::fromStdString(failure->Title),
             QString(flags == 64 ? "Error" : "Pls input again"));
    QCOMPARE(failure->Flags, flags);
    QCOMPARE(failure->SelectAll, selectAll);
}

// The command line's mask rule: the first byte that breaks it, and why.
void SettingsChecksTest::checkMask_data() {
    QTest::addColumn<QString>("mask");
    QTest::addColumn<int>("index"); // -1: a usable mask
    QTest::addColumn<QString>("why");
    QTest::newRow("/24") << "255.255.255.0" << -1 << "";
    QTest::newRow("/1") << "128.0.0.0" << -1 << "";
    QTest::newRow("/30") << "255.255.255.252" << -1 << "";
    QTest::newRow("gap in byte 2") << "255.0.255.0" << 1 << "without a gap";
    QTest::newRow("low bit set") << "255.255.255.1" << 3 << "without a gap";
    QTest::newRow("999 is 231") << "255.255.999.0" << 2 << "without a gap";
    QTest::newRow("/0") << "0.0.0.0" << 0 << "/0";
    QTest::newRow("/31") << "255.255.255.254" << 3 << "/31";
    QTest::newRow("/32") << "255.255.255.255" << 3 << "/32";
}

void SettingsChecksTest::checkMask() {
    QFETCH(QString, mask);
    QFETCH(int, index);
    QFETCH(QString, why);
    SettingsTexts t = Baseline();
    const QStringList bytes = mask.split('.');
    for (int at = 0; at < 4; ++at)
        t.Subnet[at] = bytes[at].toStdString();
    const std::optional<CheckFailure> failure = CheckMask(t);
    QCOMPARE(failure.has_value(), index >= 0);
    if (!failure) return;
    QCOMPARE(int(failure->Box), int(SettingsBox::Subnet));
    QCOMPARE(failure->Index, index);
    QCOMPARE(QString::fromStdString(failure->Text), QString("Invalid subnet mask！"));
    QVERIFY2(QString::fromStdString(failure->Why).contains(why), failure->Why.c_str());
}

void SettingsChecksTest::conversionError_data() {
    QTest::addColumn<QByteArrayList>("changes");
    QTest::addColumn<QString>("quoted");
    QTest::addColumn<int>("stagedBytes"); // -1: the checks throw, before any staging

    const int subnet = int(offsetof(PanelRecord, Subnet));
    // The host byte is converted first, so it is the one quoted.
    QTest::newRow("ip host before byte 0") << QByteArrayList{"Ip0=ab", "Ip3=-"} << "-" << -1;
    QTest::newRow("gateway blank") << QByteArrayList{"Gateway1= "} << " " << -1;
    QTest::newRow("server blank after") << QByteArrayList{"Server3=12 "} << "12 " << -1;
    QTest::newRow("utf-8 kept") << QByteArrayList{"Ip2=\xEF\xBC\x91"} << "\uFF11" << -1;
    QTest::newRow("subnet 1") << QByteArrayList{"Subnet0=xy"} << "xy" << subnet;
    QTest::newRow("subnet 4") << QByteArrayList{"Subnet3=1 2"} << "1 2" << subnet + 3;
}

void SettingsChecksTest::conversionError() {
    QFETCH(QByteArrayList, changes);
    QFETCH(QString, quoted);
    QFETCH(int, stagedBytes);
    const SettingsTexts t = With(changes);
    PanelRecord pending;
    std::memset(&pending, 0xEE, sizeof pending);
    try {
        if (FirstFailedCheck(t)) QFAIL("a check failed");
        QVERIFY(stagedBytes >= 0);
        StageSettings(t, pending);
        QFAIL("no conversion error");
    } catch (const ConvertError& error) {
        QCOMPARE(QString::fromUtf8(error.what()), "'" + quoted + "' is not a valid integer value.");
        QCOMPARE(QString::fromStdString(error.Text()), quoted);
    }
    PanelRecord expected;
    std::memset(&expected, 0xEE, sizeof expected);
    if (stagedBytes > 0) {
        PanelRecord whole = expected;
        StageSettings(Baseline(), whole);
        std::memcpy(&expected, &whole, std::size_t(stagedBytes));
    }
    QCOMPARE(Raw(pending), Raw(expected));
}

void SettingsChecksTest::textsOf_data() {
    QTest::addColumn<QByteArray>("identity");
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<QByteArray>("facility");
    QTest::newRow("flat") << QByteArray("H01020304051", 12) << 0 << QByteArray("0102030405")
                          << QByteArray("1");
    QTest::newRow("villa") << QByteArray("H12340000000", 12) << 2 << QByteArray("1234")
                           << QByteArray("0");
    QTest::newRow("help") << QByteArray("P12340000001", 12) << 1 << QByteArray("1234")
                          << QByteArray("1");
    QTest::newRow("zero bytes are no villa")
        << QByteArray("H1234\0\0\0\0\0\0\0", 12) << 0 << QByteArray("1234") << QByteArray();
    // A zero byte ends the address: the '0's after it are not its 5th to 10th characters.
    QTest::newRow("zero byte before the zeros") << QByteArray("H12\0\0"
                                                              "0000001",
                                                              12)
                                                << 0 << QByteArray("12") << QByteArray("1");
    QTest::newRow("help with a zero byte early") << QByteArray("P12\0\0"
                                                               "0000001",
                                                               12)
                                                 << 1 << QByteArray("12") << QByteArray("1");
    QTest::newRow("other letter") << QByteArray("X0102030405\x31", 12) << 1
                                  << QByteArray("0102030405") << QByteArray("1");
}

void SettingsChecksTest::textsOf() {
    QFETCH(QByteArray, identity);
    QFETCH(int, type);
    QFETCH(QByteArray, address);
    QFETCH(QByteArray, facility);
    const PanelRecord r =
        MakeRecord(identity.constData(), {0, 0x50, 0x2A, 0x0A, 0xB, 0xFF}, {10, 0, 0, 7},
                   {255, 0, 0, 0}, {10, 0, 0, 1}, {0, 0, 0, 0}, "", 0, 200);
    QCOMPARE(int(DeviceTypeOf(r)), type);
    QCOMPARE(QByteArray::fromStdString(ShownAddress(r)), address);
    const SettingsTexts t = TextsOf(r);
    QCOMPARE(t.Type, type);
    QCOMPARE(QByteArray::fromStdString(t.Address), address);
    QCOMPARE(QByteArray::fromStdString(t.Facility), facility);
    QCOMPARE(t.Mac[0] + t.Mac[1] + t.Mac[2], std::string("0A0BFF"));
    QCOMPARE(t.Ip[0] + "." + t.Ip[3] + " " + t.Subnet[0] + " " + t.Server[3],
             std::string("10.7 255 0"));
    QCOMPARE(t.Unlock, std::string("200"));
}

void SettingsChecksTest::gbk() {
    QCOMPARE(GbkToUtf8("1\xCB\xCE!"), std::string("1\xE5\xAE\x8B!"));
    // A byte that is no whole character stays visible, one U+FFFD each, on every system.
    const std::string bad = "\xEF\xBF\xBD";
    QCOMPARE(GbkToUtf8("a\xFF!"), "a" + bad + "!");
    QCOMPARE(GbkToUtf8("a\xCB"), "a" + bad); // a lead byte at the end
    QCOMPARE(GbkToUtf8("\x81"), bad);        // a facility byte
    QCOMPARE(GbkToUtf8("\x80\xCB\xCE"), bad + "\xE5\xAE\x8B");
    // 0x7F is no trail byte: the lead byte alone is bad, the bytes after it stay.
    QCOMPARE(GbkToUtf8(std::string("\x81\x7F") + "1"), bad + "\x7F" + "1");
    QCOMPARE(GbkToUtf8("\xCB\xCE\xCB\xCE"), std::string("\xE5\xAE\x8B\xE5\xAE\x8B"));
    QVERIFY(!GbkDecodeStrict("a\xCB"));
    QVERIFY(!GbkDecodeStrict("\xFF"));
    QVERIFY(GbkDecodeStrict("1\xCB\xCE") == std::string("1\xE5\xAE\x8B"));
    QVERIFY(GbkDecodeStrict("") == std::string());
    QVERIFY(!GbkEncodeStrict("\xEF\xBF\xBD")); // what a bad byte shows as cannot be written
    QCOMPARE(WireBytes("1\xE5\xAE\x8B\xE0\xB8\x81"
                       "2\xC3"),
             std::string("1\xCB\xCE?2?"));
    QVERIFY(Utf8ToGbk("\xEF\xBC\x81") == std::string("\xA3\xA1"));
    QVERIFY(Utf8ToGbk("ab") == std::string("ab"));
    QVERIFY(!Utf8ToGbk("a\xE0\xB8\x81")); // Thai: no GBK form
    QVERIFY(!Utf8ToGbk("a\xC3"));         // cut UTF-8
    const uint8_t mac[6] = {0x00, 0x50, 0x2A, 0x10, 0x00, 0xA5};
    QCOMPARE(MacText(mac), std::string("00:50:2A:10:00:A5"));
}

void SettingsChecksTest::parseIpv4_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("parsed"); // empty: refused
    for (const char* good : {"192.168.1.20", "0.0.0.0", "255.255.255.255", "010.1.1.1"})
        QTest::newRow(good) << good << good;
    for (const char* bad : {"256.1.1.1", "1.2.3", "1.2.3.4.5", " 1.2.3.4", "1.2.3.4 ", "1..2.3",
                            "+1.2.3.4", "0001.2.3.4", "a.b.c.d", "", "1.2.3.-4"})
        QTest::newRow(bad) << bad << "";
}

void SettingsChecksTest::parseIpv4() {
    QFETCH(QString, text);
    QFETCH(QString, parsed);
    const auto bytes = ParseIpv4(text.toStdString());
    QCOMPARE(bytes.has_value(), !parsed.isEmpty());
    if (!bytes) return;
    uint8_t a[4];
    std::copy(bytes->begin(), bytes->end(), a);
    QCOMPARE(QString::fromStdString(Ipv4Text(a)),
             parsed == "010.1.1.1" ? QString("10.1.1.1") : parsed);
}

void SettingsChecksTest::readBack() {
    PanelRecord staged{};
    StageSettings(Baseline(), staged);
    PanelRecord reported = staged;
    reported.UnlockTime = 5; // the panel reports seconds
    std::memcpy(reported.Version, "V2", 2);
    reported.Spare = 9;
    QVERIFY(ReportsStaged(reported, staged));
    for (const auto change :
         {+[](PanelRecord& r) { r.UnlockTime = '5'; }, +[](PanelRecord& r) { r.Ip[3] = 21; },
          +[](PanelRecord& r) { r.Facility = '0'; }, +[](PanelRecord& r) { r.Address[9] = '6'; },
          +[](PanelRecord& r) { r.Mac[5] = 1; }, +[](PanelRecord& r) { r.Server[0] = 1; }}) {
        PanelRecord other = reported;
        change(other);
        QVERIFY(!ReportsStaged(other, staged));
    }
}

// Every type with every shape of address a write can stage: what the panel reports afterwards,
// when that is not what was asked.
void SettingsChecksTest::readsBackOtherwise_data() {
    QTest::addColumn<int>("type");
    QTest::addColumn<QByteArray>("address"); // GBK bytes
    QTest::addColumn<int>("backType");       // -1: reads back as asked
    QTest::addColumn<QByteArray>("backAddress");
    const int flat = 0, help = 1, villa = 2;
    const QByteArray ten = "0102030405", sixZeros = "0102000000", four = "0102";
    const QByteArray gbkSixZeros = "\xD6\xD0\xCE\xC4"
                                   "000000"; // two hanzi, then zeros
    const QByteArray zeroInTen("0102\0"
                               "12345",
                               10),
        zeroInFour("01\0"
                   "2",
                   4);
    const QByteArray fiveZeros = "0102300000", allZeros = "0000000000";
    for (const auto& [name, type] :
         {std::pair{"flat", flat}, std::pair{"help", help}, std::pair{"villa", villa}}) {
        const auto row = [&](const char* shape) -> QTestData& {
            return QTest::newRow(QByteArray(name) + ", " + shape);
        };
        const bool isFlat = type == flat;
        // An address of the wrong length is refused before: nothing is staged.
        row("ten bytes") << type << ten << -1 << QByteArray();
        row("four bytes") << type << four << -1 << QByteArray();
        row("five zeros at the end") << type << fiveZeros << -1 << QByteArray();
        row("six zeros at the end")
            << type << sixZeros << (isFlat ? villa : -1) << (isFlat ? four : QByteArray());
        row("GBK, six zeros at the end")
            << type << gbkSixZeros << (isFlat ? villa : -1)
            << (isFlat ? QByteArray("\xD6\xD0\xCE\xC4") : QByteArray());
        row("all zeros") << type << allZeros << (isFlat ? villa : -1)
                         << (isFlat ? QByteArray("0000") : QByteArray());
        row("zero byte in ten") << type << zeroInTen << (isFlat ? flat : -1)
                                << (isFlat ? four : QByteArray());
        // A villa camera's zeros after a zero byte are no longer its address's 5th to 10th.
        row("zero byte in four") << type << zeroInFour
                                 << (isFlat          ? -1
                                     : type == villa ? flat
                                                     : help)
                                 << (isFlat ? QByteArray() : QByteArray("01"));
    }
}

void SettingsChecksTest::readsBackOtherwise() {
    QFETCH(int, type);
    QFETCH(QByteArray, address);
    QFETCH(int, backType);
    QFETCH(QByteArray, backAddress);
    const auto back = ReadsBackOtherwise(type, address.toStdString());
    QCOMPARE(back.has_value(), backType >= 0);
    // What the staging sends, read as a panel's report, is what the rule says.
    SettingsTexts t = Baseline();
    t.Type = type;
    t.Address = address.toStdString();
    PanelRecord staged{};
    StageSettings(t, staged);
    const bool lengthFits = address.size() == (type == 0 ? 10 : 4);
    if (lengthFits) {
        QCOMPARE(int(DeviceTypeOf(staged)), back ? back->Type : type);
        QCOMPARE(QByteArray::fromStdString(ShownAddress(staged)), back ? backAddress : address);
    }
    // The window's Write refuses it on the address box.
    const auto failure = FirstFailedCheck(t);
    QCOMPARE(failure.has_value(), !lengthFits || back.has_value());
    if (failure) QCOMPARE(int(failure->Box), int(SettingsBox::Address));
    if (!back) return;
    QCOMPARE(back->Type, backType);
    QCOMPARE(QByteArray::fromStdString(back->Address), backAddress);
    QCOMPARE(QString::fromStdString(failure->Why), QString::fromStdString(back->Why));
    QVERIFY2(back->Why.find(backType == 2 ? "write villa" : "leave it out") != std::string::npos,
             back->Why.c_str());
}

QTEST_APPLESS_MAIN(SettingsChecksTest)
#include "tst_settingschecks.moc"
