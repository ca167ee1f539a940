// The plan reader, a row's settings over a panel's, the CSV line writer and the site checks:
// every fault names its line and column, every problem is reported, and what search prints
// reads back as the same settings.
#include <QtTest>

#include <algorithm>
#include <cstring>
#include <map>

#include "MessageFormat.h"
#include "Output.h"
#include "PanelTexts.h"
#include "Records.h"
#include "plan/Changes.h"
#include "plan/Plan.h"
#include "plan/UndoMerge.h"
#include "plan/UndoPlan.h"
#include "site/FindPanels.h"
#include "site/Hearing.h"
#include "site/Rounds.h"
#include "site/SiteChecks.h"
#include "site/WriteRounds.h"
#include "text/Nearest.h"

using Edit = void (*)(PanelRecord&);
Q_DECLARE_METATYPE(Edit)
Q_DECLARE_METATYPE(PanelRecord)

namespace {

const QByteArray Header = "mac,type,address,facility,ip,mask,gateway,server,unlock,version,"
                          "identity,via\n";

QByteArray Row(const char* mac, const char* address = "0102030405") {
    return QByteArray(mac) + ",flat," + address +
           ",1,192.168.1.20,255.255.255.0,192.168.1.1,192.168.1.2,5,V1,H01020304051,10.0.0.1\n";
}

PanelRecord Current() {
    return MakeRecord("H01020304051", {0x00, 0x50, 0x2A, 0x10, 0x00, 0xA5}, {192, 168, 1, 20},
                      {255, 255, 255, 0}, {192, 168, 1, 1}, {192, 168, 1, 2}, "V1", 0, 5);
}

QStringList Described(const std::vector<PlanError>& errors) {
    QStringList out;
    for (const PlanError& e : errors)
        out << QString("%1:%2:%3").arg(e.Line).arg(e.Column).arg(QString::fromStdString(e.Text));
    return out;
}

// Each expected "line:column:part" must match the error at its place.
void CompareErrors(const std::vector<PlanError>& errors, const QStringList& expected) {
    const QStringList got = Described(errors);
    QCOMPARE(got.size(), expected.size());
    for (qsizetype at = 0; at < got.size(); ++at) {
        const QString prefix = expected[at].section(':', 0, 1) + ":";
        QVERIFY2(got[at].startsWith(prefix) && got[at].contains(expected[at].section(':', 2)),
                 qPrintable(got[at] + " is not " + expected[at]));
    }
}

} // namespace

class PlanTest : public QObject {
    Q_OBJECT
  private slots:
    void readPlan_data();
    void readPlan();
    void rowSettings_data();
    void rowSettings();
    void csvLine_data();
    void csvLine();
    void render_data();
    void render();
    void checkSite_data();
    void checkSite();
    void planChanges_data();
    void planChanges();
    void rounds_data();
    void rounds();
    void unusualPanels_data();
    void unusualPanels();
    void killedApply_data();
    void killedApply();
    void mergeUndoPlans_data();
    void mergeUndoPlans();
    void creditsWrite_data();
    void creditsWrite();
    void hearing_data();
    void hearing();
    void searchUntil_data();
    void searchUntil();
    void namedPanel_data();
    void namedPanel();
    void clashesAfter_data();
    void clashesAfter();
    void writeRounds_data();
    void writeRounds();
    void saveUndoPlan_data();
    void saveUndoPlan();
    void nearestName_data();
    void nearestName();
};

void PlanTest::readPlan_data() {
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<QString>("lines"); // of the rows read
    QTest::addColumn<QStringList>("errors");

    const QByteArray a = Row("00:50:2A:10:00:A5"), b = Row("00:50:2a:10:00:a6");
    QTest::newRow("export") << Header + a + b << "2,3" << QStringList{};
    QTest::newRow("bom, crlf, blank lines")
        << "\xEF\xBB\xBF" + Header.chopped(1) + "\r\n\r\n  \r\n" + a.chopped(1) + "\r\n"
        << "4" << QStringList{};
    QTest::newRow("own columns, any order")
        << QByteArray("#note,unlock,mac,type,address,facility,ip,mask,gateway,server\n"
                      "\"a, b\",5,00:50:2A:10:00:A5,flat,0102030405,1,1.2.3.4,255.0.0.0,1.0.0.1,"
                      "1.0.0.2\n")
        << "2" << QStringList{};
    QTest::newRow("quoted newline")
        << Header + Row("00:50:2A:10:00:A5", "\"01020\n30405\"") + b << "2,4" << QStringList{};
    QTest::newRow("columns left out")
        << QByteArray("mac,type,address,facility,ip,gateway,server,unlock\n"
                      "00:50:2A:10:00:A5,flat,0102030405,1,192.168.1.20,192.168.1.1,1.1.1.1,5\n")
        << "2" << QStringList{};
    QTest::newRow("header lacks mac") << QByteArray("type,address\nflat,0102030405\n") << "2"
                                      << QStringList{"1:0:lacks the column 'mac'"};
    QTest::newRow("column twice") << "mac,ip," + Header << ""
                                  << QStringList{"1:3:'mac' appears twice",
                                                 "1:7:'ip' appears twice",
                                                 "1:0:header but no rows"};
    QTest::newRow("empty file") << QByteArray() << "" << QStringList{"1:0:no header line"};
    QTest::newRow("broken quote, reading goes on")
        << Header + a + Row("00:50:2A:10:00:A7", "\"01020\"30405") + b << "2,4"
        << QStringList{"3:3:broken quote"};
    // The lines after an unclosed quote are still read, and their faults found.
    QTest::newRow("quote not closed")
        << Header + a + "00:50:2A:10:00:A7,flat,\"0102\n3\n"
        << "2" << QStringList{"3:3:quote not closed", "4:2:missing column 'type'"};
    QTest::newRow("row lacks a column")
        << Header + "00:50:2A:10:00:A5,flat,0102030405,1,192.168.1.20,255.255.255.0,1.1.1.1,"
                    "1.1.1.2\n"
        << "" << QStringList{"2:9:missing column 'unlock': the line has 8 fields, the header 12"};
    QTest::newRow("row has more") << Header + a.chopped(1) + ",x\n"
                                  << "" << QStringList{"2:13:more than the header's 12"};
    QTest::newRow("bad and repeated mac")
        << Header + Row("00:50:2A:10:00") + a + Row("00-50-2A-10-00-a5") << "2,3,4"
        << QStringList{"2:1:'00:50:2A:10:00' is not a MAC", "4:1:also on line 3"};
    QTest::newRow("semicolons, any case, lone CR")
        << QByteArray("MAC;Type;Address\r00:50:2A:10:00:A5;Flat;0102030405\r\r"
                      "00:50:2a:10:00:a5;VILLA;1234\r")
        << "2,4" << QStringList{"4:1:also on line 2"};
    QTest::newRow("tabs, quoted") << QByteArray("mac\ttype\n\"00:50:2A:10:00:A5\"\t\"a\tb\"\n")
                                  << "2" << QStringList{};
    QTest::newRow("only mac, empty rows")
        << QByteArray("mac;type\n00:50:2A:10:00:A5;flat\n;\n ; \n") << "2" << QStringList{};
    QTest::newRow("GBK save refused")
        << QByteArray("mac,address\n00:50:2A:10:00:A5,0102\n00:50:2A:10:00:A6,\xCB\xCE\n") << ""
        << QStringList{"3:0:not UTF-8 text; it looks like GBK (a Chinese Windows ANSI save): "
                       "save it from the spreadsheet as \"CSV UTF-8\" (or convert it, e.g. "
                       "iconv -f GBK -t UTF-8)"};
    // The encodings a plan comes in, each named as it is: GBK only for Chinese text, never for
    // a Western word whose accented letter GBK would pair with the next ASCII letter.
    const QString windows1252 = "the plan is not UTF-8 (Windows-1252?), perhaps a Western Windows "
                                "ANSI save: save it from the spreadsheet as \"CSV UTF-8\" (or "
                                "convert it, e.g. iconv -f WINDOWS-1252 -t UTF-8)";
    QTest::newRow("Windows-1252 at the end of a cell")
        << QByteArray("mac,address\n00:50:2A:10:00:A5,caf\xE9\n") << ""
        << QStringList{"2:0:" + windows1252};
    QTest::newRow("Windows-1252 before a letter, not GBK")
        << QByteArray("mac,#room\n00:50:2A:10:00:A5,T\xFCr S\xFC"
                      "d\n")
        << "" << QStringList{"2:0:" + windows1252};
    QTest::newRow("Windows-1252 pair inside a word, not GBK")
        << QByteArray("mac,#room\n00:50:2A:10:00:A5,Instala\xE7\xE3o\n") << ""
        << QStringList{"2:0:" + windows1252};
    QTest::newRow("Windows-1252 quotes and euro")
        << QByteArray("mac,#note\n00:50:2A:10:00:A5,\x84T\xFCr\x93 5 \x80\n") << ""
        << QStringList{"2:0:" + windows1252};
    QTest::newRow("GBK hanzi beside letters and digits")
        << QByteArray("mac,#room\n00:50:2A:10:00:A5,3\xBA\xC5\xC2\xA5"
                      "A\xD7\xF9\n")
        << "" << QStringList{"2:0:it looks like GBK"};
    QTest::newRow("UTF-8 umlauts and hanzi")
        << QByteArray("mac,#room\n00:50:2A:10:00:A5,T\xC3\xBCr S\xC3\xBC"
                      "d \xE4\xB8\x80\n")
        << "2" << QStringList{};
    QTest::newRow("stray byte after a Chinese character")
        << QByteArray("mac,address\n00:50:2A:10:00:A5,\xE4\xB8\xAD\x80\n") << ""
        << QStringList{"2:0:not UTF-8 text"};
    // PowerShell's and Excel's "Unicode": read as text, lines counted as they were.
    const QString unicode = "mac\tip\n\n00:50:2A:10:00:A5\t192.168.1.30\n";
    QTest::newRow("UTF-16 LE with a mark")
        << QByteArray("\xFF\xFE") +
               QByteArray(reinterpret_cast<const char*>(unicode.utf16()), unicode.size() * 2)
        << "3" << QStringList{};
    QByteArray bigEndian = "\xFE\xFF";
    for (const QChar c : QString("mac\t#\U0001F600\n\n00:50:2A:10:00:A5\tx\n")) // a pair
        bigEndian += char(c.unicode() >> 8), bigEndian += char(c.unicode() & 0xFF);
    QTest::newRow("UTF-16 BE with a mark") << bigEndian << "3" << QStringList{};
    const QString umlauts = "mac,#room\n00:50:2A:10:00:A5,T\u00FCr S\u00FCd\n";
    QTest::newRow("UTF-16 LE umlauts")
        << QByteArray("\xFF\xFE") +
               QByteArray(reinterpret_cast<const char*>(umlauts.utf16()), umlauts.size() * 2)
        << "2" << QStringList{};
    QTest::newRow("UTF-16 lone surrogate")
        << QByteArray("\xFF\xFEm\0\n\0\x00\xD8x\0", 10) << ""
        << QStringList{"2:0:UTF-16 text with a broken character"};
    QTest::newRow("UTF-32 named") << QByteArray("\xFF\xFE\0\0m\0\0\0", 8) << ""
                                  << QStringList{"1:0:is UTF-32 text"};
    QTest::newRow("no rows") << QByteArray("mac,ip\n,\n") << ""
                             << QStringList{"1:0:header but no rows"};
    QTest::newRow("excel sep line")
        << QByteArray("sep=;\r\nmac;ip\r\n00:50:2A:10:00:A5;1.2.3.4\r\n") << "3" << QStringList{};
    QTest::newRow("unknown columns, nearest named")
        << QByteArray("mac,IP Address,\"ip \",subnet,adress,colour,#room,\n"
                      "00:50:2A:10:00:A5,1,2,3,4,5,6,7\n")
        << "2"
        << QStringList{"1:2:unknown column 'IP Address': did you mean ip?",
                       "1:3:'ip ': did you mean ip?", "1:4:'subnet': did you mean mask?",
                       "1:5:'adress': did you mean address?",
                       "1:6:unknown column 'colour' (a column of your own begins with #)"};
    QTest::newRow("text kept from a formula")
        << QByteArray("mac,address\n00:50:2A:10:00:A5,\"=\"\"=01\"\"\"\"x\"\"\"\n") << "2"
        << QStringList{};
    QTest::newRow("UTF-16 without mark refused") << QByteArray("m\0a\0c\0\n\0"
                                                               "0\0"
                                                               "0\0",
                                                               12)
                                                 << "" << QStringList{"1:0:UTF-16"};
    QTest::newRow("program refused, not taken for UTF-16")
        << QByteArray("\x7F"
                      "ELF\x02\x01\x01\0\0\0\0\0\0\0\0\0\x03\0>\0\x01\0\0\0",
                      24)
        << "" << QStringList{"1:0:the plan is not a text file"};
    QTest::newRow("workbook refused, not taken for Windows-1252")
        << QByteArray("PK\x03\x04\x14\0\x06\0\x08\0\0\0!\0\xA6\xE9\x8C", 17) << ""
        << QStringList{"1:0:the plan is not a text file"};
    QTest::newRow("zero byte reported whole")
        << QByteArray("mac\n00:50\0:2A\x1B[2J\n", 18) << "2"
        << QStringList{"2:1:'00:50\\0:2A\\e[2J' is not a MAC"};
    QTest::newRow("broken quotes hide no other faults")
        << QByteArray("mac,ip\n\"00:50:2A:10:00:A5\"x,1\n00:50:2A:10:00:A6,\"1\n"
                      "00:50:2A:10:00:ZZ,1\n00:50:2A:10:00:A6,2\n")
        << "4,5" << QStringList{"2:1:broken quote", "3:2:quote not closed", "4:1:is not a MAC"};
    QTest::newRow("every problem")
        << Header + Row("00:50:2A:10:00:A7", "\"0\"1") + a + "x\n" + Row("00:50:2A:10:00:A5")
        << "3,5"
        << QStringList{"2:3:broken quote", "4:2:missing column 'type'", "5:1:also on line 3"};
}

void PlanTest::readPlan() {
    QFETCH(QByteArray, csv);
    QFETCH(QString, lines);
    QFETCH(QStringList, errors);
    const Plan plan = ReadPlan(std::string_view(csv.constData(), size_t(csv.size())));
    QStringList read;
    for (const PlanRow& row : plan.Rows)
        read << QString::number(row.Line);
    QCOMPARE(read.join(','), lines);
    CompareErrors(plan.Errors, errors);
    if (QByteArray(QTest::currentDataTag()) == "own columns, any order") {
        QCOMPARE(plan.Rows[0].Cells.count("note"), size_t(0));
        QCOMPARE(plan.Rows[0].Cells.at("unlock"), std::string("5"));
        QCOMPARE(plan.Rows[0].Columns->at("ip"), 7);
    }
    if (QByteArray(QTest::currentDataTag()) == "text kept from a formula")
        QCOMPARE(plan.Rows[0].Cells.at("address"), std::string("=01\"x"));
    if (QByteArray(QTest::currentDataTag()) == "quoted newline")
        QCOMPARE(plan.Rows[0].Cells.at("address"), std::string("01020\n30405"));
}

void PlanTest::rowSettings_data() {
    QTest::addColumn<QStringList>("cells");
    QTest::addColumn<Edit>("panel");   // the panel found, from Current()
    QTest::addColumn<Edit>("written"); // what the panel reports after the write; null: errors
    QTest::addColumn<QStringList>("errors");

    const Edit none = [](PanelRecord&) {};
    QTest::newRow("unchanged round trip") << QStringList{} << none << none << QStringList{};
    QTest::newRow("empty cells keep")
        << QStringList{"ip=", "type=", "unlock=", "address="} << none << none << QStringList{};
    QTest::newRow("new ip and unlock")
        << QStringList{"ip=10.0.0.5", "gateway=10.0.0.1", "mask=255.0.0.0", "unlock=3"} << none
        << Edit([](PanelRecord& r) {
               const uint8_t ip[4] = {10, 0, 0, 5}, gw[4] = {10, 0, 0, 1}, m[4] = {255, 0, 0, 0};
               std::memcpy(r.Ip, ip, 4), std::memcpy(r.Gateway, gw, 4);
               std::memcpy(r.Subnet, m, 4), r.UnlockTime = 3;
           })
        << QStringList{};
    QTest::newRow("villa") << QStringList{"type=villa", "address=12ab", "facility=0"} << none
                           << Edit([](PanelRecord& r) {
                                  std::memcpy(r.Address, "12ab000000", 10), r.Facility = '0';
                              })
                           << QStringList{};
    QTest::newRow("type in any case")
        << QStringList{"type=Villa", "address=12ab", "facility=0"} << none
        << Edit([](PanelRecord& r) { std::memcpy(r.Address, "12ab000000", 10), r.Facility = '0'; })
        << QStringList{};
    // Shown as U+FFFD, which has no GBK form: the row cannot write it back unnoticed.
    // Shown as U+FFFD, which has no GBK form: kept, it is written back as it is.
    const Edit noGbk = [](PanelRecord& r) { r.Facility = '\x81', r.Address[9] = '\x82'; };
    QTest::newRow("panel's bytes no character, kept")
        << QStringList{} << noGbk << noGbk << QStringList{};
    QTest::newRow("panel's bytes no character, row writes")
        << QStringList{"unlock=3"} << noGbk << Edit([](PanelRecord& r) {
               r.Facility = '\x81', r.Address[9] = '\x82', r.UnlockTime = 3;
           })
        << QStringList{};
    QTest::newRow("panel's facility byte no character, changed")
        << QStringList{"facility=\uFFFD"} << none << Edit(nullptr)
        << QStringList{"2:4:facility: '\xEF\xBF\xBD' is not 0 or 1"};
    QTest::newRow("GBK address of 10 bytes")
        << QStringList{"address=01234567宋"} << none
        << Edit([](PanelRecord& r) { std::memcpy(r.Address, "01234567\xCB\xCE", 10); })
        << QStringList{};
    QTest::newRow("parse faults, every one")
        << QStringList{"ip=192.168.1.300", "mask=255.255.255",   "type=tower",
                       "unlock=10",        "address=012345678ก", "facility=\t"}
        << none << Edit(nullptr)
        << QStringList{"2:2:type: 'tower' is not flat",
                       "2:3:address: '012345678ก' holds a character",
                       "2:4:facility: '\\t' holds a control character",
                       "2:5:ip: '192.168.1.300' is not an IPv4",
                       "2:6:mask: '255.255.255'",
                       "2:9:unlock: '10' is not a number of seconds: 1 to 9 (0 to 9 for a villa"};
    // The window's check of the same cell would say it again.
    QTest::newRow("one error a cell") << QStringList{"unlock=x"} << none << Edit(nullptr)
                                      << QStringList{"2:9:'x' is not a number of seconds"};
    QTest::newRow("window checks, every one")
        << QStringList{"ip=192.168.1.0", "server=0.0.0.255", "address=1234", "facility=2",
                       "unlock=0"}
        << none << Edit(nullptr)
        << QStringList{"2:4:facility: '2' is not 0 or 1 (Facility NO. between 0-1)",
                       "2:5:ip: Invalid IP！", "2:8:server: Invalid IP！",
                       "2:3:address: '1234' is 4 bytes in GBK; a flat camera takes 10. Chinese "
                       "and accented characters take two bytes each; a spreadsheet may have "
                       "dropped leading zeros",
                       "2:9:unlock: '0' is not from 1 to 9, which a flat camera needs (Unlocking "
                       "time between 1-9)"};
    QTest::newRow("cut off, every one")
        << QStringList{"ip=127.0.0.1", "mask=255.0.255.0", "facility=01", "address=宋宋宋宋宋宋"}
        << none << Edit(nullptr)
        << QStringList{"2:4:'01' is not 0 or 1", "2:3:address: '宋宋宋宋宋宋' is 12 bytes in GBK",
                       "2:5:ip: 127.0.0.1 is a loopback address (Invalid IP！)",
                       "2:6:mask: 255.0.255.0 is not a subnet mask"};
    QTest::newRow("gateway is the new ip")
        << QStringList{"ip=192.168.1.77", "gateway=192.168.1.77"} << none << Edit(nullptr)
        << QStringList{"2:7:gateway: 192.168.1.77 is the panel's own IP address (Invalid IP！)"};
    QTest::newRow("octal-looking octets")
        << QStringList{"ip=010.083.001.011"} << none << Edit(nullptr)
        << QStringList{"2:5:ip: '010.083.001.011' has a part with a leading zero, which some "
                       "programs read as octal: write 10.83.1.11"};
    QTest::newRow("mask /31 changed, /32 kept")
        << QStringList{"mask=255.255.255.254"} << none << Edit(nullptr)
        << QStringList{"2:6:mask: 255.255.255.254 is /31"};
    QTest::newRow("read-only cells: as exported or empty")
        << QStringList{"version=V2", "identity=", "via=10.9.9.9"} << none << Edit(nullptr)
        << QStringList{"2:10:version: 'V2' is not the panel's 'V1': the column is read-only"};
    QTest::newRow("invisible and long cells shown")
        << QStringList{"type=\u200Bflat", "address=" + QString(50, '7')} << none << Edit(nullptr)
        << QStringList{"2:2:type: '\\u200Bflat' is not",
                       "2:3:address: '7777777777777777777777777777777777777777…' (50 bytes) is"};
    // Staged over the panel's ten characters, seven would change nothing, but the row asks for
    // them.
    QTest::newRow("short address is checked")
        << QStringList{"address=0102030"} << none << Edit(nullptr)
        << QStringList{"2:3:address: '0102030' is 7 bytes in GBK; a flat camera takes 10"};
    QTest::newRow("mac of another panel")
        << QStringList{"mac=00:50:2A:10:00:A6"} << none << Edit(nullptr)
        << QStringList{"2:1:is not the panel's MAC"};
    const Edit otherPrefix = [](PanelRecord& r) { r.Mac[1] = 0x11, r.Mac[2] = 0x22; };
    // The write keeps the panel's own first three bytes.
    QTest::newRow("mac of another maker, written")
        << QStringList{"mac=00:11:22:10:00:A5", "unlock=3"} << otherPrefix
        << Edit([](PanelRecord& r) { r.Mac[1] = 0x11, r.Mac[2] = 0x22, r.UnlockTime = 3; })
        << QStringList{};
    QTest::newRow("mac of another maker, unchanged")
        << QStringList{"mac=00:11:22:10:00:A5"} << otherPrefix << otherPrefix << QStringList{};
    // Nothing is sent for a row that changes nothing, so the panel's own 12 s is no error.
    QTest::newRow("panel reports 12 s, kept")
        << QStringList{"unlock="} << Edit([](PanelRecord& r) { r.UnlockTime = 12; })
        << Edit([](PanelRecord& r) { r.UnlockTime = 12; }) << QStringList{};
    // Kept, the panel's own 12 s goes back as it is.
    QTest::newRow("panel reports 12 s, row writes")
        << QStringList{"ip=192.168.1.30"} << Edit([](PanelRecord& r) { r.UnlockTime = 12; })
        << Edit([](PanelRecord& r) { r.UnlockTime = 12, r.Ip[3] = 30; }) << QStringList{};
    // A flat camera needs 1 to 9 s: said in seconds, not as the byte the request carries.
    QTest::newRow("villa camera at 12 s made a flat camera")
        << QStringList{"type=flat", "address=0102030405"} << Edit([](PanelRecord& r) {
               std::memcpy(r.Address, "0102000000", 10);
               r.UnlockTime = 12;
           })
        << Edit(nullptr) << QStringList{"2:9:unlock: '12' is not from 1 to 9"};
    // What is written must read back as asked.
    QTest::newRow("flat address ending in six zeros")
        << QStringList{"address=0102000000"} << none << Edit(nullptr)
        << QStringList{"2:3:address: flat 0102000000 reads back as villa 0102: on the wire"};
    QTest::newRow("villa camera made flat, keeping its zeros")
        << QStringList{"type=flat", "address=0102000000"}
        << Edit([](PanelRecord& r) { std::memcpy(r.Address, "0102000000", 10); }) << Edit(nullptr)
        << QStringList{"2:3:address: flat 0102000000 reads back as villa 0102"};
    QTest::newRow("the same as a villa camera")
        << QStringList{"type=villa", "address=0102"} << none
        << Edit([](PanelRecord& r) { std::memcpy(r.Address, "0102000000", 10); }) << QStringList{};
    QTest::newRow("panel on .255 keeps it, row writes")
        << QStringList{"unlock=3"} << Edit([](PanelRecord& r) { r.Ip[3] = 255; })
        << Edit([](PanelRecord& r) { r.Ip[3] = 255, r.UnlockTime = 3; }) << QStringList{};
}

void PlanTest::rowSettings() {
    QFETCH(QStringList, cells);
    QFETCH(Edit, panel);
    QFETCH(Edit, written);
    QFETCH(QStringList, errors);

    // What search prints for the panel, changed, read back as a plan.
    PanelRecord current = Current();
    panel(current);
    std::vector<std::string> fields = PanelCells(current, "10.0.0.1");
    for (const QString& cell : cells) {
        const auto at = std::find(std::begin(PanelColumns), std::end(PanelColumns),
                                  cell.section('=', 0, 0).toStdString());
        fields[size_t(at - std::begin(PanelColumns))] = cell.section('=', 1).toStdString();
    }
    const std::string csv = Header.toStdString() + CsvLine(fields);
    const Plan plan = ReadPlan(csv);
    QVERIFY(plan.Errors.empty());
    QCOMPARE(plan.Rows.size(), size_t(1));

    std::vector<PlanError> found;
    const std::optional<SettingsTexts> texts = RowSettings(plan.Rows[0], current, found);
    CompareErrors(found, errors);
    QCOMPARE(texts.has_value(), written != nullptr);
    if (!texts) return;
    PanelRecord staged{};
    StageSettings(*texts, staged);
    std::copy(current.Mac, current.Mac + 3, staged.Mac); // as set and apply stage it
    PanelRecord reported = current;
    written(reported);
    QVERIFY(ReportsStaged(reported, staged));
}

void PlanTest::csvLine_data() {
    QTest::addColumn<QStringList>("fields");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("quoted when needed")
        << QStringList{"a,b", "say \"hi\"", " lead", "trail\t", "two\nlines", "宋"}
        << QByteArray("\"a,b\",\"say \"\"hi\"\"\",\" lead\",\"trail\t\",\"two\nlines\",宋\n");
    QTest::newRow("control characters quoted") << QStringList{"V1\x1B[2J", "a;b", "bell\x07"}
                                               << QByteArray("\"V1\x1B[2J\",a;b,\"bell\x07\"\n");
    // What a spreadsheet would run as a formula is written as one that shows the text.
    QTest::newRow("formula-like cells as text")
        << QStringList{"=1+2", "-x", "@a\"b", "+", "a=b"}
        << QByteArray(
               "\"=\"\"=1+2\"\"\",\"=\"\"-x\"\"\",\"=\"\"@a\"\"\"\"b\"\"\",\"=\"\"+\"\"\",a=b\n");
}

void PlanTest::csvLine() {
    QFETCH(QStringList, fields);
    QFETCH(QByteArray, line);
    std::vector<std::string> values;
    for (const QString& f : fields)
        values.push_back(f.toStdString());
    const std::string written = CsvLine(values);
    QCOMPARE(QByteArray::fromStdString(written), line);
    // Read back as the header of a plan, every field comes back as it was.
    std::vector<std::string> header(std::begin(PanelColumns), std::end(PanelColumns));
    std::vector<std::string> row(header.size());
    std::copy(values.begin(), values.end(), row.begin() + 3);
    const Plan plan = ReadPlan(CsvLine(header) + "00:50:2A:10:00:A5," +
                               CsvLine(std::vector<std::string>(row.begin() + 1, row.end())));
    QVERIFY(plan.Errors.empty());
    for (size_t at = 0; at < values.size() && at + 3 < header.size(); ++at)
        QCOMPARE(plan.Rows.at(0).Cells.at(header[at + 3]), values[at]);
}

// A panel's texts reach a terminal shown, never obeyed; CSV and JSON keep them by their rules.
void PlanTest::render_data() {
    QTest::addColumn<int>("format");
    QTest::addColumn<QByteArray>("out");
    QTest::newRow("table") << int(Cli::Format::Table)
                           << QByteArray("version      address\nV1\\e[2J\\x07  12\\0\n");
    QTest::newRow("csv") << int(Cli::Format::Csv)
                         << QByteArray("version,address\n\"V1\x1B[2J\x07\",\"12\0\"\n", 32);
    QTest::newRow("json") << int(Cli::Format::Json)
                          << QByteArray("[\n  {\n    \"version\": \"V1\\u001b[2J\\u0007\",\n"
                                        "    \"address\": \"12\\u0000\"\n  }\n]\n");
}

void PlanTest::render() {
    QFETCH(int, format);
    QFETCH(QByteArray, out);
    const Cli::Table table{{"version", "address"}, {{"V1\x1B[2J\x07", std::string("12\0", 3)}}};
    QCOMPARE(QByteArray::fromStdString(Cli::Render(table, Cli::Format(format))), out);
    // Numbers as JSON numbers, where the cell holds one.
    const Cli::Table numbers{{"unlock", "address"}, {{"5", "12"}, {"", "7"}}, {"unlock"}};
    if (format == int(Cli::Format::Json))
        QCOMPARE(QByteArray::fromStdString(Cli::Render(numbers, Cli::Format::Json)),
                 QByteArray("[\n  {\n    \"unlock\": 5,\n    \"address\": \"12\"\n  },\n  {\n    "
                            "\"unlock\": \"\",\n    \"address\": \"7\"\n  }\n]\n"));
}

// "name identity ip gateway [how]": how is w (written, addresses kept), wNN (written, was on
// .NN and identity H0000000000 0), n (a plan row for a panel that did not answer) or nothing.
void PlanTest::checkSite_data() {
    QTest::addColumn<QStringList>("panels");
    QTest::addColumn<QStringList>("conflicts");
    QTest::addColumn<QStringList>("warnings");
    QTest::newRow("clean") << QStringList{"A H01020304051 20 1 w", "B H01020304061 21 1",
                                          "C P12340000001 22 1"}
                           << QStringList{} << QStringList{};
    QTest::newRow("old clashes warn")
        << QStringList{"A H01020304051 20 1 w", "B H01020304051 21 1", "C P12340000001 20 1"}
        << QStringList{}
        << QStringList{"A and C: both have the IP address 192.168.1.20",
                       "A and B: both have the identity H01020304051"};
    QTest::newRow("moving onto a taken IP and identity")
        << QStringList{"A H01020304051 20 1 w30", "B H01020304051 20 1"}
        << QStringList{"A and B: both have the IP address 192.168.1.20",
                       "A and B: both have the identity H01020304051"}
        << QStringList{};
    QTest::newRow("factory three, one moved off")
        << QStringList{"A H01020304051 21 1 w20", "B H01020304061 20 1", "C H01020304071 20 1"}
        << QStringList{} << QStringList{"B and C: both have the IP address 192.168.1.20"};
    QTest::newRow("factory three, one moved to another's")
        << QStringList{"A H01020304051 22 1 w20", "B H01020304061 20 1", "C H01020304071 22 1"}
        << QStringList{"A and C: both have the IP address 192.168.1.22"} << QStringList{};
    QTest::newRow("rows for absent panels")
        << QStringList{"A H01020304051 20 1 n", "B H01020304061 20 1"}
        << QStringList{"A and B: both have the IP address 192.168.1.20"} << QStringList{};
    QTest::newRow("gateway elsewhere, made and kept")
        << QStringList{"A H01020304051 20 1", "B H01020304061 21 257 w25",
                       "C H01020304071 22 257 w"}
        << QStringList{"B: gateway 192.168.2.1 is outside the segment of IP 192.168.1.21 with "
                       "mask 255.255.255.0 (IP and Gateway must be in same network segment)"}
        << QStringList{"C: gateway 192.168.2.1 is outside the segment of IP 192.168.1.22 with "
                       "mask 255.255.255.0 (IP and Gateway must be in same network segment)"};
}

void PlanTest::checkSite() {
    QFETCH(QStringList, panels);
    QFETCH(QStringList, conflicts);
    QFETCH(QStringList, warnings);
    std::vector<SitePanel> site;
    for (const QString& panel : panels) {
        const QStringList part = panel.split(' ');
        const int gateway = part[3].toInt();
        const auto record = [&](const char* identity, int ip) {
            return MakeRecord(identity, {0, 0x50, 0x2A, 1, 2, part[0][0].toLatin1()},
                              {192, 168, 1, ip}, {255, 255, 255, 0},
                              {192, 168, 1 + gateway / 256, gateway % 256}, {192, 168, 1, 2}, "", 0,
                              '5');
        };
        SitePanel p;
        p.Name = part[0].toStdString();
        p.Before = p.After = record(part[1].toLatin1().constData(), part[2].toInt());
        const QString how = part.value(4);
        p.Written = how.startsWith('w');
        p.Found = how != "n";
        if (how.size() > 1 && p.Written) p.Before = record("H00000000000", how.mid(1).toInt());
        site.push_back(p);
    }
    const SiteVerdict verdict = CheckSite(site);
    QStringList gotConflicts, gotWarnings;
    for (const std::string& c : verdict.Conflicts)
        gotConflicts << QString::fromStdString(c);
    for (const std::string& w : verdict.Warnings)
        gotWarnings << QString::fromStdString(w);
    QCOMPARE(gotConflicts, conflicts);
    QCOMPARE(gotWarnings, warnings);
}

// A plan over the panels found: "mac-last-byte cells..." rows; panels by last MAC byte and IP.
void PlanTest::planChanges_data() {
    QTest::addColumn<QStringList>("rows");     // "A5 ip=192.168.1.30" (cells over the export)
    QTest::addColumn<QStringList>("found");    // "A5 20": last MAC byte, last IP byte
    QTest::addColumn<QString>("kinds");        // per row: n(ot found), u(nchanged), w(rite)
    QTest::addColumn<QStringList>("refusals"); // errors and conflicts, in that order
    QTest::newRow("write, unchanged, absent")
        << QStringList{"A5 ip=192.168.1.30", "A6", "A7 unlock=3"} << QStringList{"A5 20", "A6 21"}
        << "wun" << QStringList{};
    QTest::newRow("absent row: its cells only, never empty ones")
        << QStringList{"A7 address= facility= ip=192.168.1.300"} << QStringList{"A5 20"} << "n"
        << QStringList{"ip: '192.168.1.300' is not an IPv4"};
    QTest::newRow("absent row takes a found panel's IP")
        << QStringList{"A7 ip=192.168.1.20"} << QStringList{"A5 20"} << "n"
        << QStringList{"00:50:2A:10:00:A7 (line 2) and 00:50:2A:10:00:A5: both have the IP"};
    QTest::newRow("kept address on .255 is no error")
        << QStringList{"A5 unlock=3"} << QStringList{"A5 255"} << "w" << QStringList{};
    QTest::newRow("changed address on .255 is")
        << QStringList{"A5 ip=192.168.1.255"} << QStringList{"A5 20"} << ""
        << QStringList{"ip: Invalid IP！"};
    QTest::newRow("unchanged row is not checked")
        << QStringList{"A5"} << QStringList{"A5 255 bad-gateway"} << "u" << QStringList{};
    QTest::newRow("factory duplicates moved one at a time")
        << QStringList{"A5 ip=192.168.1.40", "A6", "A7"}
        << QStringList{"A5 100", "A6 100", "A7 100"} << "wuu" << QStringList{};
    // A row that would read back as another is refused, also of a panel that did not answer,
    // and written with --as-written (r: a write that reads back as another).
    QTest::newRow("reads back as a villa camera")
        << QStringList{"A5 address=0102000000", "A7 type=flat address=0202000000"}
        << QStringList{"A5 20"} << ""
        << QStringList{"address: flat 0102000000 reads back as villa 0102",
                       "address: flat 0202000000 reads back as villa 0202"};
    QTest::newRow("reads back as a villa camera, as written")
        << QStringList{"A5 address=0102000000", "A6 unlock=3",
                       "A7 type=flat address=0202000000 ip=192.168.1.40", "as-written"}
        << QStringList{"A5 20", "A6 21"} << "rwn" << QStringList{};
    QTest::newRow("two panels with the row's MAC")
        << QStringList{"A5 unlock=3"} << QStringList{"A5 20", "A5 21"} << ""
        << QStringList{"mac: 00:50:2A:10:00:A5 is the MAC of 2 panels found (192.168.1.20, "
                       "192.168.1.21)"};
}

void PlanTest::planChanges() {
    QFETCH(QStringList, rows);
    QFETCH(QStringList, found);
    QFETCH(QString, kinds);
    QFETCH(QStringList, refusals);
    std::vector<PanelRecord> panels;
    for (const QString& f : found) {
        const QStringList part = f.split(' ');
        PanelRecord r = Current();
        r.Mac[5] = uint8_t(part[0].toUInt(nullptr, 16));
        r.Ip[3] = uint8_t(part[1].toInt());
        // A distinct identity per panel, from its IP.
        r.Address[9] = char('0' + r.Ip[3] % 10), r.Address[8] = char('0' + r.Ip[3] / 10 % 10);
        if (part.value(2) == "bad-gateway") r.Gateway[2] = 9;
        panels.push_back(r);
    }
    std::string csv = Header.toStdString();
    const bool asWritten = rows.contains("as-written");
    for (const QString& row : rows) {
        if (row == "as-written") continue;
        const QStringList part = row.split(' ');
        PanelRecord r = Current();
        r.Mac[5] = uint8_t(part[0].toUInt(nullptr, 16));
        for (const PanelRecord& p : panels)
            if (p.Mac[5] == r.Mac[5]) r = p;
        std::vector<std::string> fields = PanelCells(r, "10.0.0.1");
        for (const QString& cell : part.mid(1)) {
            const auto at = std::find(std::begin(PanelColumns), std::end(PanelColumns),
                                      cell.section('=', 0, 0).toStdString());
            fields[size_t(at - std::begin(PanelColumns))] = cell.section('=', 1).toStdString();
        }
        csv += CsvLine(fields);
    }
    const Plan plan = ReadPlan(csv);
    QVERIFY(plan.Errors.empty());
    const Changes changes = PlanChanges(plan.Rows, panels, "", {}, asWritten);
    QStringList got;
    for (const PlanError& e : changes.Errors)
        got << QString::fromStdString(e.Text);
    for (const std::string& c : changes.Site.Conflicts)
        got << QString::fromStdString(c);
    QVERIFY2(got.size() == refusals.size(), qPrintable(got.join('|')));
    for (qsizetype at = 0; at < got.size(); ++at)
        QVERIFY2(got[at].contains(refusals[at]), qPrintable(got[at]));
    QCOMPARE(changes.Refused(), !refusals.isEmpty());
    if (changes.Refused()) return;
    QString gotKinds;
    for (const RowChange& r : changes.Rows)
        gotKinds += r.Kind == RowKind::NotFound    ? 'n'
                    : r.Kind == RowKind::Unchanged ? 'u'
                    : r.ReadsBack.empty()          ? 'w'
                                                   : 'r';
    QCOMPARE(gotKinds, kinds);
    // A row written as asked that reads back as another is said (in this table only there).
    QCOMPARE(!changes.Notes.empty(), asWritten);

    // The undo plan, applied to the panels as written, puts each one back.
    std::vector<PanelRecord> written;
    for (const RowChange& r : changes.Rows)
        if (r.Kind == RowKind::Write) written.push_back(AsReported(r.Pending));
    const Plan undo = ReadPlan(UndoPlanText(changes.Rows));
    QCOMPARE(undo.Errors.empty(), !written.empty()); // else: a plan without rows
    const Changes back = PlanChanges(undo.Rows, written);
    QVERIFY(!back.Refused());
    QCOMPARE(back.Rows.size(), written.size());
    for (std::size_t at = 0; at < back.Rows.size(); ++at) {
        const auto original =
            std::find_if(changes.Rows.begin(), changes.Rows.end(), [&](const RowChange& r) {
                return std::equal(r.Current.Mac, r.Current.Mac + 6, back.Rows[at].Current.Mac);
            });
        QVERIFY(original != changes.Rows.end());
        QCOMPARE(int(back.Rows[at].Kind), int(RowKind::Write));
        QVERIFY(ReportsStaged(original->Current, back.Rows[at].Pending));
    }
}

// One row writes unlock 3 over Current() and leaves every other cell empty. Each step: "write r"
// (r: the write reply came or not) or "read X..." (read-back replies in arrival order: o old
// settings, n new, x another panel, t a panel sharing the MAC (its own IP and identity), T the
// same holding unlock 3, g the panel with a gateway someone else set meanwhile, G the same
// holding unlock 3, m the panel moved to 192.168.1.99 by someone else, w a twin sharing its
// MAC and identity at another IP, heard before the writes). Then the current block of each
// write, the rows to write next, and the result.
void PlanTest::rounds_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("blocks");
    QTest::addColumn<bool>("again");
    QTest::addColumn<QString>("result");
    QTest::newRow("verified") << QStringList{"write r", "read n"} << "o" << false << "verified";
    QTest::newRow("reply lost, panel holds it")
        << QStringList{"write -", "read n"} << "o" << false << "verified:reply was lost";
    // A late reply to an earlier search arrives first; the panel's last reply counts.
    QTest::newRow("late old reply, then new")
        << QStringList{"write r", "read on"} << "o" << false << "verified";
    QTest::newRow("new, then a stale old one is last")
        << QStringList{"write r", "read no"} << "o" << true << "differs:unlock 5 (wrote 3)";
    QTest::newRow("write lost, written again")
        << QStringList{"write -", "read o", "write r", "read n"} << "oo" << false << "verified";
    QTest::newRow("no read-back") << QStringList{"write r", "read x"} << "o" << true
                                  << "no reply:1 write, answered";
    QTest::newRow("stopped before the write")
        << QStringList{"skip"} << "" << false << "not attempted:stopped";
    // A panel sharing the MAC is never the block of a write, nor the row's read-back.
    QTest::newRow("twin's report is not the block")
        << QStringList{"write -", "read t", "write r", "read tn"} << "oo" << false << "verified";
    QTest::newRow("twin holding the row is no read-back")
        << QStringList{"write r", "read T"} << "o" << true << "no reply:1 write, answered";
    // Someone else changed the panel meanwhile: what it holds now is said and never written
    // over, with its old settings or the new.
    QTest::newRow("gateway changed meanwhile") << QStringList{"write -", "read g"} << "o" << false
                                               << "changed meanwhile:now gateway 192.168.1.254";
    QTest::newRow("moved meanwhile") << QStringList{"write -", "read om"} << "o" << false
                                     << "changed meanwhile:now ip 192.168.1.99";
    QTest::newRow("moved before the first write")
        << QStringList{"read m"} << "" << false << "changed meanwhile:now ip 192.168.1.99";
    // A twin with the same MAC and identity heard before the writes is not the panel moved.
    QTest::newRow("twin heard before is no move")
        << QStringList{"write -", "read w", "write r", "read wn"} << "oo" << false << "verified";
    // A result rests only on a report after the last write.
    QTest::newRow("report older than the last write")
        << QStringList{"write -", "read o", "write r", "read x"} << "oo" << true
        << "no reply:2 writes, answered";
}

void PlanTest::rounds() {
    QFETCH(QStringList, steps);
    QFETCH(QString, blocks);
    QFETCH(bool, again);
    QFETCH(QString, result);
    RowChange row;
    row.Kind = RowKind::Write;
    row.Current = Current();
    row.Pending = Current();
    row.Pending.UnlockTime = '3';
    row.Sets[UnlockColumn] = true;
    const auto twinAt = [](PanelRecord& r) { r.Ip[3] = 77; };
    PanelRecord heardTwin = row.Current;
    twinAt(heardTwin);
    Rounds rounds({row}, {row.Current, heardTwin});
    const auto with = [](PanelRecord r, Edit edit) {
        edit(r);
        return r;
    };
    const Edit holds = [](PanelRecord& r) { r.UnlockTime = 3; };
    const Edit twin = [](PanelRecord& r) { r.Ip[3] = 21, r.Address[9] = '9'; };
    const Edit moved = [](PanelRecord& r) { r.Gateway[3] = 254; };
    const std::map<QChar, PanelRecord> reports = {
        {'o', row.Current},
        {'n', with(row.Current, holds)},
        {'x', with(row.Current, [](PanelRecord& r) { r.Mac[5] = 0x01; })},
        {'t', with(row.Current, twin)},
        {'T', with(with(row.Current, twin), holds)},
        {'g', with(row.Current, moved)},
        {'G', with(with(row.Current, moved), holds)},
        {'m', with(row.Current, [](PanelRecord& r) { r.Ip[3] = 99; })},
        {'w', heardTwin},
    };
    QString gotBlocks;
    for (const QString& step : steps) {
        if (step == "skip") {
            rounds.Skip(0);
        } else if (step.startsWith("write")) {
            QCOMPARE(rounds.ToWrite(), std::vector<std::size_t>{0});
            for (const auto& [letter, report] : reports)
                if (std::memcmp(&report, &rounds.Latest(0), sizeof report) == 0)
                    gotBlocks += letter;
            // The write changes the row's one cell over that block, nothing else.
            const auto changed = Differences(rounds.Latest(0), AsReported(rounds.Pending(0)));
            QCOMPARE(changed.size(), std::size_t(1));
            QCOMPARE(changed.front().Field, std::string("unlock"));
            rounds.Wrote(0, step.endsWith('r'));
        } else {
            std::vector<PanelRecord> replies;
            for (const QChar c : step.mid(5))
                replies.push_back(reports.at(c));
            rounds.ReadBack(replies);
        }
    }
    QCOMPARE(gotBlocks, blocks);
    QCOMPARE(rounds.ToWrite().empty(), !again);
    const RowResult got = rounds.Result(0);
    QCOMPARE(QString::fromStdString(got.Result), result.section(':', 0, 0));
    QVERIFY2(QString::fromStdString(got.Details).contains(result.section(':', 1)),
             got.Details.c_str());
    QCOMPARE(got.Ok, result.startsWith("verified"));
}

// Panels with unusual records x {an export with one cell edited, applied; set of one option}:
// the write sends the panel's own bytes but for the one field, the report names that field
// alone, and the undo plan puts the panel back byte for byte: it restores a panel already put
// back as unchanged, and refuses one changed since by someone else.
void PlanTest::unusualPanels_data() {
    QTest::addColumn<PanelRecord>("panel");
    QTest::addColumn<bool>("apply"); // else set
    QTest::addColumn<QString>("column");
    QTest::addColumn<QString>("value");
    QTest::addColumn<Edit>("edit");        // what the panel holds afterwards
    QTest::addColumn<QString>("reported"); // each field reported, "|", its new text; ";" between
    const Edit unlock7 = [](PanelRecord& r) { r.UnlockTime = 7; };
    const Edit ip77 = [](PanelRecord& r) { r.Ip[3] = 77; };
    const Edit address = [](PanelRecord& r) { std::memcpy(r.Address, "5678000000", 10); };
    for (const UnusualPanel& p : UnusualPanels())
        for (const bool apply : {true, false}) {
            const QByteArray way = apply ? "apply " : "set ";
            QTest::newRow(way + "unlock, " + p.Name) << p.Record << apply << "unlock"
                                                     << "7" << unlock7 << "unlock|7";
            QTest::newRow(way + "ip, " + p.Name) << p.Record << apply << "ip"
                                                 << "10.200.13.77" << ip77 << "ip|10.200.13.77";
        }
    // A help station's four-digit address over its zero bytes (staged as the window does).
    QTest::newRow("apply address, help station, 0102 and zero bytes")
        << UnusualPanels()[9].Record << true << "address"
        << "5678" << address << "address|5678";
    // The type changes the address's bytes, not its text, nor the type letter: said as such,
    // and the type as it reads back.
    const Edit villa = [](PanelRecord& r) { std::memcpy(r.Address, "1234000000", 10); };
    for (const bool apply : {true, false})
        QTest::newRow(apply ? "apply type villa" : "set type villa")
            << UnusualPanels()[0].Record << apply << "type"
            << "villa" << villa << "type|villa;address|1234000000 (as the type villa has it)";
}

void PlanTest::unusualPanels() {
    QFETCH(PanelRecord, panel);
    QFETCH(bool, apply);
    QFETCH(QString, column);
    QFETCH(QString, value);
    QFETCH(Edit, edit);
    QFETCH(QString, reported);

    std::vector<PlanRow> rows;
    if (apply) {
        std::vector<std::string> cells = PanelCells(panel, "10.0.0.1");
        const auto at =
            std::find(std::begin(PanelColumns), std::end(PanelColumns), column.toStdString());
        cells[std::size_t(at - std::begin(PanelColumns))] = value.toStdString();
        const Plan plan = ReadPlan(Header.toStdString() + CsvLine(cells));
        QVERIFY(plan.Errors.empty());
        rows = plan.Rows;
    } else { // as set builds its row
        rows.push_back({0,
                        {{"mac", MacText(panel.Mac)}, {column.toStdString(), value.toStdString()}},
                        nullptr});
    }
    const Changes changes = PlanChanges(rows, {panel});
    QVERIFY2(!changes.Refused(), changes.Errors.empty() ? "" : changes.Errors[0].Text.c_str());
    QCOMPARE(int(changes.Rows.at(0).Kind), int(RowKind::Write));

    PanelRecord expected = panel;
    edit(expected);
    // The wire: the first write's request, as the engine composes it.
    Rounds rounds(changes.Rows);
    PanelRecord pending = rounds.Pending(0);
    MessageBuffer message;
    ComposeWrite(message, "XXXCID", rounds.Latest(0), pending);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(message) + 52, 44),
             QByteArray::fromStdString(NewBlock(expected)));
    // The report and the dry run: that field, nothing else.
    const auto report = Differences(panel, AsReported(pending), changes.Rows[0].Sets);
    QStringList fields;
    for (const FieldChange& change : report)
        fields << QString::fromStdString(change.Field + "|" + change.New);
    QCOMPARE(fields.join(';'), reported);
    // Read back as written: verified, nothing left to write.
    rounds.Wrote(0, true);
    rounds.ReadBack({expected});
    QCOMPARE(QString::fromStdString(rounds.Result(0).Result), QString("verified"));

    const Plan undo = ReadPlan(UndoPlanText(changes.Rows));
    QVERIFY(undo.Errors.empty());
    const Changes back = PlanChanges(undo.Rows, {expected});
    QVERIFY2(!back.Refused(), back.Errors.empty() ? "" : back.Errors[0].Text.c_str());
    QCOMPARE(int(back.Rows.at(0).Kind), int(RowKind::Write));
    Rounds backRounds(back.Rows);
    PanelRecord backPending = backRounds.Pending(0);
    ComposeWrite(message, "XXXCID", expected, backPending);
    QCOMPARE(QByteArray(reinterpret_cast<const char*>(message) + 52, 44),
             QByteArray::fromStdString(NewBlock(panel)));
    // Read back as the panel was: verified.
    backRounds.Wrote(0, true);
    backRounds.ReadBack({panel});
    QCOMPARE(QString::fromStdString(backRounds.Result(0).Result), QString("verified"));
    // Already put back (a run stopped before this row): nothing to write.
    const Changes again = PlanChanges(undo.Rows, {panel});
    QVERIFY(!again.Refused());
    QCOMPARE(int(again.Rows.at(0).Kind), int(RowKind::Unchanged));
    // Changed since by someone else, in the field the run wrote: refused, not overwritten.
    PanelRecord other = expected;
    other.UnlockTime = uint8_t(expected.UnlockTime + 1);
    other.Ip[3] = uint8_t(expected.Ip[3] + 1);
    other.Address[0] = char(expected.Address[0] + 1);
    const Changes moved = PlanChanges(undo.Rows, {other});
    QVERIFY(moved.Refused());
    QVERIFY2(moved.Errors.at(0).Text.find("changed since") != std::string::npos,
             moved.Errors[0].Text.c_str());
}

// apply killed after `landed` of its writes reached their panels (read back or not): applied
// again it converges, writing only the rest, and the first run's undo plan still puts every
// panel back byte for byte, those written by the second run too.
void PlanTest::killedApply_data() {
    QTest::addColumn<int>("landed");
    for (int landed = 0; landed <= 3; ++landed)
        QTest::newRow(qPrintable(QString::number(landed) + " of 3 writes landed")) << landed;
}

void PlanTest::killedApply() {
    QFETCH(int, landed);
    // Three panels with unusual records, apart by MAC, IP and address.
    std::vector<PanelRecord> panels;
    for (const int at : {4, 6, 9}) {
        PanelRecord r = UnusualPanels()[std::size_t(at)].Record;
        r.Mac[5] = uint8_t(at);
        r.Ip[3] = uint8_t(10 + at);
        r.Address[0] = r.TypeLetter == 'H' ? char('1' + at % 8) : r.Address[0];
        panels.push_back(r);
    }
    const std::vector<PanelRecord> before = panels;
    std::string csv = "mac,ip,unlock\n";
    for (const PanelRecord& r : panels)
        csv += MacText(r.Mac) + ",10.200.13." + std::to_string(100 + r.Ip[3]) + ",7\n";
    const Plan plan = ReadPlan(csv);
    QVERIFY(plan.Errors.empty());
    const auto write = [&](const Changes& changes, int count) {
        int wrote = 0;
        for (const RowChange& r : changes.Rows)
            for (PanelRecord& panel : panels)
                if (r.Kind == RowKind::Write && wrote < count &&
                    std::equal(r.Current.Mac, r.Current.Mac + 6, panel.Mac)) {
                    panel = AsReported(StagedOver(r, panel));
                    ++wrote;
                }
        return wrote;
    };
    const Changes first = PlanChanges(plan.Rows, panels);
    QVERIFY(!first.Refused());
    const std::string undo = UndoPlanText(first.Rows); // saved before the first write
    QCOMPARE(write(first, landed), landed);

    const Changes again = PlanChanges(plan.Rows, panels);
    QVERIFY(!again.Refused());
    QCOMPARE(write(again, 3), 3 - landed);
    QCOMPARE(write(PlanChanges(plan.Rows, panels), 3), 0); // converged
    for (const PanelRecord& panel : panels)
        QCOMPARE(int(panel.UnlockTime), 7);

    const Changes back = PlanChanges(ReadPlan(undo).Rows, panels);
    QVERIFY2(!back.Refused(), back.Errors.empty() ? "" : back.Errors[0].Text.c_str());
    QCOMPARE(write(back, 3), 3);
    for (std::size_t at = 0; at < panels.size(); ++at)
        QVERIFY2(std::memcmp(&panels[at], &before[at], sizeof panels[at]) == 0,
                 MacText(panels[at].Mac).c_str());
}

// Two runs' undo plans as one (a run stopped and started again): the first run applies the rows
// `first` (mac,ip,unlock) to two unusual panels (P ...:04 and Q ...:09), its writes reaching them
// or not (`landed`); someone may change P between the runs (`meddle`); the second run applies
// `second` (its rows, or a whole undo plan of a person's own when it begins with a header).
// Taken as one, the plans put every field a run changed back byte for byte as it was before the
// first run that changed it (a field `meddle` changed and no run had stays as `meddle` left it),
// or are refused with an error that begins with `error`, naming both files and lines.
void PlanTest::mergeUndoPlans_data() {
    QTest::addColumn<QString>("first");
    QTest::addColumn<bool>("landed");
    QTest::addColumn<Edit>("meddle");
    QTest::addColumn<QString>("second");
    QTest::addColumn<bool>("laterFirst"); // the plans given in the wrong order
    QTest::addColumn<QString>("error");
    const Edit none = [](PanelRecord&) {};
    const Edit gateway = [](PanelRecord& r) { r.Gateway[3] = uint8_t(r.Gateway[3] + 1); };
    const Edit ip = [](PanelRecord& r) { r.Ip[3] = 99; };
    const QString p = "00:50:2A:10:00:04", q = "00:50:2A:10:00:09", p50 = p + ",10.200.13.50,7";
    QTest::newRow("disjoint panels") << p50 << true << none << q + ",10.200.13.51,3" << false << "";
    QTest::newRow("same panel, both runs wrote it")
        << p50 << true << none << p + ",,3\n" + q + ",,2" << false << "";
    QTest::newRow("same panel, the first run's write lost")
        << p50 << false << none << p + ",10.200.13.52,3" << false << "";
    QTest::newRow("same row again, as assign started again writes it")
        << p50 << false << none << p50 << false << "";
    QTest::newRow("changed between the runs, a field neither wrote")
        << p50 << true << gateway << p + ",,3" << false << "";
    QTest::newRow("changed between the runs, a field the second wrote first")
        << p + ",,7" << true << ip << p + ",10.200.13.52,3" << false << "";
    QTest::newRow("changed between the runs, the field the first wrote")
        << p50 << true << ip << p + ",,3" << false
        << "U1.csv:2 and U2.csv:2: " + p + " ip: the later undo plan found 0AC80D63";
    QTest::newRow("the later plan first")
        << p50 << true << none << p + ",10.200.13.52,3" << true
        << "U2.csv:2 and U1.csv:2: " + p + " ip: the later undo plan found";
    QTest::newRow("a row without its raw bytes")
        << p50 << true << none << "mac,ip\n" + p + ",10.200.13.20" << false
        << "U2.csv:2: no raw and undoes bytes";
}

void PlanTest::mergeUndoPlans() {
    QFETCH(QString, first);
    QFETCH(bool, landed);
    QFETCH(Edit, meddle);
    QFETCH(QString, second);
    QFETCH(bool, laterFirst);
    QFETCH(QString, error);
    std::vector<PanelRecord> panels;
    for (const int at : {4, 9}) {
        PanelRecord r = UnusualPanels()[std::size_t(at)].Record;
        const uint8_t mac[] = {0x00, 0x50, 0x2A, 0x10, 0x00, uint8_t(at)};
        std::memcpy(r.Mac, mac, sizeof mac);
        r.Ip[3] = uint8_t(10 + at);
        panels.push_back(r);
    }
    std::vector<PanelRecord> before = panels;
    // A run: its undo plan saved, then its writes landing (or not).
    const auto run = [&](const QString& rows, bool land) {
        const Plan plan = ReadPlan("mac,ip,unlock\n" + rows.toStdString() + "\n");
        const Changes changes = PlanChanges(plan.Rows, panels);
        [&] { QVERIFY2(!changes.Refused(), Described(changes.Errors).join('\n').toUtf8()); }();
        for (const RowChange& r : changes.Rows)
            for (PanelRecord& panel : panels)
                if (land && r.Kind == RowKind::Write &&
                    std::equal(r.Current.Mac, r.Current.Mac + 6, panel.Mac))
                    panel = AsReported(StagedOver(r, panel));
        return ReadPlan(UndoPlanText(changes.Rows));
    };
    const Plan u1 = run(first, landed);
    meddle(panels[0]);
    const Plan u2 = second.startsWith("mac,") ? ReadPlan(second.toStdString()) : run(second, true);
    std::vector<NamedPlan> plans{{std::string("U1.csv"), u1}, {std::string("U2.csv"), u2}};
    if (laterFirst) std::swap(plans[0], plans[1]);
    const Plan merged = MergeUndoPlans(plans);
    if (!error.isEmpty()) {
        QCOMPARE(merged.Errors.size(), std::size_t(1));
        QVERIFY2(QString::fromStdString(merged.Errors[0].Text).startsWith(error),
                 merged.Errors[0].Text.c_str());
        return;
    }
    QVERIFY2(merged.Errors.empty(), Described(merged.Errors).join('\n').toUtf8());
    meddle(before[0]); // what no run changed is not ours to put back
    // The raw bytes carried are the first run's, in hex a person can read.
    for (const PlanRow& row : merged.Rows)
        for (const PanelRecord& was : before)
            if (row.Cells.at("mac") == MacText(was.Mac))
                QCOMPARE(row.Cells.at("raw"), RawCell(was));
    const Changes back = PlanChanges(merged.Rows, panels);
    QVERIFY2(!back.Refused(), Described(back.Errors).join('\n').toUtf8());
    for (const RowChange& r : back.Rows)
        for (PanelRecord& panel : panels)
            if (r.Kind == RowKind::Write && std::equal(r.Current.Mac, r.Current.Mac + 6, panel.Mac))
                panel = AsReported(StagedOver(r, panel));
    for (std::size_t at = 0; at < panels.size(); ++at)
        QVERIFY2(std::memcmp(&panels[at], &before[at], sizeof panels[at]) == 0,
                 MacText(panels[at].Mac).c_str());
}

// Write replies carry no identity: who may a reply from `source` come from?
void PlanTest::creditsWrite_data() {
    QTest::addColumn<QString>("source");
    QTest::addColumn<bool>("credited");
    QTest::newRow("current IP") << "192.168.1.20" << true;
    QTest::newRow("new IP") << "192.168.1.30" << true;
    QTest::newRow("another panel's") << "192.168.1.21" << false;
    QTest::newRow("no panel's") << "10.9.9.9" << false;
}

void PlanTest::creditsWrite() {
    QFETCH(QString, source);
    QFETCH(bool, credited);
    PanelRecord current = Current(), pending = Current();
    pending.Ip[3] = 30;
    QCOMPARE(CreditsWrite(source.toStdString(), current, pending), credited);
}

// The loss measure: "known heard" per round ('-' after them: the system dropped replies in it,
// and the round is not counted). Then the round after which every panel there has surely been
// heard (0: never), and the share of replies lost then, in per cent.
void PlanTest::hearing_data() {
    QTest::addColumn<QStringList>("rounds");
    QTest::addColumn<int>("sureAfter");
    QTest::addColumn<int>("lost");
    const auto same = [](int count, const QString& round) { return QStringList(count, round); };
    QTest::newRow("clean, 1,000 panels: two rounds") << same(2, "1000 1000") << 2 << 0;
    QTest::newRow("clean, 20 panels") << same(3, "20 20") << 3 << 0;
    // One panel heard once says little of the loss.
    // The panel heard and one more that may be there: 2 (1/2)^n <= 1e-3 after 6.
    QTest::newRow("clean, one panel") << same(6, "1 1") << 6 << 0;
    QTest::newRow("nobody heard: never sure") << same(8, "0 0") << 0 << 0;
    // 36 % lost (20 % each way): (0.36)^n <= 1e-3 / 20 takes 11 rounds.
    QStringList lossy;
    for (int n = 0; n < 11; ++n)
        lossy << (n % 3 == 1 ? "20 12" : "20 13");
    QTest::newRow("20 panels, a third of replies lost") << lossy << 11 << 37;
    QTest::newRow("dropped rounds are not counted")
        << QStringList{"1000 1000", "1000 1000 -", "1000 900 -", "1000 1000"} << 4 << 0;
    // Panels found late count as missed in the rounds before.
    QTest::newRow("panels found late")
        << QStringList{"10 10", "20 20", "20 20", "20 20", "20 20"} << 5 << 10;
}

void PlanTest::hearing() {
    QFETCH(QStringList, rounds);
    QFETCH(int, sureAfter);
    QFETCH(int, lost);
    Hearing heard;
    int sure = 0;
    for (qsizetype at = 0; at < rounds.size(); ++at) {
        const QStringList part = rounds[at].split(' ');
        QVERIFY(!heard.SureOfSite());
        heard.Round(part[0].toULong(), part[1].toULong(), part.value(2) != "-");
        if (heard.SureOfSite() && sure == 0) sure = int(at) + 1;
    }
    QCOMPARE(sure, sureAfter);
    QCOMPARE(heard.LostPercent(), lost);
}

namespace {

// Search rounds as recorded: round n hears the panels of the n-th text, one letter each ('a'
// onwards; the same letter is the same panel). Twins of 'a': 'A' shares its MAC and identity,
// 'M' its MAC, 'I' its identity, 'P' its MAC and IP. After the last text the rounds begin
// again with the first.
class RecordedLink final : public Cli::PanelLink {
  public:
    explicit RecordedLink(QStringList rounds) : Texts(std::move(rounds)) {}

    static PanelRecord Panel(QChar letter) {
        const char c = char(letter.unicode());
        const int n = c >= 'a' ? c - 'a' : 0, other = 25;
        const bool mac = c != 'I', ip = c == 'P', identity = c == 'A' || c == 'I';
        char text[13];
        std::snprintf(text, sizeof text, "H0102030%03d1", c >= 'a' || identity ? n : other);
        return MakeRecord(text, {0x00, 0x50, 0x2A, 0x10, 0x00, mac ? n : other},
                          {10, 0, 0, c >= 'a' || ip ? 10 + n : 200 + c - 'A'}, {255, 255, 255, 0},
                          {10, 0, 0, 1}, {10, 0, 0, 2}, "V1", 0, 5);
    }

    Cli::Collected Search(const Cli::SearchPlan& plan) override {
        const QString text = Texts.value(Sent % Texts.size()).section('~', 0, 0);
        const Cli::Millis late(Texts.value(Sent % Texts.size()).section('~', 1).toInt());
        ++Sent;
        Cli::Collected round;
        round.Searches = 1;
        round.Whole = true;
        Cli::Replies records;
        for (const QChar c : text) {
            round.Replies.push_back({Panel(c), "10.0.0.1", "", late});
            records.push_back(Panel(c));
        }
        // A round that Done ends early ("q") is taken to last 20 ms.
        const bool early = plan.Done && plan.Done(records);
        Lengths += early ? QString("q ") : QString::number(plan.Every.count()) + " ";
        Gaps += Sent > 1 && !plan.Continue; // a reply between two rounds would be lost
        Clock += early ? Cli::Millis(20) : plan.Every;
        return round;
    }
    std::size_t WriteAll(const std::vector<Cli::PanelWrite>& writes, std::vector<bool>& replied,
                         const std::function<bool(std::size_t)>&) override {
        replied.assign(writes.size(), false);
        return 0;
    }
    std::chrono::steady_clock::time_point Now() const override { return Clock; }

    QStringList Texts;
    int Sent = 0;
    QString Lengths; // of the rounds, in milliseconds
    int Gaps = 0;
    std::chrono::steady_clock::time_point Clock{};
};

} // namespace

// The searches of the commands on recorded rounds: requests sent, whether the decision was
// reached before the deadline, and the panels found (letters, in MAC order).
void PlanTest::searchUntil_data() {
    QTest::addColumn<QString>("command");
    QTest::addColumn<int>("waitMs");
    QTest::addColumn<QStringList>("rounds");
    QTest::addColumn<int>("requests");
    QTest::addColumn<bool>("decided");
    QTest::addColumn<QString>("found");
    const QStringList site{"abcdefghijklmnopqrst"};
    QTest::newRow("search, clean: three rounds of 20")
        << "search" << 500 << site << 3 << true << "abcdefghijklmnopqrst";
    // A request lost on its way can reach no panel at all: nobody is sure only after 16.
    QTest::newRow("search, nobody") << "search" << 500 << QStringList{""} << 16 << true << "";
    // 80 % of the replies lost: 20 panels need 46 rounds, more than allowed.
    QTest::newRow("search, the list may be short")
        << "search" << 500 << QStringList{"abcd", "efgh", "ijkl", "mnop", "qrst"}
        << Cli::SearchRoundsMost << false << "abcdefghijklmnopqrst";
    // A twin of the named panel would be heard as surely as the panel itself is: 5 rounds, each
    // ended once every panel known has answered it.
    QTest::newRow("set, clean site")
        << "set a" << 8000 << site << 6 << true << "abcdefghijklmnopqrst";
    // The rest of the site answers every round and the named panel 2 of 3: its own loss counts.
    QTest::newRow("set, the named panel behind loss")
        << "set a" << 8000
        << QStringList{"abcdefghijklmnopqrst", "abcdefghijklmnopqrst", "bcdefghijklmnopqrst"} << 11
        << true << "abcdefghijklmnopqrst";
    QTest::newRow("set, one panel alone: sure after 6")
        << "set a" << 8000 << QStringList{"a"} << 7 << true << "a";
    // Once decided, one more round as long as the window listens: a twin slower than the short
    // rounds is heard in it.
    QTest::newRow("set, a twin heard in the late round")
        << "set a" << 8000 << QStringList{"a", "a", "a", "a", "a", "a", "aA"} << 7 << true << "aA";
    // The named panel missing that round changes nothing decided.
    QTest::newRow("set, the named panel misses the late round")
        << "set a" << 8000 << QStringList{"ab", "ab", "ab", "ab", "ab", "b"} << 6 << true << "ab";
    // The twin missed the first rounds: a decision after one round would write the one
    // answering.
    QTest::newRow("set, a twin heard in round 4")
        << "set a" << 8000 << QStringList{"ab", "ab", "ab", "abA"} << 5 << true << "aAb";
    // No round starts after 1 s: 100 ms each while a panel known is missing, 20 ms otherwise.
    QTest::newRow("set, deadline first")
        << "set a" << 1000 << QStringList{"ab", "b", "a", "b", "a", "b"} << 12 << false << "ab";
    // Nobody answers as the name: absent once the site is sure and 2 s have passed (250 ms, then
    // 100 ms each), as it may only answer late.
    QTest::newRow("set, the name silent")
        << "set a" << 8000 << QStringList{"bcd"} << 20 << true << "bcd";
    // The letters after "apply" are the plan's panels.
    QTest::newRow("apply, clean: rounds end early")
        << "apply abcdefghijklmnopqrst" << 8000 << site << 3 << true << "abcdefghijklmnopqrst";
    QTest::newRow("apply, lossy but sure in time")
        << "apply abcd" << 8000 << QStringList{"abcd", "abd", "bcd", "acd", "abc", "abcd"} << 7
        << true << "abcd";
    QTest::newRow("apply, a panel of the plan silent: 2 s")
        << "apply abcde" << 8000 << QStringList{"abcd"} << 19 << true << "abcd";
    QTest::newRow("apply, a panel of the plan heard late")
        << "apply abcde" << 8000 << (QStringList{"abcd", "abcd"} << QStringList(20, "abcde")) << 5
        << true << "abcde";
    // Whole rounds, at least the 31 that 40 % loss each way needs for a doubt of 10^-6 (0.64^31
    // < 10^-6), then one that waits for late ones.
    QTest::newRow("delete-cards, clean")
        << "delete-cards a" << 100 << QStringList{"ab"} << 32 << true << "ab";
    QTest::newRow("delete-cards, a late twin")
        << "delete-cards a" << 100 << (QStringList(31, "a") << "aA") << 32 << true << "aA";
    // Replies measured 1 s late: the listen after the rounds is twice that ("~": the round's
    // replies came that many ms after its request).
    QTest::newRow("delete-cards, late replies: a longer listen")
        << "delete-cards a" << 100 << QStringList{"ab~1000"} << 32 << true << "ab";
}

void PlanTest::searchUntil() {
    QFETCH(QString, command);
    QFETCH(int, waitMs);
    QFETCH(QStringList, rounds);
    QFETCH(int, requests);
    QFETCH(bool, decided);
    QFETCH(QString, found);
    RecordedLink link(rounds);
    const Cli::SearchOptions options{waitMs, command == "search" ? 2 : 1};
    const std::string name = MacText(RecordedLink::Panel('a').Mac);
    std::vector<MacAddress> macs;
    for (const QChar c : command.section(' ', 1))
        macs.push_back(MacOf(RecordedLink::Panel(c)));
    const Cli::RoundSearch how = command == "search"           ? Cli::SiteSearch(options)
                                 : command.startsWith("apply") ? Cli::PlanSearch(options, macs)
                                 : command.startsWith("set")   ? Cli::NameSearch(options, name)
                                                               : Cli::CardSearch(options, name);
    const Cli::Searched got = Cli::SearchUntil(link, how);
    QCOMPARE(link.Sent, requests);
    QCOMPARE(got.Decided, decided);
    QCOMPARE(link.Gaps, 0);
    QString letters;
    for (const Cli::FoundPanel& p : got.Found)
        for (const QChar c : QString("abcdefghijklmnopqrstA")) {
            const PanelRecord r = RecordedLink::Panel(c);
            if (std::memcmp(&p.Record, &r, sizeof r) == 0) letters += c;
        }
    QCOMPARE(letters, found);
    // The rounds of delete-cards are whole, and then it listens for late replies; the rounds
    // after the least are short.
    if (command.startsWith("delete"))
        QCOMPARE(link.Lengths, QString("60 ").repeated(requests - 1) +
                                   (rounds.front().contains('~') ? "2000 " : "1500 "));
    if (QByteArray(QTest::currentDataTag()) == "search, clean: three rounds of 20")
        QCOMPARE(link.Lengths, QString("500 500 100 "));
    if (QByteArray(QTest::currentDataTag()) == "apply, clean: rounds end early")
        QCOMPARE(link.Lengths, QString("q ").repeated(requests));
    if (QByteArray(QTest::currentDataTag()) == "set, clean site")
        QCOMPARE(link.Lengths, QString("q ").repeated(requests - 1) + "100 ");
    if (QByteArray(QTest::currentDataTag()).contains("silent"))
        QCOMPARE(link.Lengths, "250 " + QString("100 ").repeated(requests - 1));
}

// Which panel a name on the command line stands for, and how a refusal names each of several
// so that the name given works: the letters name the panels found (as in searchUntil), then
// the name, then the outcome and what the message must hold.
void PlanTest::namedPanel_data() {
    QTest::addColumn<QString>("site");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QString>("message");
    QTest::newRow("unique MAC") << "ab"
                                << "00:50:2A:10:00:00"
                                << "one"
                                << "";
    QTest::newRow("unknown") << "ab"
                             << "10.0.0.99"
                             << "none"
                             << "2 panel(s) found";
    // A write names the panel's whole block: the IP tells twins sharing a MAC apart.
    QTest::newRow("twins sharing a MAC: by IP") << "aMb"
                                                << "00:50:2A:10:00:00"
                                                << "several"
                                                << "name one of them as 10.0.0.10 or 10.0.0.212";
    QTest::newRow("twins sharing MAC and identity: by IP") << "aA"
                                                           << "H01020300001"
                                                           << "several"
                                                           << "as 10.0.0.10 or 10.0.0.200";
    QTest::newRow("twins sharing an identity: by IP") << "aI"
                                                      << "H01020300001"
                                                      << "several"
                                                      << "as 10.0.0.10 or 10.0.0.208";
    QTest::newRow("twins sharing MAC and IP: by identity") << "aP"
                                                           << "10.0.0.10"
                                                           << "several"
                                                           << "as H01020300001 or H01020300251";
    QTest::newRow("records alike are one panel") << "aa"
                                                 << "10.0.0.10"
                                                 << "one"
                                                 << "";
    QTest::newRow("no name picks one alone") << "aAP"
                                             << "00:50:2A:10:00:00"
                                             << "several"
                                             << "no name of their own";
}

void PlanTest::namedPanel() {
    QFETCH(QString, site);
    QFETCH(QString, name);
    QFETCH(QString, outcome);
    QFETCH(QString, message);
    std::vector<Cli::FoundPanel> found;
    for (const QChar c : site)
        found.push_back({RecordedLink::Panel(c), "10.0.0.1", ""});
    found = Cli::Distinct(found);
    const Cli::NamedPanel got = Cli::FindOne(found, name.toStdString());
    const char* outcomes[] = {"one", "none", "several"};
    QCOMPARE(QString(outcomes[got.Outcome]), outcome);
    QVERIFY2(QString::fromStdString(got.Error).contains(message), got.Error.c_str());
    // Every name the refusal offers picks one panel alone.
    if (got.Outcome == Cli::NamedPanel::Several)
        for (const QString& offered : message.section(" as ", 1).split(" or ", Qt::SkipEmptyParts))
            QCOMPARE(Cli::Matching(found, offered.toStdString()).size(), std::size_t(1));
}

// The file itself is the guard (a check beforehand could be overtaken): never over a file or
// through a symlink, no folder for a named plan, and the owner's alone.
// The site after the writes. Panels as in searchUntil ('c' is taken as a second panel on b's
// IP where a text says "b=c"); rows: "a>50" writes a to 10.0.0.50, "a>b" to b's IP. Then the
// read-back replies: a letter as found, "a>50" a as written, "b>50" b moved there by someone
// else. The clashes named, by the last bytes of their MACs.
void PlanTest::clashesAfter_data() {
    QTest::addColumn<QString>("found");
    QTest::addColumn<QStringList>("rows");
    QTest::addColumn<QStringList>("readBack");
    QTest::addColumn<QString>("clashes");
    QTest::newRow("a free IP") << "ab" << QStringList{"a>50"} << QStringList{"a>50", "b"} << "";
    QTest::newRow("someone moves another panel onto it meanwhile")
        << "ab" << QStringList{"a>50"} << QStringList{"a>50", "b>50"} << "00 01";
    QTest::newRow("a clash already there is said before, not again")
        << "abc" << QStringList{"a>50"} << QStringList{"a>50", "b", "c=b"} << "";
    // c answered only after the writes: its clash with b may be as old as the site.
    QTest::newRow("a panel heard late on another's IP: not this run's")
        << "ab" << QStringList{"a>50"} << QStringList{"a>50", "b", "c=b"} << "";
    QTest::newRow("a panel heard late on the IP a row takes")
        << "ab" << QStringList{"a>50"} << QStringList{"a>50", "b", "c>50"} << "00 02";
    // "~": a reply that came late, during the writes.
    QTest::newRow("a late reply on the IP a row takes")
        << "ab" << QStringList{"a>50"} << QStringList{"a>50", "b", "~c>50"} << "00 02";
    // Two rows trade their IP addresses: the old reports are gone.
    QTest::newRow("two rows trade addresses")
        << "ab" << QStringList{"a>b", "b>a"} << QStringList{"a>b", "b>a"} << "";
    // A late reply with a row's MAC and neither its IP nor its identity is another panel.
    QTest::newRow("a MAC twin heard late")
        << "ab" << QStringList{"a>50"} << QStringList{"a>50", "b", "~M"} << "00 00 00";
    QTest::newRow("the row's own late reply is no twin")
        << "ab" << QStringList{"a>50"} << QStringList{"a>50", "b", "~a"} << "";
    // A row that writes both the IP and the identity: its old report, late, is still its own.
    QTest::newRow("the row's own late reply, IP and identity written")
        << "ab" << QStringList{"a>I"} << QStringList{"a>I", "b", "~a"} << "";
    // Its row is `no reply`: what it holds is not known, and no clash is guessed at.
    QTest::newRow("a row written, its panel silent after")
        << "ab" << QStringList{"a>50"} << QStringList{"b>50"} << "";
}

void PlanTest::clashesAfter() {
    QFETCH(QString, found);
    QFETCH(QStringList, rows);
    QFETCH(QStringList, readBack);
    QFETCH(QString, clashes);
    const auto panel = [](const QString& text) {
        PanelRecord r = RecordedLink::Panel(text[0]);
        if (text.size() < 3) return r;
        if (text[1] == '=') r.Ip[3] = RecordedLink::Panel(text[2]).Ip[3];
        if (text[1] == '>')
            r.Ip[3] = text[2].isDigit() ? uint8_t(text.mid(2).toInt())
                                        : RecordedLink::Panel(text[2]).Ip[3];
        // "a>I": onto I's IP and identity both.
        if (text == "a>I") {
            const PanelRecord i = RecordedLink::Panel('I');
            std::memcpy(&r.TypeLetter, &i.TypeLetter, PanelIdentityLength);
        }
        return r;
    };
    std::vector<PanelRecord> before;
    for (const QChar c : found)
        before.push_back(c == 'c' ? panel("c=b") : panel(QString(c)));
    std::vector<RowChange> changes;
    for (const QString& row : rows) {
        RowChange change;
        change.Kind = RowKind::Write;
        change.Current = panel(row.left(1));
        change.Pending = panel(row);
        change.Pending.UnlockTime = uint8_t('0' + change.Pending.UnlockTime);
        change.Sets[IpColumn] = true;
        change.Sets[AddressColumn] = change.Sets[TypeColumn] = change.Sets[FacilityColumn] =
            row == "a>I";
        changes.push_back(change);
    }
    Rounds rounds(changes, before);
    for (std::size_t at = 0; at < changes.size(); ++at)
        rounds.Wrote(at, true);
    std::vector<PanelRecord> replies;
    std::vector<Cli::FoundPanel> late;
    for (const QString& r : readBack)
        if (r.startsWith('~'))
            late.push_back({panel(r.mid(1)), "", ""});
        else
            replies.push_back(panel(r));
    rounds.ReadBack(replies);
    for (const PanelRecord& r : Cli::LateOthers(rounds, late))
        replies.push_back(r);
    const auto got = Cli::ClashesAfter(rounds, before, replies);
    QString named;
    for (const std::string& line : got)
        for (const QString& mac : QString::fromStdString(line).split(' '))
            if (mac.startsWith("00:50:2A:")) named += (named.isEmpty() ? "" : " ") + mac.right(2);
    QCOMPARE(named, clashes);
}

namespace {

// A site without a network, on a clock of its own: panels answer each search request after
// their delay unless their pattern loses it ('x' at the request's place; '.' or past its end:
// heard), writes reach the panel whose MAC and IP they name and are answered after its write
// delay. Replies come in the order of their times, as the engine hands them on.
class SiteLink final : public Cli::PanelLink {
    using Time = std::chrono::steady_clock::time_point;

  public:
    struct Sim {
        PanelRecord Record{};
        int Delay = 1, WriteDelay = 1;
        int DelayWritten = -1; // once written, when not -1
        QString Lost;          // per search request
        QString WritesLost;
        int Writes = 0, Searches = 0;
    };
    std::vector<Sim> Panels;
    // Called once the n-th write (counted from 0) has reached its panel.
    std::function<void(int)> AfterWrite = [](int) {};
    int WritesSent = 0;

    Cli::Collected Search(const Cli::SearchPlan& plan) override {
        Cli::Collected out;
        out.Whole = true;
        const auto start = Clock;
        const auto deadline = plan.Deadline.count() > 0 ? start + plan.Deadline : Time::max();
        std::size_t from = plan.Continue ? Taken : Delivered();
        Cli::Replies since;
        for (int sent = 0;;) {
            Request();
            ++sent;
            ++out.Searches;
            const auto end = std::min(Clock + plan.Every, deadline);
            bool done = false;
            while (!done && !Pending.empty() && Pending.front().first <= end) {
                Deliver();
                since.push_back(Arrived.back().Record);
                done = plan.Done && plan.Done(since);
            }
            if (done) break;
            Clock = end;
            if (sent >= plan.Requests || Clock >= deadline) break;
        }
        out.Replies.assign(Arrived.begin() + std::ptrdiff_t(std::min(from, Arrived.size())),
                           Arrived.end());
        Taken = Arrived.size();
        return out;
    }
    std::size_t WriteAll(const std::vector<Cli::PanelWrite>& writes, std::vector<bool>& replied,
                         const std::function<bool(std::size_t)>& next) override {
        replied.assign(writes.size(), false);
        std::size_t sent = 0;
        for (; sent < writes.size() && next(sent); ++sent) {
            Clock += Cli::Millis(1);
            const int n = WritesSent++;
            for (Sim& p : Panels) {
                if (std::memcmp(p.Record.Mac, writes[sent].Current.Mac, 6) != 0 ||
                    std::memcmp(p.Record.Ip, writes[sent].Current.Ip, 4) != 0)
                    continue;
                if (p.WritesLost.mid(p.Writes++, 1) == "x") continue;
                p.Record = AsReported(writes[sent].Pending);
                if (p.DelayWritten >= 0) p.Delay = p.DelayWritten;
                WriteReplies.push_back({Clock + Cli::Millis(p.WriteDelay), Ipv4Text(p.Record.Ip)});
            }
            AfterWrite(n);
            // A write is given up after 100 ms; replies that came by then are credited.
            const auto until = Clock + Cli::Millis(100);
            for (auto it = WriteReplies.begin(); it != WriteReplies.end();)
                if (it->first <= until && writes[sent].Credits(it->second)) {
                    replied[sent] = true;
                    it = WriteReplies.erase(it);
                } else {
                    ++it;
                }
            std::erase_if(WriteReplies, [&](const auto& r) { return r.first <= until; });
        }
        return sent;
    }
    // Replies of `record` every `every` ms for a minute, to another program's searches.
    void Unsolicited(const PanelRecord& record, int every) {
        for (int t = every; t < 60000; t += every)
            Pending.push_back({Time{} + Cli::Millis(t), record});
        std::sort(Pending.begin(), Pending.end(),
                  [](const auto& a, const auto& b) { return a.first < b.first; });
    }
    std::chrono::steady_clock::time_point LastRequest() const override { return LastSent; }
    std::vector<Cli::FoundPanel> Unread(Time until) override {
        Clock = std::max(Clock, until);
        while (!Pending.empty() && Pending.front().first <= Clock)
            Deliver();
        return {Arrived.begin() + std::ptrdiff_t(std::min(Taken, Arrived.size())), Arrived.end()};
    }
    Time Now() const override { return Clock; }

  private:
    void Request() {
        LastSent = Clock;
        for (Sim& p : Panels)
            if (p.Lost.mid(p.Searches++, 1) != "x") {
                const auto at = Clock + Cli::Millis(p.Delay);
                const auto place =
                    std::upper_bound(Pending.begin(), Pending.end(), at,
                                     [](Time t, const auto& e) { return t < e.first; });
                Pending.insert(place, {at, p.Record});
            }
    }
    // The next reply due, timed as the engine times it.
    void Deliver() {
        const auto [at, record] = Pending.front();
        Pending.erase(Pending.begin());
        Clock = std::max(Clock, at);
        Arrived.push_back(
            {record, "10.0.0.1", "", std::chrono::duration_cast<Cli::Millis>(at - LastSent)});
    }
    std::size_t Delivered() {
        while (!Pending.empty() && Pending.front().first <= Clock)
            Deliver();
        return Arrived.size();
    }

    Time Clock{}, LastSent{};
    std::vector<std::pair<Time, PanelRecord>> Pending; // replies on their way, by time
    std::vector<std::pair<Time, std::string>> WriteReplies;
    std::vector<Cli::FoundPanel> Arrived;
    std::size_t Taken = 0;
};

} // namespace

// Write rounds on SiteLink: row 0 writes panel a's unlocking time (or "a>b": a onto b's IP as
// well); b is another panel of the site. Each case: a's and b's delays in ms, a's lost search
// requests and lost writes, what happens after the first write, then the row's result, the
// writes that reached a, and the clash named ("" none).
void PlanTest::writeRounds_data() {
    QTest::addColumn<QString>("row");
    QTest::addColumn<int>("delayA");
    QTest::addColumn<int>("delayB");
    QTest::addColumn<QString>("lostA");
    QTest::addColumn<QString>("lostB");
    QTest::addColumn<QString>("writesLostA");
    QTest::addColumn<QString>("event");
    QTest::addColumn<QString>("result");
    QTest::addColumn<int>("writes");
    QTest::addColumn<QString>("clash");
    QTest::newRow("prompt: verified at once") << "a" << 1 << 1 << ""
                                              << ""
                                              << ""
                                              << ""
                                              << "verified" << 1 << "";
    // Replies 300 ms late before the write, 400 ms after: the reports with the old values that
    // answer the searches before the write come during the read-back, and are no read-back (not
    // differs, and no reason to write again).
    QTest::newRow("late stale reports: no differs") << "a" << 300 << 1 << ""
                                                    << ""
                                                    << ""
                                                    << "a answers later once written"
                                                    << "verified" << 1 << "";
    // Someone moves b onto the IP the row gives a while replies are 200 ms late: the clash is
    // named.
    QTest::newRow("a late clash is named") << "a>50" << 200 << 200 << ""
                                           << ""
                                           << ""
                                           << "move b to 50"
                                           << "verified" << 1 << "50";
    // b heard before the writes, then its replies lost for 5 searches: the run ends only once
    // b has answered a search after the write.
    QTest::newRow("a clash behind loss is named") << "a>50" << 1 << 1 << ""
                                                  << "......xxxxx"
                                                  << ""
                                                  << "move b to 50"
                                                  << "verified" << 1 << "50";
    // b answers only after the short searches before the writes have ended: heard late, it is
    // known, and awaited after the write.
    QTest::newRow("a late clash, b heard only during the writes") << "a>50" << 1 << 80 << ""
                                                                  << ""
                                                                  << ""
                                                                  << "move b to 50"
                                                                  << "verified" << 1 << "50";
    QTest::newRow("read-back lost, then heard") << "a" << 1 << 1 << "......xxxxxx"
                                                << ""
                                                << ""
                                                << ""
                                                << "verified" << 1 << "";
    QTest::newRow("write lost, written again") << "a" << 1 << 1 << ""
                                               << ""
                                               << "x"
                                               << ""
                                               << "verified" << 2 << "";
    // b also answers another program's searches, every 40 ms: its replies keep coming, later
    // and later after this run's last search, and the listen for late replies still ends.
    QTest::newRow("another program searching") << "a" << 1 << 1 << ""
                                               << ""
                                               << ""
                                               << "b answers another program"
                                               << "verified" << 1 << "";
}

void PlanTest::writeRounds() {
    QFETCH(QString, row);
    QFETCH(int, delayA);
    QFETCH(int, delayB);
    QFETCH(QString, lostA);
    QFETCH(QString, lostB);
    QFETCH(QString, writesLostA);
    QFETCH(QString, event);
    QFETCH(QString, result);
    QFETCH(int, writes);
    QFETCH(QString, clash);
    SiteLink link;
    SiteLink::Sim a, b;
    a.Record = RecordedLink::Panel('a'), b.Record = RecordedLink::Panel('b');
    a.Delay = delayA, b.Delay = delayB, a.Lost = lostA, b.Lost = lostB;
    a.WritesLost = writesLostA;
    if (event == "a answers later once written") a.DelayWritten = 400;
    link.Panels = {a, b};
    if (event == "b answers another program") link.Unsolicited(b.Record, 40);
    if (event == "move b to 50")
        link.AfterWrite = [&](int n) {
            if (n == 0) link.Panels[1].Record.Ip[3] = 50;
        };
    // The search before the writes, as apply makes it.
    const Cli::Searched searched =
        Cli::SearchUntil(link, Cli::PlanSearch(Cli::SearchOptions{8000, 1}, {MacOf(a.Record)}));
    RowChange change;
    change.Kind = RowKind::Write;
    change.Current = a.Record;
    change.Pending = a.Record;
    change.Pending.UnlockTime = '3';
    change.Sets[UnlockColumn] = true;
    if (row == "a>50") {
        change.Pending.Ip[3] = 50;
        change.Sets[IpColumn] = true;
    }
    Rounds rounds({change}, RecordsOf(searched.Found));
    const auto readBack = Cli::WriteRounds(link, rounds, Cli::SearchOptions{8000, 1}, 8,
                                           Cli::RunControl{}, searched.Heard);
    QCOMPARE(QString::fromStdString(rounds.Result(0).Result), result);
    QCOMPARE(link.Panels[0].Writes, writes);
    // However late replies come, the run ends within seconds of its clock.
    QVERIFY(link.Now() < std::chrono::steady_clock::time_point{} + Cli::Millis(15000));
    QString named;
    for (const std::string& line : Cli::ClashesAfter(rounds, RecordsOf(searched.Found), readBack))
        named += QString::fromStdString(line).contains(".50") ? "50" : "?";
    QCOMPARE(named, clash);
}

void PlanTest::saveUndoPlan_data() {
    QTest::addColumn<QString>("name"); // in a fresh folder holding kept.csv and link.csv
    QTest::addColumn<bool>("makeFolder");
    QTest::addColumn<QString>("error"); // empty: saved
    QTest::newRow("new file") << "undo.csv" << false << "";
    QTest::newRow("existing file kept") << "kept.csv" << false << "the name is taken";
    QTest::newRow("symlink not followed") << "link.csv" << false << "the name is taken";
    QTest::newRow("no folder made when named") << "new/undo.csv" << false << "No such file";
    QTest::newRow("default folders made") << "state/callpanel/undo.csv" << true << "";
}

void PlanTest::saveUndoPlan() {
    QFETCH(QString, name);
    QFETCH(bool, makeFolder);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString kept = dir.filePath("kept.csv"), target = dir.filePath("target.csv");
    QFile file(kept);
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("keep") == 4);
    file.close();
    QVERIFY(QFile::link(target, dir.filePath("link.csv")));

    std::string why;
    const std::string path = dir.filePath(name).toStdString();
    QCOMPARE(SaveUndoPlan(path, "mac\n", makeFolder, why), error.isEmpty());
    QVERIFY2(QString::fromStdString(why).contains(error), why.c_str());
    QFile check(kept);
    QVERIFY(check.open(QIODevice::ReadOnly) && check.readAll() == "keep");
    QVERIFY(!QFile::exists(target));
    if (!error.isEmpty()) {
        QVERIFY(!QFileInfo(dir.filePath(name)).dir().exists() || name.count('/') == 0);
        return;
    }
    QCOMPARE(QFileInfo(dir.filePath(name)).permissions() & ~QFile::ReadUser & ~QFile::WriteUser &
                 ~QFile::ReadOwner & ~QFile::WriteOwner,
             QFileDevice::Permissions());
    if (makeFolder)
        QCOMPARE(QFileInfo(QFileInfo(dir.filePath(name)).path()).permissions() &
                     (QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup),
                 QFileDevice::Permissions());
}

// The name a mistyped one most likely meant, by the one rule the plan's columns and callpanel's
// commands and options share.
void PlanTest::nearestName_data() {
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QStringList>("known");
    QTest::addColumn<QString>("meant");
    const QStringList commands{"search", "set",    "apply", "delete-cards",
                               "check",  "report", "assign"};
    const QStringList search{"help", "wait", "repeat", "format", "quiet"};
    const QStringList apply{"help", "dry-run", "wait", "repeat", "rounds", "undo", "format"};
    QTest::newRow("two letters swapped") << "wiat" << search << "wait";
    QTest::newRow("a letter swapped in a command") << "serach" << commands << "search";
    QTest::newRow("a letter missing") << "aply" << commands << "apply";
    QTest::newRow("a letter more") << "chekk" << commands << "check";
    QTest::newRow("plural dropped") << "delete-card" << commands << "delete-cards";
    QTest::newRow("dash left out") << "dryrun" << apply << "dry-run";
    QTest::newRow("two edits in a long name") << "formta" << search << "format";
    QTest::newRow("two edits in a short name are another word") << "rpeet" << search << "";
    QTest::newRow("a beginning of one name")
        << "ignore" << QStringList{"help", "ignore-extra"} << "ignore-extra";
    QTest::newRow("a beginning of two names") << "rep" << QStringList{"repeat", "report"} << "";
    QTest::newRow("a beginning too short") << "re" << QStringList{"repeat"} << "";
    QTest::newRow("the first of equals") << "max" << QStringList{"mac", "mask"} << "mac";
    QTest::newRow("nothing near") << "frobnicate" << commands << "";
    QTest::newRow("letters of another case are other letters") << "WAIT" << search << "";
}

void PlanTest::nearestName() {
    QFETCH(QString, typed);
    QFETCH(QStringList, known);
    QFETCH(QString, meant);
    std::vector<std::string> names;
    for (const QString& name : known)
        names.push_back(name.toStdString());
    const std::string word = typed.toStdString();
    QCOMPARE(QString::fromStdString(Nearest(word, names, TypingEdits(word))), meant);
}

QTEST_APPLESS_MAIN(PlanTest)
#include "tst_plan.moc"
