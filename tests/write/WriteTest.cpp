#include <QComboBox>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSignalSpy>
#include <QTest>
#include <cstddef>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "Dialogs.h"
#include "Form1Logic.h"
#include "RecordingView.h"
#include "Records.h"
#include "TEdit.h"
#include "Unit1.h"
#include "WindowFixture.h"

using RecordEdit = void (*)(PanelRecord&);
Q_DECLARE_METATYPE(RecordEdit)
Q_DECLARE_METATYPE(PanelRecord)

namespace {

// The panel as the search reported it.
PanelRecord Reported() {
    return MakeRecord("H99887766550", {0x00, 0x50, 0x2A, 0x01, 0x02, 0x03}, {10, 0, 0, 7},
                      {255, 0, 0, 0}, {10, 0, 0, 1}, {10, 0, 0, 2}, "V2.01-2019", 7, 3);
}

// Another panel of the same search, listed around the one written to.
PanelRecord Neighbour(int n) {
    const QByteArray identity = "H" + QByteArray::number(1122334400 + n) + "1";
    return MakeRecord(identity.constData(), {0x00, 0x50, 0x2A, 9, 9, 9}, {10, 0, 0, 100 + n},
                      {255, 0, 0, 0}, {10, 0, 0, 1}, {10, 0, 0, 2}, "N", 0, 4);
}

// The staged form of the baseline settings below.
PanelRecord BaselineStaged() {
    return MakeRecord("H01020304051", {0x00, 0x50, 0x2A, 0x0A, 0xFF, 0x00}, {192, 168, 1, 20},
                      {255, 255, 255, 0}, {192, 168, 1, 1}, {192, 168, 1, 2}, "", 0, '5');
}

QByteArray Bytes(const void* data, std::size_t size) {
    return QByteArray(static_cast<const char*>(data), qsizetype(size));
}

QByteArray Field(const PanelRecord& r, const QString& name) {
    if (name == "type") return Bytes(&r.TypeLetter, 1);
    if (name == "address") return Bytes(r.Address, sizeof r.Address);
    if (name == "facility") return Bytes(&r.Facility, 1);
    if (name == "mac") return Bytes(r.Mac, sizeof r.Mac);
    if (name == "ip") return Bytes(r.Ip, sizeof r.Ip);
    if (name == "subnet") return Bytes(r.Subnet, sizeof r.Subnet);
    if (name == "gateway") return Bytes(r.Gateway, sizeof r.Gateway);
    if (name == "server") return Bytes(r.Server, sizeof r.Server);
    if (name == "unlock") return Bytes(&r.UnlockTime, 1);
    qFatal("unknown field %s", qPrintable(name));
}

const QString SegmentText = "IP and Gateway must be in same network segment";

// The settings every test starts from; valid, and staged as BaselineStaged().
const QStringList Baseline = {
    "Edit1=0102030405", "Edit6=1",    "Edit3=0A",   "Edit4=FF",   "Edit5=00",   "Edit7=192",
    "Edit8=168",        "Edit9=1",    "Edit10=20",  "Edit13=255", "Edit14=255", "Edit15=255",
    "Edit16=0",         "Edit18=192", "Edit19=168", "Edit20=1",   "Edit21=1",   "Edit23=192",
    "Edit24=168",       "Edit25=1",   "Edit26=2",   "Edit28=5"};

} // namespace

class WriteTest : public WindowFixture {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();

    void noSelection();
    void checks_data();
    void checks();
    void emptyBoxesTakeDefaults();
    void staging_data();
    void staging();
    void conversionError_data();
    void conversionError();
    void sameSegment_data();
    void sameSegment();
    void writeRequestBytes();
    void decisionsWithoutWidgets_data();
    void decisionsWithoutWidgets();
    void unusualPanels_data();
    void unusualPanels();

  private:
    TEdit* Edit(const QString& name) const;
    // "Edit10=0" sets a box, "type=2" picks the device type.
    void Apply(const QStringList& settings);
    void Press() {
        Form->Logic.Run([this] { Form->Button1Click(); });
    }
    // A valid write with `marker` as the server's last byte must be the first datagram sent:
    // so the presses before it queued nothing.
    void VerifyNothingQueuedBefore();
    bool ButtonsEnabled() const {
        return Form->Button1->isEnabled() && Form->Button2->isEnabled() &&
               Form->Button3->isEnabled();
    }
};

void WriteTest::init() {
    MakeWindow();
    Form->Link = Link.get();
    Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
    QCOMPARE(Form->ComboBox1->currentIndex(), 0);
    // The second of three listed panels is selected.
    Form->ApplyPanel(Neighbour(0));
    Form->ApplyPanel(Reported());
    Form->ApplyPanel(Neighbour(2));
    Form->ListBox1->setCurrentRow(1);
    Apply(Baseline);
    Statuses.clear();
}

void WriteTest::cleanup() {
    DropWindow();
}

TEdit* WriteTest::Edit(const QString& name) const {
    TEdit* const edits[] = {Form->Edit1,  Form->Edit2,  Form->Edit3,  Form->Edit4,  Form->Edit5,
                            Form->Edit6,  Form->Edit7,  Form->Edit8,  Form->Edit9,  Form->Edit10,
                            Form->Edit11, Form->Edit12, Form->Edit13, Form->Edit14, Form->Edit15,
                            Form->Edit16, Form->Edit17, Form->Edit18, Form->Edit19, Form->Edit20,
                            Form->Edit21, Form->Edit22, Form->Edit23, Form->Edit24, Form->Edit25,
                            Form->Edit26, Form->Edit27, Form->Edit28};
    bool ok = false;
    const int number = name.mid(4).toInt(&ok);
    if (!name.startsWith("Edit") || !ok || number < 1 || number > 28)
        qFatal("no box %s", qPrintable(name));
    return edits[number - 1];
}

void WriteTest::Apply(const QStringList& settings) {
    for (const QString& setting : settings) {
        const qsizetype at = setting.indexOf('=');
        const QString name = setting.left(at), value = setting.mid(at + 1);
        if (name == "type")
            Form->ComboBox1->setCurrentIndex(value.toInt());
        else
            Edit(name)->setText(value);
    }
}

void WriteTest::VerifyNothingQueuedBefore() {
    static int marker = 0;
    marker = marker % 200 + 1;
    Boxes.clear();
    Form->ComboBox1->setCurrentIndex(0);
    Apply({"Edit1=0102030405", "Edit6=1",
           "Edit3=0A",         "Edit4=FF",
           "Edit5=00",         "Edit7=192",
           "Edit8=168",        "Edit9=1",
           "Edit10=20",        "Edit13=255",
           "Edit14=255",       "Edit15=255",
           "Edit16=0",         "Edit18=192",
           "Edit19=168",       "Edit20=1",
           "Edit21=1",         "Edit23=192",
           "Edit24=168",       "Edit25=1",
           "Edit28=5",         QString("Edit26=%1").arg(marker)});
    Press();
    QVERIFY(Boxes.empty());
    QTRY_VERIFY(Link->Count() >= 1);
    const QByteArray first = Link->Taken().front().Bytes;
    QVERIFY(first.size() > 93);
    QCOMPARE(uint8_t(first[93]), uint8_t(marker)); // new server address, last byte
}

void WriteTest::noSelection() {
    for (int n = 1; n <= 28; ++n)
        if (n != 2 && n != 11 && n != 12 && n != 17 && n != 22)
            Edit(QString("Edit%1").arg(n))->clear();
    // The line stays current but is no longer selected: that is no selection.
    Form->ListBox1->clearSelection();
    QCOMPARE(Form->ListBox1->currentRow(), 1);
    const PanelRecord before = Form->PendingSettings;
    Form->Button1->click(); // through the window's own binding
    QCOMPARE(Boxes.size(), std::size_t(1));
    QCOMPARE(Boxes[0].Text, QString("Pls select a pannel ！"));
    QCOMPARE(Boxes[0].Title, QString("Fault"));
    QCOMPARE(Boxes[0].Flags, 16);
    QVERIFY(Form->Edit28->text().isEmpty());
    QVERIFY(Form->Edit3->text().isEmpty());
    QVERIFY(std::memcmp(&before, &Form->PendingSettings, sizeof before) == 0);
    QVERIFY(Statuses.isEmpty());
    QVERIFY(ButtonsEnabled());
    Form->ListBox1->setCurrentRow(1);
    VerifyNothingQueuedBefore();
}

void WriteTest::checks_data() {
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("title");
    QTest::addColumn<int>("flags");
    QTest::addColumn<QString>("focus");
    QTest::addColumn<bool>("selected");

    const QString range = "Pls input a number between 0 - 255！";
    const QString again = "Pls input again";
    const auto invalidIp = [&](const char* row, QStringList settings, const char* box) {
        QTest::newRow(row) << settings << "Invalid IP！" << again << 16 << box << false;
    };
    const auto outOfRange = [&](const char* row, QStringList settings, const char* box) {
        QTest::newRow(row) << settings << range << again << 16 << box << true;
    };
    const QString flat = "Invalid Address bits ，10 bits for Flat station！";
    const QString shortAddress = "Invalid Address bits ，4 bits for Help station & Villa camera！";
    const auto info = [&](const char* row, QStringList settings, const QString& text,
                          const char* box) {
        QTest::newRow(row) << settings << text << "Error" << 64 << box << false;
    };

    invalidIp("1 ip host 0", {"Edit10=0"}, "Edit10");
    invalidIp("1 ip host 255", {"Edit10=255"}, "Edit10");
    outOfRange("2 ip byte 1 is 256", {"Edit7=256"}, "Edit7");
    outOfRange("3 ip byte 2 is 256", {"Edit8=256"}, "Edit8");
    outOfRange("3 ip byte 2 is -1", {"Edit8=-1"}, "Edit8");
    outOfRange("4 ip byte 3 is 999", {"Edit9=999"}, "Edit9");
    outOfRange("5 ip host 300", {"Edit10=300"}, "Edit10");
    invalidIp("6 gateway host 0", {"Edit21=0"}, "Edit21");
    invalidIp("6 gateway host 255", {"Edit21=255"}, "Edit21");
    outOfRange("7 gateway byte 1", {"Edit18=256"}, "Edit18");
    outOfRange("8 gateway byte 2", {"Edit19=-5"}, "Edit19");
    outOfRange("9 gateway byte 3", {"Edit20=1000"}, "Edit20");
    outOfRange("10 gateway host", {"Edit21=-1"}, "Edit21");
    invalidIp("11 server host 0", {"Edit26=0"}, "Edit26");
    invalidIp("11 server host 255", {"Edit26=255"}, "Edit26");
    outOfRange("12 server byte 1", {"Edit23=256"}, "Edit23");
    outOfRange("13 server byte 2", {"Edit24=256"}, "Edit24");
    outOfRange("14 server byte 3", {"Edit25=-1"}, "Edit25");
    outOfRange("15 server host", {"Edit26=999"}, "Edit26");
    info("16 flat with 4", {"Edit1=1234"}, flat, "Edit1");
    info("16 flat with 11", {"Edit1=01234567890"}, flat, "Edit1");
    info("16 villa with 10", {"type=2", "Edit1=0102030405"}, shortAddress, "Edit1");
    info("16 help with 10", {"type=1", "Edit6=0", "Edit1=0102030405"}, shortAddress, "Edit1");
    info("16 villa with 3", {"type=2", "Edit1=123"}, shortAddress, "Edit1");
    // Ten characters, eleven bytes on the wire.
    info("16 flat, two-byte character", {"Edit1=012345678宋"}, flat, "Edit1");
    // What is written must read back as typed: ten bytes ending in six '0' are a villa camera.
    const QString readsBack =
        "Flat station address can not end with 000000 ，it reads back as Villa camera！";
    QTest::newRow("16 flat ending in six zeros")
        << QStringList{"Edit1=0102000000"} << readsBack << "Error" << 64 << "Edit1" << true;
    QTest::newRow("16 flat, two hanzi and six zeros")
        << QStringList{"Edit1=宋宋000000"} << readsBack << "Error" << 64 << "Edit1" << true;
    info("17 facility empty", {"Edit6="}, "Invalid facility NO.", "Edit6");
    info("18 facility 2", {"Edit6=2"}, "Facility NO. between 0-1", "Edit6");
    info("18 facility 9", {"Edit6=9"}, "Facility NO. between 0-1", "Edit6");
    info("18 facility letter", {"Edit6=a"}, "Facility NO. between 0-1", "Edit6");
    info("18 facility blank", {"Edit6= "}, "Facility NO. between 0-1", "Edit6");
    info("18 facility 10", {"Edit6=10"}, "Facility NO. between 0-1", "Edit6");
    // What a byte that is no GBK character shows as: typed, it cannot go out as it reads.
    QTest::newRow("edited facility without GBK form")
        << QStringList{"Edit6=\uFFFD"} << "Invalid character！" << again << 16 << "Edit6" << true;
    QTest::newRow("edited address without GBK form")
        << QStringList{"Edit1=01234567\uFFFD\uFFFD"} << "Invalid character！" << again << 16
        << "Edit1" << true;
    info("19 flat unlock 0", {"Edit28=0"}, "Unlocking time between 1-9", "Edit28");
    info("19 flat unlock letter", {"Edit28=a"}, "Unlocking time between 1-9", "Edit28");
    info("19 flat unlock blank", {"Edit28= "}, "Unlocking time between 1-9", "Edit28");
    QTest::newRow("20 mac beyond f")
        << QStringList{"Edit4=zz"} << "Invalid MAC！" << again << 16 << "Edit4" << true;
    QTest::newRow("20 mac blank") << QStringList{"Edit5= "} << "Invalid MAC！" << again << 16
                                  << "Edit5" << true;
    QTest::newRow("20 mac first") << QStringList{"Edit3=g1", "Edit5=zz"} << "Invalid MAC！" << again
                                  << 16 << "Edit3" << true;
    // Several faults: the first check in order wins.
    invalidIp("order 1 before 2", {"Edit7=256", "Edit10=0"}, "Edit10");
    outOfRange("order ip before gateway", {"Edit21=0", "Edit9=300"}, "Edit9");
    outOfRange("order 5 before 6", {"Edit10=300", "Edit21=0"}, "Edit10");
    outOfRange("order gateway before server", {"Edit26=0", "Edit20=300"}, "Edit20");
    // Addresses that cut the panel off: after every check of the window's own.
    invalidIp("ip first byte 0", {"Edit7=0", "Edit18=0"}, "Edit7");
    invalidIp("ip loopback", {"Edit7=127", "Edit18=127"}, "Edit7");
    invalidIp("ip broadcast of its /25", {"Edit16=128", "Edit10=127"}, "Edit10");
    invalidIp("gateway is the ip", {"Edit21=20"}, "Edit21");
    invalidIp("order server before address", {"Edit1=1", "Edit26=255"}, "Edit26");
    info("order address before facility", {"Edit1=1", "Edit6="}, flat, "Edit1");
    info("order facility before unlock", {"Edit6=2", "Edit28=0"}, "Facility NO. between 0-1",
         "Edit6");
    info("order unlock before mac", {"Edit28=0", "Edit3=zz"}, "Unlocking time between 1-9",
         "Edit28");
}

void WriteTest::checks() {
    QFETCH(QStringList, settings);
    QFETCH(QString, text);
    QFETCH(QString, title);
    QFETCH(int, flags);
    QFETCH(QString, focus);
    QFETCH(bool, selected);

    Apply(settings);
    Form->Button1->setFocus();
    const PanelRecord before = Form->PendingSettings;
    Press();

    QCOMPARE(Boxes.size(), std::size_t(1));
    QCOMPARE(Boxes[0].Text, text);
    QCOMPARE(Boxes[0].Title, title);
    QCOMPARE(Boxes[0].Flags, flags);
    TEdit* box = Edit(focus);
    QCOMPARE(Form->focusWidget(), static_cast<QWidget*>(box));
    QCOMPARE(box->hasSelectedText(), selected);
    if (selected) QCOMPARE(box->selectedText(), box->text());
    QVERIFY(std::memcmp(&before, &Form->PendingSettings, sizeof before) == 0);
    QVERIFY(Statuses.isEmpty());
    QVERIFY(ButtonsEnabled());
    VerifyNothingQueuedBefore();
}

void WriteTest::emptyBoxesTakeDefaults() {
    const QStringList filled = {"Edit3",  "Edit4",  "Edit5",  "Edit7",  "Edit8",
                                "Edit9",  "Edit10", "Edit13", "Edit14", "Edit15",
                                "Edit16", "Edit18", "Edit19", "Edit20", "Edit21",
                                "Edit23", "Edit24", "Edit25", "Edit26", "Edit28"};
    for (const QString& name : filled)
        Edit(name)->clear();
    Press();
    // 10.10.10.10 as IP and gateway: the panel would be its own gateway.
    QCOMPARE(Boxes.size(), std::size_t(1));
    QCOMPARE(Boxes[0].Text, QString("Invalid IP！"));
    for (const QString& name : filled)
        QCOMPARE(Edit(name)->text(), QString("10"));
    Boxes.clear();
    Edit("Edit21")->setText("11");
    Press();
    QVERIFY(Boxes.empty());
    const PanelRecord& staged = Form->PendingSettings;
    QCOMPARE(Field(staged, "mac"), QByteArray("\x00\x50\x2A\x10\x10\x10", 6));
    for (const char* address : {"ip", "subnet", "server"})
        QCOMPARE(Field(staged, address), QByteArray("\x0A\x0A\x0A\x0A"));
    QCOMPARE(Field(staged, "gateway"), QByteArray("\x0A\x0A\x0A\x0B"));
    QCOMPARE(Field(staged, "unlock"), QByteArray("1"));
    QCOMPARE(Field(staged, "address"), QByteArray("0102030405"));
    QTRY_COMPARE(Link->Count(), 1);
}

void WriteTest::staging_data() {
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<QString>("field");
    QTest::addColumn<QByteArray>("expected");

    QTest::newRow("subnet 999") << QStringList{"Edit14=999"} << "subnet"
                                << QByteArray("\xFF\xE7\xFF\x00", 4);
    // The window checks no mask: 255.255.0.255 goes out as it is.
    QTest::newRow("subnet -1") << QStringList{"Edit15=0", "Edit16=-1", "Edit20=0", "Edit21=20"}
                               << "subnet" << QByteArray("\xFF\xFF\x00\xFF", 4);
    QTest::newRow("subnet int32 minimum")
        << QStringList{"Edit16=-2147483648"} << "subnet" << QByteArray("\xFF\xFF\xFF\x00", 4);
    QTest::newRow("mac 0f") << QStringList{"Edit3=0f"} << "mac"
                            << QByteArray("\x00\x50\x2A\x0F\xFF\x00", 6);
    QTest::newRow("mac 0F") << QStringList{"Edit4=0F"} << "mac"
                            << QByteArray("\x00\x50\x2A\x0A\x0F\x00", 6);
    QTest::newRow("mac 7") << QStringList{"Edit5=7"} << "mac"
                           << QByteArray("\x00\x50\x2A\x0A\xFF\x07", 6);
    QTest::newRow("mac stops at other char")
        << QStringList{"Edit5=1g"} << "mac" << QByteArray("\x00\x50\x2A\x0A\xFF\x01", 6);
    QTest::newRow("ip first byte 1")
        << QStringList{"Edit7=1", "Edit18=1"} << "ip" << QByteArray("\x01\xA8\x01\x14", 4);
    QTest::newRow("ip first byte 255")
        << QStringList{"Edit7=255", "Edit18=255"} << "ip" << QByteArray("\xFF\xA8\x01\x14", 4);
    QTest::newRow("ip with sign and blanks")
        << QStringList{"Edit9= +1"} << "ip" << QByteArray("\xC0\xA8\x01\x14");
    QTest::newRow("flat address unchanged")
        << QStringList{"Edit1=9876543210"} << "address" << QByteArray("9876543210");
    QTest::newRow("villa address padded")
        << QStringList{"type=2", "Edit1=12ab"} << "address" << QByteArray("12ab000000");
    QTest::newRow("villa type letter")
        << QStringList{"type=2", "Edit1=1234"} << "type" << QByteArray("H");
    QTest::newRow("help type letter")
        << QStringList{"type=1", "Edit6=0", "Edit1=1234"} << "type" << QByteArray("P");
    QTest::newRow("help address padded")
        << QStringList{"type=1", "Edit6=0", "Edit1=4321"} << "address" << QByteArray("4321000000");
    QTest::newRow("flat type letter") << QStringList{} << "type" << QByteArray("H");
    QTest::newRow("facility 0") << QStringList{"Edit6=0"} << "facility" << QByteArray("0");
    QTest::newRow("unlock 9") << QStringList{"Edit28=9"} << "unlock" << QByteArray("9");
    QTest::newRow("help unlock 0 unchecked")
        << QStringList{"type=1", "Edit6=0", "Edit1=1234", "Edit28=0"} << "unlock"
        << QByteArray("0");
    QTest::newRow("villa unlock letter unchecked")
        << QStringList{"type=2", "Edit1=1234", "Edit28=a"} << "unlock" << QByteArray("a");
    QTest::newRow("server first bytes unchecked")
        << QStringList{"Edit23=0", "Edit24=255"} << "server" << QByteArray("\x00\xFF\x01\x02", 4);
}

void WriteTest::staging() {
    QFETCH(QStringList, settings);
    QFETCH(QString, field);
    QFETCH(QByteArray, expected);
    Apply(settings);
    Press();
    QVERIFY(Boxes.empty());
    QCOMPARE(Field(Form->PendingSettings, field), expected);
    QCOMPARE(Form->PendingSettings.Terminator, '\0');
    QTRY_COMPARE(Link->Count(), 1);
    QCOMPARE(Link->Taken()[0].Bytes.mid(52, 42),
             Bytes(&Form->PendingSettings, PanelIdentityLength) + QByteArray(8, '\0') +
                 Bytes(Form->PendingSettings.Mac, 22));
}

void WriteTest::conversionError_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("stagedBytes"); // of PendingSettings, from its start

    const int subnet = int(offsetof(PanelRecord, Subnet));
    QTest::newRow("ip letters") << "Edit9"
                                << "ab" << 0;
    QTest::newRow("ip host lone sign") << "Edit10"
                                       << "-" << 0;
    QTest::newRow("gateway blank") << "Edit19"
                                   << " " << 0;
    QTest::newRow("server blank after") << "Edit26"
                                        << "12 " << 0;
    QTest::newRow("subnet 1 letters") << "Edit13"
                                      << "xy" << subnet;
    QTest::newRow("subnet 2 letters") << "Edit14"
                                      << "ab" << subnet + 1;
    QTest::newRow("subnet 4 blank inside") << "Edit16"
                                           << "1 2" << subnet + 3;
}

void WriteTest::conversionError() {
    QFETCH(QString, box);
    QFETCH(QString, text);
    QFETCH(int, stagedBytes);

    std::memset(&Form->PendingSettings, 0xEE, sizeof(PanelRecord));
    Edit(box)->setText(text);
    Press();

    QCOMPARE(Boxes.size(), std::size_t(1));
    QCOMPARE(Boxes[0].Text, "'" + text + "' is not a valid integer value.");
    QCOMPARE(Boxes[0].Title, Dialogs::ApplicationTitle());
    QCOMPARE(Boxes[0].Flags, 16);
    const PanelRecord expected = BaselineStaged();
    const QByteArray staged = Bytes(&Form->PendingSettings, sizeof(PanelRecord));
    QCOMPARE(staged.left(stagedBytes), Bytes(&expected, sizeof expected).left(stagedBytes));
    QCOMPARE(staged.mid(stagedBytes), QByteArray(int(sizeof(PanelRecord)) - stagedBytes, '\xEE'));
    QVERIFY(Statuses.isEmpty());
    QVERIFY(ButtonsEnabled());
    VerifyNothingQueuedBefore();
}

void WriteTest::sameSegment_data() {
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<bool>("queued");

    const QStringList ip = {"Edit7=192", "Edit8=168", "Edit9=1", "Edit10=20"};
    const QStringList gateway = {"Edit18=192", "Edit19=168", "Edit20=2", "Edit21=1"};
    QTest::newRow("/24 apart") << ip + gateway +
                                      QStringList{"Edit13=255", "Edit14=255", "Edit15=255",
                                                  "Edit16=0"}
                               << false;
    QTest::newRow("/16 together") << ip + gateway +
                                         QStringList{"Edit13=255", "Edit14=255", "Edit15=0",
                                                     "Edit16=0"}
                                  << true;
    QTest::newRow("mask 0 passes") << QStringList{"Edit7=1",  "Edit18=200", "Edit19=9", "Edit13=0",
                                                  "Edit14=0", "Edit15=0",   "Edit16=0"}
                                   << true;
    QTest::newRow("first byte apart")
        << QStringList{"Edit7=10", "Edit18=11", "Edit13=255", "Edit14=0", "Edit15=0", "Edit16=0"}
        << false;
    QTest::newRow("host byte apart under /32")
        << QStringList{"Edit16=255", "Edit10=20", "Edit21=1"} << false;
    QTest::newRow("server elsewhere") << QStringList{"Edit23=8", "Edit24=8", "Edit25=8"} << true;
    QTest::newRow("mask of 999 keeps 231")
        << QStringList{"Edit8=168", "Edit19=160", "Edit14=999"} << true;
}

void WriteTest::sameSegment() {
    QFETCH(QStringList, settings);
    QFETCH(bool, queued);
    Apply(settings);
    Press();
    QVERIFY(Boxes.empty());
    if (queued) {
        QCOMPARE(Statuses, QStringList{""});
        QVERIFY(!Form->Button1->isEnabled());
        QVERIFY(!Form->Button2->isEnabled());
        QVERIFY(!Form->Button3->isEnabled());
        QTRY_COMPARE(Link->Count(), 1);
        return;
    }
    QCOMPARE(Statuses, QStringList{SegmentText});
    QCOMPARE(Form->Label11->text(), SegmentText);
    QVERIFY(ButtonsEnabled());
    // The settings stay staged although nothing goes out.
    QCOMPARE(Form->PendingSettings.Ip[3], uint8_t(Edit("Edit10")->text().toInt()));
    QCOMPARE(Form->PendingSettings.Gateway[0], uint8_t(Edit("Edit18")->text().toInt()));
    VerifyNothingQueuedBefore();
}

void WriteTest::writeRequestBytes() {
    Form->ComboBox1->setCurrentIndex(2);
    Apply({"Edit1=12ab", "Edit6=0", "Edit3=c4", "Edit28=7"});
    Press();
    QVERIFY(Boxes.empty());
    QTRY_COMPARE(Link->Count(), 1);
    const RecordingLink::Datagram sent = Link->Taken()[0];
    QCOMPARE(sent.Address, std::string("255.255.255.255"));
    QCOMPARE(sent.Port, 8300);
    QCOMPARE(sent.Bytes.size(), 96);

    QByteArray expected = QByteArray("XXXCID\xFE\x01\x00\x00", 10);
    // Current block: the selected record exactly as the search reported it.
    expected += QByteArray("H") + "9988776655" + "0" + QByteArray(8, '\0');
    expected += QByteArray("\x00\x50\x2A\x01\x02\x03", 6);
    expected += QByteArray("\x0A\x00\x00\x07\xFF\x00\x00\x00\x0A\x00\x00\x01\x0A\x00\x00\x02", 16);
    // New block: the staged settings.
    expected += QByteArray("H") + "12ab000000" + "0" + QByteArray(8, '\0');
    expected += QByteArray("\x00\x50\x2A\xC4\xFF\x00", 6);
    expected += QByteArray("\xC0\xA8\x01\x14\xFF\xFF\xFF\x00\xC0\xA8\x01\x01\xC0\xA8\x01\x02", 16);
    expected += QByteArray("\x00\x07", 2); // spare 0, unlocking time as a number
    QCOMPARE(expected.size(), 96);
    for (int at = 0; at < 96; ++at)
        if (sent.Bytes[at] != expected[at])
            QFAIL(qPrintable(QString("byte %1 is %2, not %3")
                                 .arg(at)
                                 .arg(uint8_t(sent.Bytes[at]))
                                 .arg(uint8_t(expected[at]))));

    // The window took the reply road: cleared first, then the give-up enables the buttons.
    QCOMPARE(Statuses.value(0), QString(""));
    QTRY_VERIFY(ButtonsEnabled());
    QCOMPARE(Form->PendingSettings.UnlockTime, uint8_t('7'));
    QCOMPARE(Form->PendingSettings.Spare, uint8_t(0));
}

// The same handler on a face without widgets: what it tells the face, in order.
void WriteTest::decisionsWithoutWidgets_data() {
    QTest::addColumn<QStringList>("settings"); // on top of Baseline; "select=-1", "type=2"
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<bool>("queued");

    const QString again = "|Pls input again|16";
    const QStringList disabled = {"enable Button1 0", "enable Button2 0", "enable Button3 0"};
    QTest::newRow("no selection") << QStringList{"select=-1"}
                                  << QStringList{"box Pls select a pannel ！|Fault|16"} << false;
    QTest::newRow("host byte: focus after the box")
        << QStringList{"Edit10=0"} << QStringList{"box Invalid IP！" + again, "focus Edit10"}
        << false;
    QTest::newRow("range: focus, then the text selected")
        << QStringList{"Edit19=-5"}
        << QStringList{"box Pls input a number between 0 - 255！" + again, "focus Edit19",
                       "select Edit19"}
        << false;
    QTest::newRow("mac without a digit")
        << QStringList{"Edit4=zz"}
        << QStringList{"box Invalid MAC！" + again, "focus Edit4", "select Edit4"} << false;
    QTest::newRow("address of a villa camera")
        << QStringList{"type=2"}
        << QStringList{"box Invalid Address bits ，4 bits for Help station & Villa "
                       "camera！|Error|64",
                       "focus Edit1"}
        << false;
    QTest::newRow("no integer: the exception display, the focus stays")
        << QStringList{"Edit8=x"} << QStringList{"error 'x' is not a valid integer value."}
        << false;
    QTest::newRow("empty boxes take 10 before the checks")
        << QStringList{"Edit7=", "Edit28="}
        << QStringList{"text Edit7=10", "text Edit28=10", "status " + SegmentText} << false;
    QTest::newRow("valid: status emptied, buttons off, queued")
        << QStringList{} << (QStringList{"status "} + disabled) << true;
}

void WriteTest::decisionsWithoutWidgets() {
    QFETCH(QStringList, settings);
    QFETCH(QStringList, calls);
    QFETCH(bool, queued);

    RecordingView view;
    Form1Logic logic(view);
    logic.ApplyPanel(Neighbour(0));
    logic.ApplyPanel(Reported());
    view.Selected = 1;
    for (const QString& setting : Baseline + settings) {
        const qsizetype at = setting.indexOf('=');
        const QString name = setting.left(at), value = setting.mid(at + 1);
        if (name == "select")
            view.Selected = value.toInt();
        else if (name == "type")
            view.Combo = value.toInt();
        else
            view.Texts[EditNo(name.mid(4).toInt())] = value.toStdString();
    }
    view.Calls.clear();

    logic.Button1Click();
    QStringList seen;
    for (const std::string& call : view.Calls)
        seen << QString::fromStdString(call);
    QCOMPARE(seen, calls);
    QCOMPARE(logic.Queue.ActiveSlots(), queued ? 1 : 0);
    if (queued) {
        const PanelRecord expected = BaselineStaged();
        QCOMPARE(Bytes(&logic.PendingSettings, sizeof expected), Bytes(&expected, sizeof expected));
    }
}

// Panels with unusual records, selected in the list, one box edited (or none), Write: the request
// carries the panel's own bytes but for the edited field.
void WriteTest::unusualPanels_data() {
    QTest::addColumn<PanelRecord>("panel");
    QTest::addColumn<QStringList>("settings");
    QTest::addColumn<RecordEdit>("edit"); // what the request gives the panel
    const RecordEdit none = [](PanelRecord&) {};
    const RecordEdit unlock7 = [](PanelRecord& r) { r.UnlockTime = 7; };
    const RecordEdit ip77 = [](PanelRecord& r) { r.Ip[3] = 77; };
    for (const UnusualPanel& p : UnusualPanels()) {
        QTest::newRow(QByteArray("nothing edited, ") + p.Name) << p.Record << QStringList{} << none;
        QTest::newRow(QByteArray("unlock, ") + p.Name)
            << p.Record << QStringList{"Edit28=7"} << unlock7;
        QTest::newRow(QByteArray("ip, ") + p.Name) << p.Record << QStringList{"Edit10=77"} << ip77;
    }
    // Another device type stages the address with it.
    QTest::newRow("villa picked, flat, four digits and zero bytes")
        << UnusualPanels()[0].Record << QStringList{"type=2"}
        << RecordEdit([](PanelRecord& r) { std::memcpy(r.Address, "1234000000", 10); });
    QTest::newRow("flat picked, type letter X")
        << UnusualPanels()[2].Record << QStringList{"type=0"}
        << RecordEdit([](PanelRecord& r) { r.TypeLetter = 'H'; });
    // Edited and edited back is as shown.
    QTest::newRow("unlock edited back, unlock 12")
        << UnusualPanels()[6].Record << QStringList{"Edit28=1", "Edit28=12"} << none;
}

void WriteTest::unusualPanels() {
    QFETCH(PanelRecord, panel);
    QFETCH(QStringList, settings);
    QFETCH(RecordEdit, edit);
    Form->ApplyPanel(panel);
    Form->ListBox1->setCurrentRow(3);
    Form->ListBox1Click();
    Apply(settings);
    Press();
    QVERIFY(Boxes.empty());
    QTRY_COMPARE(Link->Count(), 1);
    edit(panel);
    QCOMPARE(Link->Taken()[0].Bytes.mid(52, 44), QByteArray::fromStdString(NewBlock(panel)));
}

QTEST_MAIN(WriteTest)
#include "WriteTest.moc"
