// Commissioning without the network: schedules read, the site judged against its plan, the
// handover report and files replaced whole.
#include <QtTest>
#include <cmath>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>
#include <set>

#include "PanelTexts.h"
#include "Records.h"
#include "WriteRecord.h"
#include "commission/AsBuilt.h"
#include "commission/AssignRun.h"
#include "commission/Commissioning.h"
#include "commission/HtmlReport.h"
#include "commission/WorkDone.h"
#include "files/WholeFile.h"
#include "plan/CsvReader.h"
#include "plan/Plan.h"
#include "plan/PlanCheck.h"
#include "plan/UndoPlan.h"
#include "site/Rounds.h"
#include "web/AddressPlanJson.h"
#include "web/LiveFeed.h"
#include "web/LiveSite.h"
#include "web/SiteFolder.h"
#include "web/UndoPlans.h"
#include "web/WebGuard.h"

namespace {

// A panel by the last byte of its MAC and of its IP (10.1.2.x/24); the rest of its identity
// from the IP, so that panels differ.
PanelRecord Panel(const QString& fields) {
    const QStringList part = fields.split(' ');
    PanelRecord r = MakeRecord("H01020304051", {0x00, 0x50, 0x2A, 0x10, 0x00, 0xA5}, {10, 1, 2, 20},
                               {255, 255, 255, 0}, {10, 1, 2, 1}, {10, 1, 2, 2}, "V1", 0, 5);
    r.Mac[5] = uint8_t(part[0].toUInt(nullptr, 16));
    r.Ip[3] = uint8_t(part[1].toInt());
    r.Address[9] = char('0' + r.Ip[3] % 10), r.Address[8] = char('0' + r.Ip[3] / 10 % 10);
    for (const QString& how : part.mid(2)) {
        if (how == "factory")
            r.Ip[0] = 192, r.Ip[1] = 168, r.Ip[2] = 1, r.Gateway[0] = 192, r.Gateway[1] = 168,
            r.Gateway[2] = 1, r.Server[0] = 192, r.Server[1] = 168, r.Server[2] = 1;
        if (how == "same-address") r.Address[9] = r.Address[8] = '0';
        if (how == "other-address") r.Address[7] = '9';
        if (how == "gateway-elsewhere") r.Gateway[2] = 9;
        if (how == "server-far") r.Server[0] = 172;
        if (how == "no-gateway") r.Gateway[0] = r.Gateway[1] = r.Gateway[2] = r.Gateway[3] = 0;
        if (how == "version") std::memcpy(r.Version, "V2", 2);
        if (how == "villa") std::memset(r.Address + 4, '0', 6);
    }
    return r;
}

std::vector<PanelRecord> Panels(const QStringList& specs) {
    std::vector<PanelRecord> out;
    for (const QString& s : specs)
        out.push_back(Panel(s));
    return out;
}

// Plan rows "A5 unlock=3": the export of the panel found with that MAC (or of a fresh one),
// with the cells given, and a '#' note column.
std::string PlanCsv(const QStringList& rows, const std::vector<PanelRecord>& found) {
    std::vector<std::string> header(std::begin(PanelColumns), std::end(PanelColumns));
    header.push_back("# location");
    std::string csv = CsvLine(header);
    for (const QString& row : rows) {
        const QStringList part = row.split(' ');
        PanelRecord r = Panel(part[0] + " 99");
        for (const PanelRecord& p : found)
            if (p.Mac[5] == r.Mac[5]) r = p;
        std::vector<std::string> fields = PanelCells(r, "10.0.0.1");
        fields.push_back("Block " + part[0].toStdString());
        for (const QString& cell : part.mid(1)) {
            const auto at = std::find(std::begin(PanelColumns), std::end(PanelColumns),
                                      cell.section('=', 0, 0).toStdString());
            fields[size_t(at - std::begin(PanelColumns))] = cell.section('=', 1).toStdString();
        }
        csv += CsvLine(fields);
    }
    return csv;
}

QStringList Texts(const std::vector<SiteFault>& faults) {
    QStringList out;
    for (const SiteFault& f : faults)
        out << QString::fromStdString(f.Text);
    return out;
}

} // namespace

class CommissionTest : public QObject {
    Q_OBJECT
  private slots:
    void readSchedule_data();
    void readSchedule();
    void parseSubnet_data();
    void parseSubnet();
    void checkPlan_data();
    void checkPlan();
    void reportHtml();
    void workDone_data();
    void workDone();
    void workDoneFolders_data();
    void workDoneFolders();
    void newPanelWatch_data();
    void newPanelWatch();
    void hearingNotices_data();
    void hearingNotices();
    void powerOrderMisses_data();
    void powerOrderMisses();
    void checkSchedule_data();
    void checkSchedule();
    void asBuilt();
    void killedRow_data();
    void killedRow();
    void writeWhole_data();
    void writeWhole();
    void judgeRequest_data();
    void judgeRequest();
    void siteNames_data();
    void siteNames();
    void undoPlanOrder_data();
    void undoPlanOrder();
    void liveSite();
    void liveFeed_data();
    void liveFeed();
};

void CommissionTest::readSchedule_data() {
    QTest::addColumn<QByteArray>("csv");
    QTest::addColumn<int>("rows");
    QTest::addColumn<QString>("error"); // "line:column:part", or empty
    QTest::addColumn<QString>("notes"); // the first row's, "name=cell;..."

    QTest::newRow("rows in powering order, notes kept")
        << QByteArray("# location,type,address,ip,#floor\nBlock 2 entrance,flat,0201000001,"
                      "10.1.2.7,0\nBlock 3,flat,0301000001,10.1.2.8,1\n")
        << 2 << ""
        << "# location=Block 2 entrance;#floor=0";
    QTest::newRow("no notes") << QByteArray("ip\n10.1.2.7\n") << 1 << ""
                              << "";
    QTest::newRow("a mac column is refused")
        << QByteArray("type,MAC\nflat,00:50:2A:10:00:A5\n") << 1 << "1:2:has no column 'mac'"
        << "";
    QTest::newRow("plan's other rules hold")
        << QByteArray("ip,colour\n10.1.2.7,red\n") << 1 << "1:2:unknown column 'colour'"
        << "";
}

void CommissionTest::readSchedule() {
    QFETCH(QByteArray, csv);
    QFETCH(QString, error);
    const Plan plan =
        ReadPlan(std::string_view(csv.constData(), size_t(csv.size())), PlanKind::Schedule);
    QTEST(int(plan.Rows.size()), "rows");
    QCOMPARE(plan.Errors.size(), size_t(error.isEmpty() ? 0 : 1));
    if (!error.isEmpty()) {
        const PlanError& e = plan.Errors.front();
        QCOMPARE(QString("%1:%2:").arg(e.Line).arg(e.Column), error.section(':', 0, 1) + ":");
        QVERIFY2(QString::fromStdString(e.Text).contains(error.section(':', 2)), e.Text.c_str());
        return;
    }
    QStringList notes;
    for (const auto& [name, cell] : plan.Rows.front().Notes)
        notes << QString::fromStdString(name + "=" + cell);
    QTEST(notes.join(';'), "notes");
    // A plan keyed by MAC still needs its key.
    QVERIFY(!ReadPlan(std::string_view(csv.constData(), size_t(csv.size()))).Errors.empty());
}

void CommissionTest::parseSubnet_data() {
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("read"); // empty: refused
    QTest::newRow("factory") << "192.168.1.0/24"
                             << "192.168.1.0/24";
    QTest::newRow("host bits dropped") << "10.1.2.77/16"
                                       << "10.1.0.0/16";
    QTest::newRow("no length") << "192.168.1.0"
                               << "";
    QTest::newRow("length 33") << "10.0.0.0/33"
                               << "";
    QTest::newRow("octet 256") << "10.0.256.0/24"
                               << "";
    QTest::newRow("trailing text") << "10.0.0.0/8x"
                                   << "";
}

void CommissionTest::parseSubnet() {
    QFETCH(QString, text);
    QFETCH(QString, read);
    const auto subnet = ParseSubnet(text.toStdString());
    QCOMPARE(subnet.has_value(), !read.isEmpty());
    if (subnet) QCOMPARE(QString::fromStdString(subnet->Text()), read);
}

void CommissionTest::checkPlan_data() {
    QTest::addColumn<QStringList>("rows");    // plan rows, see PlanCsv
    QTest::addColumn<QStringList>("found");   // "A5 20 [how...]", see Panel
    QTest::addColumn<QStringList>("results"); // "last MAC byte: result: details"
    QTest::addColumn<QStringList>("faults");  // parts of each fault's text
    QTest::addColumn<bool>("passed");         // and with --ignore-extra

    QTest::newRow("as planned") << QStringList{"A5", "A6"} << QStringList{"A5 20", "A6 21"}
                                << QStringList{"A5: as planned: ", "A6: as planned: "}
                                << QStringList{} << true;
    QTest::newRow("differs: on the site, then in the plan")
        << QStringList{"A5 unlock=3 ip=10.1.2.30", "A6"} << QStringList{"A5 20", "A6 21"}
        << QStringList{"A5: differs: ip: 10.1.2.20 \u2192 10.1.2.30; unlock: 5 \u2192 3",
                       "A6: as planned: "}
        << QStringList{} << false;
    QTest::newRow("read-only version compared, identity column ignored")
        << QStringList{"A5 version=V1 identity="} << QStringList{"A5 20 version"}
        << QStringList{"A5: differs: version: V2 \u2192 V1"} << QStringList{} << false;
    // The plan's type is compared as it reads back: a flat camera's address ending in six zeros
    // is a villa camera's, whatever wrote it.
    const QString villa = "reads back as villa 0102: on the wire a flat camera whose address ends "
                          "in six zeros is a villa camera; write villa 0102 if that is meant, or "
                          "give the flat camera an address that does not end in 000000";
    QTest::newRow("planned flat, ending in six zeros, on a villa camera")
        << QStringList{"A5 type=flat address=0102000000"} << QStringList{"A5 20 villa"}
        << QStringList{"A5: differs: type: villa \u2192 flat (" + villa + ")"} << QStringList{}
        << false;
    QTest::newRow("planned flat, ending in six zeros, on a flat camera")
        << QStringList{"A5 address=0102000000"} << QStringList{"A5 20"}
        << QStringList{"A5: differs: type: flat \u2192 flat (" + villa +
                       "); address: 0102030420 \u2192 0102000000"}
        << QStringList{} << false;
    QTest::newRow("planned villa on it: as planned")
        << QStringList{"A5 type=villa address=0102"} << QStringList{"A5 20 villa"}
        << QStringList{"A5: as planned: "} << QStringList{} << true;
    QTest::newRow("missing and extra")
        << QStringList{"A5", "A7"} << QStringList{"A5 20", "A6 21"}
        << QStringList{"A5: as planned: ", "A7: missing: ", "A6: extra: 10.1.2.21"} << QStringList{}
        << false;
    QTest::newRow("twin MACs differ, not an error")
        << QStringList{"A5"} << QStringList{"A5 20", "A5 21"}
        << QStringList{"A5: differs: mac: 2 panels answer with it (10.1.2.20 and 10.1.2.21) \u2192 "
                       "one panel"}
        << QStringList{} << false;
    QTest::newRow("one IP twice, one call address twice")
        << QStringList{"A5", "A6", "A7", "A8"}
        << QStringList{"A5 20", "A6 20 other-address", "A7 30 same-address", "A8 40 same-address"}
        << QStringList{"A5: as planned: ", "A6: as planned: ", "A7: as planned: ",
                       "A8: as planned: "}
        << QStringList{"2 panels have the IP address 10.1.2.20: 00:50:2A:10:00:A5 and "
                       "00:50:2A:10:00:A6",
                       "2 panels have the call address H01020304001: 00:50:2A:10:00:A7 and "
                       "00:50:2A:10:00:A8"}
        << false;
    QTest::newRow("gateway outside, and so the server too")
        << QStringList{"A5"} << QStringList{"A5 20 gateway-elsewhere server-far"}
        << QStringList{"A5: as planned: "}
        << QStringList{"00:50:2A:10:00:A5: gateway 10.1.9.1 is outside the subnet",
                       "00:50:2A:10:00:A5: cannot reach its server 172.1.2.2"}
        << false;
    QTest::newRow("server on the subnet needs no gateway")
        << QStringList{"A5"} << QStringList{"A5 20 no-gateway"} << QStringList{"A5: as planned: "}
        << QStringList{"gateway 0.0.0.0 is outside"} << false;
    QTest::newRow("server far without a gateway")
        << QStringList{} << QStringList{"A5 20 no-gateway server-far"} << QStringList{}
        << QStringList{"gateway 0.0.0.0 is outside", "cannot reach its server 172.1.2.2"} << false;
    QTest::newRow("left on the factory subnet, unless planned there")
        << QStringList{"A5", "A6 ip=10.1.2.21"} << QStringList{"A5 20 factory", "A6 21 factory"}
        << QStringList{"A5: as planned: ", "A6: differs: ip: 192.168.1.21 \u2192 10.1.2.21"}
        << QStringList{"1 panel(s) left on the factory subnet 192.168.1.0/24: 00:50:2A:10:00:A6"}
        << false;
    QTest::newRow("no plan: faults only, nobody extra")
        << QStringList{} << QStringList{"A5 20 factory"} << QStringList{}
        << QStringList{"left on the factory subnet"} << false;
}

void CommissionTest::checkPlan() {
    QFETCH(QStringList, rows);
    QFETCH(QStringList, found);
    QFETCH(QStringList, results);
    QFETCH(QStringList, faults);
    const auto panels = Panels(found);
    const Plan plan = ReadPlan(PlanCsv(rows, panels));
    QVERIFY(rows.isEmpty() || plan.Errors.empty());
    const PlanCheck check = CheckPlan(rows.isEmpty() ? std::vector<PlanRow>{} : plan.Rows, panels,
                                      *ParseSubnet(FactorySubnet));
    QVERIFY(check.Errors.empty());
    QStringList got;
    for (const CheckRow& r : check.Rows)
        got << QString::fromStdString(r.Mac.substr(15) + ": " + r.Result + ": " + r.Details);
    QCOMPARE(got, results);
    const QStringList texts = Texts(check.Faults);
    QCOMPARE(texts.size(), faults.size());
    for (qsizetype at = 0; at < texts.size(); ++at)
        QVERIFY2(texts[at].contains(faults[at]), qPrintable(texts[at]));
    QTEST(check.Passed(false), "passed");
    const bool onlyExtra = std::all_of(check.Rows.begin(), check.Rows.end(), [](const auto& r) {
        return r.Result == "as planned" || r.Result == "extra";
    });
    QCOMPARE(check.Passed(true), onlyExtra && faults.isEmpty());
}

// Self-contained, every panel and fault in it, the user's texts escaped, clashes in red.
void CommissionTest::reportHtml() {
    const auto panels = Panels({"A5 20", "A6 20", "A7 31 factory"});
    ReportInput input;
    input.Generated = "2026-12-08 10:00";
    input.Version = "1.4.0";
    input.ComputerAddresses = {"10.1.2.250"};
    input.PlanName = "site.csv";
    input.NoteColumns = {"# location"};
    for (const PanelRecord& p : panels)
        input.Panels.push_back(
            {true, p, "10.1.2.250", {{"# location", "<b>Block</b> & co"}}, "as planned", ""});
    ReportPanel missing;
    missing.Found = false;
    missing.Record = Panel("B1 99");
    missing.Result = "missing";
    input.Panels.push_back(missing);
    input.Faults = CheckPlan({}, panels, *ParseSubnet(FactorySubnet)).Faults;
    input.Site = "Riverside";
    input.By = "Ann";
    input.Host = "laptop-7";
    input.Runs = {{"2026-12-07 09:10:02", "set or apply: wrote 2 panels",
                   "undo-2026-12-07-091002.csv", 2, 1}};
    input.Panels[1].Result = "differs";
    input.Panels[1].Details = "unlock: 5 \u2192 7";
    const QString html = QString::fromStdString(ReportHtml(input));

    // Who, where and when, then the problems (location first) before the counts and the list,
    // the work done, and the full list with the location first.
    for (const char* text :
         {"<th>Site</th><td>Riverside</td>", "<th>Made by</th><td>Ann</td>",
          "<th>Computer</th><td>laptop-7 (10.1.2.250)</td>",
          "field: on the site \u2192 in the plan", "<td>undo-2026-12-07-091002.csv</td>"})
        QVERIFY2(
            html.contains(QString::fromUtf8(text).replace("<td>undo", "<td class=\"mono\">undo")),
            text);
    const auto at = [&](const char* text) { return html.indexOf(QString::fromUtf8(text)); };
    QVERIFY(at("<h2>Problems</h2>") > 0);
    QVERIFY(at("<h2>Problems</h2>") < at("<h2>Summary</h2>"));
    QVERIFY(at("<h2>Summary</h2>") < at("<h2>Work done</h2>"));
    QVERIFY(at("<h2>Work done</h2>") < at("<h2>Panels</h2>"));
    const QString problems =
        html.mid(at("<h2>Problems</h2>"), at("<h2>Summary</h2>") - at("<h2>Problems</h2>"));
    for (const char* text :
         {"<td>&lt;b&gt;Block&lt;/b&gt; &amp; co</td><td class=\"bad\">differs</td>",
          "00:50:2A:10:00:B1", "did not answer", "site fault"})
        QVERIFY2(problems.contains(QString::fromUtf8(text)), text);
    QVERIFY2(!problems.contains("00:50:2A:10:00:A5</td>"), "a panel as planned among the problems");
    QVERIFY(html.contains("<table class=\"panels\">\n<thead><tr><th>location</th><th>type</th>"));
    // Each /24 heading inside the box of its grid, which printing never splits.
    QCOMPARE(html.count("<div class=\"grid\"><h3>"), 2);
    QVERIFY(html.contains(".grid { display: inline-block;"));

    for (const char* text : {"00:50:2A:10:00:A5", "00:50:2A:10:00:A6", "00:50:2A:10:00:A7",
                             "00:50:2A:10:00:B1", "10.1.2.20", "192.168.1.31", "10.1.2.250",
                             "2026-12-08 10:00", "1.4.0", "site.csv", "missing", "location"})
        QVERIFY2(html.contains(text), text);
    for (const QString& fault : Texts(input.Faults))
        QVERIFY2(html.contains(fault.toHtmlEscaped()), qPrintable(fault));
    QVERIFY(html.contains("&lt;b&gt;Block&lt;/b&gt; &amp; co"));
    QVERIFY(!html.contains("<b>Block"));
    // Nothing is fetched: no link, script, image, import or url().
    for (const char* external : {"src=", "href=", "@import", "url(", "<script", "<link"})
        QVERIFY2(!html.contains(external, Qt::CaseInsensitive), external);
    // One address square in red (two panels on 10.1.2.20), one /24 picture per block in use.
    QCOMPARE(html.count("fill=\"#d00000\""), 1);
    QCOMPARE(html.count("<svg "), 2);
    // Print: the table header repeats, rows are not split.
    QVERIFY(html.contains("thead { display: table-header-group; }"));
    QVERIFY(html.contains("break-inside: avoid"));
}

// The runs' records as the report tells them: an assign's as-built plan and each undo plan of the
// site, with how many of their panels hold their writes now.
void CommissionTest::workDone_data() {
    QTest::addColumn<QStringList>("records"); // "kind name|text", \n as "/"
    QTest::addColumn<QStringList>("found");   // see Panel
    QTest::addColumn<QStringList>("runs");    // "when|what|panels|verified|record"

    const QString undoHeader = "mac,type,address,facility,ip,mask,gateway,server,unlock/";
    QTest::newRow("undo plan: written and held, put back, gone")
        << QStringList{"undo undo-2026-12-07-091002.csv|" + undoHeader +
                       "00:50:2A:10:00:A5,flat,0102030420,1,10.1.2.99,,,,/"
                       "00:50:2A:10:00:A6,flat,0102030421,1,10.1.2.21,,,,/"
                       "00:50:2A:10:00:A7,flat,0102030421,1,10.1.2.21,,,,/"}
        << QStringList{"A5 20", "A6 21"}
        << QStringList{"2026-12-07 09:10:02|set or apply: wrote 3 panels|3|1|"
                       "undo-2026-12-07-091002.csv"};
    QTest::newRow("another site's undo plan is left out")
        << QStringList{"undo undo-2026-12-06-080000.csv|" + undoHeader +
                       "00:50:2A:99:00:01,flat,0102030420,1,10.9.9.9,,,,/"}
        << QStringList{"A5 20"} << QStringList{};
    QTest::newRow("as-built plan: rows taken, as planned now, in time order")
        << QStringList{"as-built three-as-built.csv|mac,# location,ip,unlock/"
                       "00:50:2A:10:00:A5,A,10.1.2.20,5/00:50:2A:10:00:A6,B,10.1.2.40,5/"
                       ",C,10.1.2.9,5/",
                       "undo undo-2026-12-07-091002.csv|" + undoHeader +
                           "00:50:2A:10:00:A5,flat,0102030420,1,10.1.2.99,,,,/"}
        << QStringList{"A5 20", "A6 21"}
        << QStringList{"2026-12-07 09:10:02|assign: 2 rows of 3 in three.csv given to new "
                       "panels|2|1|three-as-built.csv, undo plan undo-2026-12-07-091002.csv"};
    QTest::newRow("a set of another panel is a run of its own, in time order")
        << QStringList{"as-built three-as-built.csv|mac,# location,ip,unlock/"
                       "00:50:2A:10:00:A5,A,10.1.2.20,5/,C,10.1.2.9,5/",
                       "undo undo-2026-12-07-091002.csv|" + undoHeader +
                           "00:50:2A:10:00:A6,flat,0102030421,1,10.1.2.99,,,,/"}
        << QStringList{"A5 20", "A6 21"}
        << QStringList{"2026-12-07 09:10:02|set or apply: wrote 1 panel|1|1|"
                       "undo-2026-12-07-091002.csv",
                       "2026-12-07 10:00|assign: 1 row of 2 in three.csv given to new "
                       "panels|1|1|three-as-built.csv"};
    QTest::newRow("not a plan") << QStringList{"undo undo-2026-12-07-091002.csv|colour/red/"}
                                << QStringList{"A5 20"} << QStringList{};
}

void CommissionTest::workDone() {
    QFETCH(QStringList, records);
    QFETCH(QStringList, found);
    std::vector<RunRecord> given;
    for (const QString& r : records) {
        const QString name = r.section('|', 0, 0).section(' ', 1);
        const bool asBuilt = r.startsWith("as-built");
        given.push_back({asBuilt ? RunRecord::AsBuilt : RunRecord::Undo, name.toStdString(),
                         asBuilt ? "2026-12-07 10:00" : UndoPlanTime(name.toStdString()),
                         r.section('|', 1).replace('/', '\n').toStdString()});
    }
    QStringList got;
    for (const ReportRun& run : WorkDone(given, Panels(found), {}))
        got << QString::fromStdString(run.When + "|" + run.What + "|" + std::to_string(run.Panels) +
                                      "|" + std::to_string(run.Verified) + "|" + run.Record);
    QTEST(got, "runs");
    // Only undo plans' own names tell the time.
    for (const char* other : {"undo-2026-12-07.csv", "undo-2026-12-07-09100x.csv", "plan.csv",
                              "undo-2026-12-07-091002-x.csv"})
        QCOMPARE(QString::fromStdString(UndoPlanTime(other)), QString());
    QCOMPARE(QString::fromStdString(UndoPlanTime("undo-2026-12-07-091002-2.csv")),
             QString("2026-12-07 09:10:02"));
}

// Where a report finds the work done: a site folder's records are the site's own, whatever the
// current folder; without a site folder, beside the plan, or in the current folder.
void CommissionTest::workDoneFolders_data() {
    QTest::addColumn<QString>("plan");
    QTest::addColumn<QString>("site");
    QTest::addColumn<QString>("undo");
    QTest::addColumn<QStringList>("folders");
    QTest::newRow("site folder, no plan: not the current folder")
        << ""
        << "/s/Block A"
        << "/u" << QStringList{"/s/Block A", "/u"};
    QTest::newRow("site folder and its plan: once") << "/s/Block A/plan.csv"
                                                    << "/s/Block A"
                                                    << "" << QStringList{"/s/Block A"};
    QTest::newRow("site folder and a plan elsewhere: both")
        << "other/plan.csv"
        << "/s/Block A"
        << "" << QStringList{"/s/Block A", "other"};
    QTest::newRow("plan alone: beside it") << "dir/plan.csv"
                                           << ""
                                           << "/u" << QStringList{"dir", "/u"};
    QTest::newRow("plan in the current folder") << "plan.csv"
                                                << ""
                                                << "" << QStringList{"."};
    QTest::newRow("neither: the current folder") << ""
                                                 << ""
                                                 << "/u" << QStringList{".", "/u"};
    QTest::newRow("plan from standard input") << "-"
                                              << ""
                                              << "" << QStringList{"."};
}

void CommissionTest::workDoneFolders() {
    QFETCH(QString, plan);
    QFETCH(QString, site);
    QFETCH(QString, undo);
    QStringList got;
    for (const std::string& folder :
         WorkDoneFolders(plan.toStdString(), site.toStdString(), undo.toStdString()))
        got << QString::fromStdString(folder);
    QTEST(got, "folders");
}

// Links planted at every name the writer touches: the target and the names it tries for its new
// file ("part0", "part1", as the test names them). "victim" is a file of someone else's that
// must keep its bytes; "old" an earlier report at the target; "folder" a folder at the target.
void CommissionTest::writeWhole_data() {
    QTest::addColumn<QStringList>("plant"); // "NAME>TARGET": a symlink; "NAME=TARGET": a hard link
    QTest::addColumn<bool>("mustBeNew");
    QTest::addColumn<QString>("error"); // empty: written
    QTest::newRow("new file") << QStringList{} << false << "";
    QTest::newRow("earlier file replaced") << QStringList{"old"} << false << "";
    QTest::newRow("symlink at the target refused")
        << QStringList{"target>victim"} << false << "is a link";
    QTest::newRow("dangling symlink at the target refused")
        << QStringList{"target>nowhere"} << false << "is a link";
    QTest::newRow("hard link at the target: a new file, the other name keeps its bytes")
        << QStringList{"target=victim"} << false << "";
    QTest::newRow("symlinks at the first new names: passed over")
        << QStringList{"part0>victim", "part1>nowhere"} << false << "";
    QTest::newRow("folder at the target") << QStringList{"folder"} << false << "target";
    QTest::newRow("must be new: written") << QStringList{"part0>victim"} << true << "";
    QTest::newRow("must be new: a file there is kept") << QStringList{"old"} << true << "exists";
    QTest::newRow("must be new: a symlink there is kept")
        << QStringList{"target>victim"} << true << "exists";
    QTest::newRow("must be new: a dangling symlink there is kept")
        << QStringList{"target>nowhere"} << true << "exists";
}

void CommissionTest::writeWhole() {
    QFETCH(QStringList, plant);
    QFETCH(bool, mustBeNew);
    QFETCH(QString, error);
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const auto at = [&](const QString& name) { return dir.filePath(name); };
    const auto put = [&](const QString& name, const QByteArray& bytes) {
        QFile file(at(name));
        QVERIFY(file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size());
    };
    const auto bytes = [&](const QString& name) {
        QFile file(at(name));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("(none)");
    };
    put("victim", "victim");
    for (const QString& p : plant) {
        if (p == "old") put("target", "old");
        if (p == "folder") QVERIFY(QDir(dir.path()).mkdir("target"));
        if (p.contains('>'))
            std::filesystem::create_symlink(at(p.section('>', 1)).toStdString(),
                                            at(p.section('>', 0, 0)).toStdString());
        if (p.contains('='))
            std::filesystem::create_hard_link(at(p.section('=', 1)).toStdString(),
                                              at(p.section('=', 0, 0)).toStdString());
    }
    const QStringList before =
        QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    std::string why;
    WholeFileWay way{true, mustBeNew, [&](const std::string&, int attempt) {
                         return at("part" + QString::number(attempt)).toStdString();
                     }};
    const WholeFileWritten written = WriteWholeFile(at("target").toStdString(), "new", why, way);
    QVERIFY2(QString::fromStdString(why).contains(error), why.c_str());
    QCOMPARE(written == WholeFileWritten::Done, error.isEmpty());
    QCOMPARE(written == WholeFileWritten::NameTaken, mustBeNew && !error.isEmpty());
    // Whatever happened, nothing was written through a link, and no new file is left over.
    QCOMPARE(bytes("victim"), QByteArray("victim"));
    QStringList after =
        QDir(dir.path())
            .entryList(QDir::AllEntries | QDir::NoDotAndDotDot | QDir::Hidden | QDir::System);
    if (!before.contains("target") && error.isEmpty()) after.removeOne("target");
    QCOMPARE(after, before);
    const QFileInfo target(at("target"));
    if (!error.isEmpty()) {
        // As it was: the earlier file, or the link still pointing where it did.
        if (plant.contains("old")) QCOMPARE(bytes("target"), QByteArray("old"));
        for (const QString& p : plant)
            if (p.startsWith("target>")) QCOMPARE(target.symLinkTarget(), at(p.section('>', 1)));
        return;
    }
    QVERIFY(!target.isSymLink());
    QCOMPARE(bytes("target"), QByteArray("new"));
    // Private from the moment it existed.
    QCOMPARE(target.permissions() &
                 (QFile::ReadGroup | QFile::ReadOther | QFile::WriteGroup | QFile::WriteOther),
             QFileDevice::Permissions());
    for (const QString& p : plant)
        if (p.startsWith("part")) QVERIFY(QFileInfo(at(p.section('>', 0, 0))).isSymLink());
}

// Rounds and steps are written as runs, "12*text" for twelve rounds alike. In a round, "L" is
// ten site panels of which four, turning by the round, are not heard: 40 % of replies lost.
void CommissionTest::newPanelWatch_data() {
    QTest::addColumn<QString>("assigned");   // last MAC bytes of panels assigned before
    QTest::addColumn<QString>("pinned");     // and of panels that --row gives a row
    QTest::addColumn<QStringList>("rounds"); // per round the panels heard: "A5" on the factory
                                             // subnet, "s01" elsewhere on the site
    QTest::addColumn<QStringList>("steps");  // per round: "-", "new A5", "group A5 A6", "take A5"

    const QString site = "s01 s02 s03 s04 ";
    // 160 answers measured: a panel there is missed 3 rounds running at most once in 10^6.
    QTest::newRow("clean: a lone panel waits until a twin would have been heard")
        << ""
        << "" << QStringList{"40*" + site, "3*" + site + "A5", "3*" + site + "A5 A6"}
        << QStringList{"40*-", "2*new A5", "take A5", "2*new A6", "take A6"};
    // Nothing measured yet: its own answers are all there is, and few say little.
    QTest::newRow("clean, nothing else on the site: 11 rounds")
        << ""
        << "" << QStringList{"12*A5"} << QStringList{"10*new A5", "take A5", "-"};
    // A5 switched off counts as there for the rounds a panel there may miss (its silence
    // counts as loss meanwhile).
    QTest::newRow("two at once: a group, until one is switched off")
        << ""
        << "" << QStringList{"40*" + site, "4*" + site + "A5 A6", "5*" + site + "A6"}
        << QStringList{"40*-", "7*group A5 A6", "take A6", "-"};
    // A7 first answers 5 rounds after the group: surely later, it waits and never joins, and
    // comes next once the group is resolved.
    QTest::newRow("two at once, nothing else on the site")
        << ""
        << "" << QStringList{"40*A5 A6", "8*A5"} << QStringList{"44*group A5 A6", "take A5", "3*-"};
    QTest::newRow("a later panel waits behind a group, never joining it")
        << ""
        << ""
        << QStringList{"40*" + site, "5*" + site + "A5 A6", "3*" + site + "A5 A6 A7",
                       "5*" + site + "A5 A7"}
        << QStringList{"40*-", "11*group A5 A6", "take A5", "take A7"};
    QTest::newRow("assigned, back on the factory subnet, is not new")
        << "A5"
        << "" << QStringList{"40*" + site + "A5", "3*" + site + "A5 A6"}
        << QStringList{"40*-", "2*new A6", "take A6"};
    // A panel that --row names is not ordered: the other is alone.
    QTest::newRow("pinned panels are not ordered")
        << ""
        << "A6" << QStringList{"40*" + site, "3*" + site + "A5 A6"}
        << QStringList{"40*-", "2*new A5 A6", "take A5"};
    // 40 % lost: a panel there misses 15 rounds running at most once in 10^6 (its own answers
    // count too).
    QTest::newRow("loss: a lone panel waits 15 rounds")
        << ""
        << "" << QStringList{"60*L", "16*L A5", "L"}
        << QStringList{"60*-", "14*new A5", "take A5", "2*-"};
    QTest::newRow("loss: a panel 10 rounds after another is not surely later")
        << ""
        << "" << QStringList{"60*L", "10*L A5", "20*L A5 A6"}
        << QStringList{"60*-", "10*new A5", "20*group A5 A6"};
    // Missed rounds after its first answer do not make a panel later than one powered after it.
    QTest::newRow("loss: the first one missed, the next one not first")
        << ""
        << "" << QStringList{"60*L", "L A5", "9*L", "6*L A5 A6", "L A5"}
        << QStringList{"60*-", "10*new A5", "7*group A5 A6"};
    QTest::newRow("loss: 17 rounds apart, in order")
        << ""
        << "" << QStringList{"60*L", "16*L A5", "16*L A6", "L"}
        << QStringList{"60*-", "14*new A5", "take A5", "-", "14*new A6", "take A6", "2*-"};
}

namespace {

QStringList Runs(const QStringList& items) {
    QStringList out;
    for (const QString& item : items) {
        const qsizetype star = item.indexOf('*');
        const int count = star > 0 ? item.left(star).toInt() : 1;
        for (int n = 0; n < count; ++n)
            out << (star > 0 ? item.mid(star + 1) : item);
    }
    return out;
}

QStringList AsRuns(const QStringList& items) {
    QStringList out;
    for (qsizetype at = 0; at < items.size();) {
        qsizetype end = at;
        while (end < items.size() && items[end] == items[at])
            ++end;
        out << (end - at > 1 ? QString::number(end - at) + "*" + items[at] : items[at]);
        at = end;
    }
    return out;
}

} // namespace

void CommissionTest::newPanelWatch() {
    QFETCH(QString, assigned);
    QFETCH(QString, pinned);
    QFETCH(QStringList, rounds);
    QFETCH(QStringList, steps);
    const auto panel = [](const QString& name) {
        return name.startsWith('s') ? Panel("0" + name.mid(1) + " " + name.mid(1))
                                    : Panel(name + " 100 factory");
    };
    const auto keys = [&](const QString& names) {
        std::set<MacAddress> out;
        for (const QString& name : names.split(' ', Qt::SkipEmptyParts))
            out.insert(MacOf(panel(name)));
        return out;
    };
    NewPanelWatch watch(*ParseSubnet(FactorySubnet), keys(assigned), keys(pinned));
    QStringList got;
    int number = 0;
    for (const QString& round : Runs(rounds)) {
        std::vector<PanelRecord> heard;
        for (const QString& name : round.split(' ', Qt::SkipEmptyParts)) {
            if (name != "L") {
                heard.push_back(panel(name));
                continue;
            }
            for (int n = 0; n < 10; ++n)
                if ((n + number) % 10 >= 4) heard.push_back(panel(QString("s%1").arg(n + 10)));
        }
        ++number;
        const auto step = watch.Round(heard);
        const auto names = [](const std::vector<PanelRecord>& panels) {
            QString text;
            for (const PanelRecord& r : panels)
                text += " " + QString::fromStdString(MacText(r.Mac)).right(2);
            return text;
        };
        QString text = "-";
        if (step.Take) {
            text = "take " + QString::fromStdString(MacText(step.Take->Mac)).right(2);
            watch.Took(step.Take->Mac);
        } else if (!step.Group.empty()) {
            text = "group" + names(step.Group);
        } else if (!step.New.empty()) {
            text = "new" + names(step.New);
        }
        got << text;
    }
    QCOMPARE(AsRuns(got), steps);
}

// Two panels powered `gap` rounds apart on a site that loses `lost` of 25 replies in every
// round (the same share, turning by the round). Each panel's first answer comes k rounds after
// it is powered with probability lost^k (1 - lost), and it answers every round after (a panel
// there missing the 14 or more rounds running that would make it look switched off is itself
// below the doubt). Every pair of first answers up to 40 rounds is run through the watch until
// it takes a panel or makes a group, and the probabilities are summed: the later panel must be
// taken first at most once in 10^6, whatever the gap; panels a second apart are ordered.
// The loss and lateness an assign says as they are measured: a line when they change notably,
// not one for every round's wobble. Each step "known percent ms", said "1" or "0" for each.
void CommissionTest::hearingNotices_data() {
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("said");
    QTest::newRow("nothing measured is never said, the first measured is")
        << QStringList{"0 0 0", "0 0 0", "1 10 0"} << "001";
    QTest::newRow("a wobble under 5 points is not said, 5 points either way are")
        << QStringList{"1 10 0", "1 14 0", "1 6 0", "1 15 0", "1 11 0", "1 10 0"} << "100101";
    QTest::newRow("creeping loss is said once it is 5 points from the last said")
        << QStringList{"1 10 0", "1 12 0", "1 14 0", "1 15 0"} << "1001";
    // A round is 50 ms and a reply late by L shifts an answer by 2L: 1 to 25 ms is one round.
    QTest::newRow("lateness is said when it shifts answers by another round")
        << QStringList{"1 10 0", "1 10 1", "1 10 25", "1 10 26", "1 10 20"} << "11010";
}

void CommissionTest::hearingNotices() {
    QFETCH(QStringList, steps);
    Cli::HearingNotices notices;
    QString said;
    for (const QString& step : steps) {
        const QStringList p = step.split(' ');
        said +=
            notices.Notable(p[0] == "1", p[1].toInt() / 100.0, Millis(p[2].toInt())) ? "1" : "0";
    }
    QTEST(said, "said");
    QCOMPARE(Cli::HearingText(true, 0.126, Millis(60)),
             std::string("about 13 % of replies lost, up to 60 ms late"));
    QCOMPARE(Cli::HearingText(false, 0, Millis(0)),
             std::string("no reply yet to measure the loss by"));
}

void CommissionTest::powerOrderMisses_data() {
    QTest::addColumn<int>("lost");
    QTest::addColumn<int>("gap");
    QTest::addColumn<double>("inOrderAtLeast");
    // 20 % each way: 36 % of replies lost.
    QTest::newRow("20 % each way, at once") << 9 << 0 << 0.0;
    QTest::newRow("20 % each way, 0.5 s apart") << 9 << 10 << 0.0;
    QTest::newRow("20 % each way, 1 s apart") << 9 << 20 << 0.99;
    QTest::newRow("20 % each way, 2 s apart") << 9 << 40 << 0.999999;
    QTest::newRow("clean, 0.1 s apart") << 0 << 2 << 0.0;
    QTest::newRow("clean, 0.25 s apart") << 0 << 5 << 1.0;
}

void CommissionTest::powerOrderMisses() {
    QFETCH(int, lost);
    QFETCH(int, gap);
    QFETCH(double, inOrderAtLeast);
    const double miss = lost / 25.0;
    const auto first = [&](int k) { return std::pow(miss, k) * (1 - miss); };
    constexpr int Most = 40, Warm = 60;
    const int mostA = lost == 0 ? 0 : Most, mostB = mostA;
    double inOrder = 0, wrong = 0, grouped = 0;
    const PanelRecord a = Panel("A5 100 factory"), b = Panel("A6 100 factory");
    std::vector<PanelRecord> site;
    for (int n = 0; n < 25; ++n)
        site.push_back(Panel(QString("%1 %1").arg(n + 10)));
    const auto siteRound = [&](int round) {
        std::vector<PanelRecord> heard;
        for (int n = 0; n < 25; ++n)
            if ((n + round) % 25 >= lost) heard.push_back(site[std::size_t(n)]);
        return heard;
    };
    NewPanelWatch warm(*ParseSubnet(FactorySubnet), {});
    for (int round = 0; round < Warm; ++round)
        QVERIFY(!warm.Round(siteRound(round)).Take);
    for (int ka = 0; ka <= mostA; ++ka)
        for (int kb = 0; kb <= mostB; ++kb) {
            NewPanelWatch watch = warm;
            const double p = first(ka) * first(kb);
            for (int round = Warm;; ++round) {
                std::vector<PanelRecord> heard = siteRound(round);
                if (round >= Warm + ka) heard.push_back(a);
                if (round >= Warm + gap + kb) heard.push_back(b);
                const auto step = watch.Round(heard);
                if (step.Take) {
                    (step.Take->Mac[5] == a.Mac[5] ? inOrder : wrong) += p;
                    break;
                }
                if (!step.Group.empty()) {
                    grouped += p;
                    break;
                }
                QVERIFY(round < Warm + gap + 2 * Most + 100);
            }
        }
    // What the table leaves out: a first answer later than Most rounds.
    const double left = 1 - (1 - std::pow(miss, mostA + 1)) * (1 - std::pow(miss, mostB + 1));
    qInfo("in order %.9f, grouped %.9f, wrong %.3g (+ %.3g not run)", inOrder, grouped, wrong,
          left);
    QVERIFY(wrong + left <= 1e-6);
    QVERIFY(inOrder >= inOrderAtLeast);
}

void CommissionTest::checkSchedule_data() {
    QTest::addColumn<QByteArray>("schedule");
    QTest::addColumn<QStringList>("site"); // panels that are not new, see Panel
    QTest::addColumn<QStringList>("errors");

    const QByteArray header = "# location,type,address,facility,ip,mask,gateway,server,unlock\n";
    const QByteArray a = "A,flat,0101000001,0,10.1.2.31,255.255.255.0,10.1.2.1,10.1.2.2,7\n";
    const QByteArray b = "B,flat,0201000001,0,10.1.2.32,255.255.255.0,10.1.2.1,10.1.2.2,7\n";
    QTest::newRow("sound") << header + a + b << QStringList{"A5 20"} << QStringList{};
    QTest::newRow("one IP twice")
        << header + a + QByteArray(b).replace("10.1.2.32", "10.1.2.31") << QStringList{}
        << QStringList{"the row on line 2 and the row on line 3: both have the IP address "
                       "10.1.2.31"};
    QTest::newRow("one call address twice")
        << header + a + QByteArray(b).replace("0201000001", "0101000001") << QStringList{}
        << QStringList{"the row on line 2 and the row on line 3: both have the identity "
                       "H01010000010"};
    QTest::newRow("an IP the site has")
        << header + a << QStringList{"A5 31"}
        << QStringList{"the row on line 2 and 00:50:2A:10:00:A5: both have the IP address"};
    QTest::newRow("a row apply refuses") << header + QByteArray(a).replace("10.1.2.1,", "10.1.9.1,")
                                         << QStringList{} << QStringList{"gateway"};
    QTest::newRow("the factory's IP and call address kept by two rows")
        << header + QByteArray(a).replace("0101000001", "").replace("10.1.2.31", "") + b
        << QStringList{} << QStringList{"ip: empty", "address: empty"};
    QTest::newRow("one row may keep them")
        << header + QByteArray(a).replace("0101000001", "").replace("10.1.2.31", "")
        << QStringList{} << QStringList{};
    QTest::newRow("a flat camera's address that reads back as a villa camera's")
        << header + QByteArray(a).replace("0101000001", "0101000000") << QStringList{}
        << QStringList{"address: flat 0101000000 reads back as villa 0101"};
    QTest::newRow("unlock out of range") << header + QByteArray(a).replace(",7\n", ",12\n")
                                         << QStringList{} << QStringList{"unlock"};
}

void CommissionTest::checkSchedule() {
    QFETCH(QByteArray, schedule);
    QFETCH(QStringList, site);
    QFETCH(QStringList, errors);
    const Plan plan = ReadPlan(std::string_view(schedule.constData(), size_t(schedule.size())),
                               PlanKind::Schedule);
    QVERIFY(plan.Errors.empty());
    QStringList got;
    for (const PlanError& e : CheckSchedule(plan.Rows, Panels(site)))
        got << QString::fromStdString(e.Text);
    QCOMPARE(got.size(), errors.size());
    for (qsizetype at = 0; at < got.size(); ++at)
        QVERIFY2(got[at].contains(errors[at]) && !got[at].contains("FE:FF"), qPrintable(got[at]));
}

// The as-built plan is the schedule with a mac column, reads as a plan, and a run started
// again takes its MACs back; another schedule's is refused.
void CommissionTest::asBuilt() {
    const std::string text = "# location,ip,unlock\n\"Block 2, east\",10.1.2.7,7\nB,10.1.2.8,\n";
    const Plan schedule = ReadPlan(text, PlanKind::Schedule);
    QVERIFY(schedule.Errors.empty());
    const std::string built = AsBuiltText(schedule, {{"00:50:2A:10:00:A5", "verified"}, {}});
    QCOMPARE(QString::fromStdString(built),
             QString("mac,status,# location,ip,unlock\n00:50:2A:10:00:A5,verified,\"Block 2, "
                     "east\",10.1.2.7,7\n,,B,10.1.2.8,\n"));
    const Plan again = ReadPlan(built, PlanKind::AsBuilt);
    QVERIFY(again.Errors.empty());
    std::string error;
    const auto rows = ResumedRows(schedule, again, error);
    QVERIFY(rows);
    QCOMPARE(rows->size(), std::size_t(2));
    QCOMPARE((*rows)[0].Mac + "|" + (*rows)[0].Status + "|" + (*rows)[1].Mac,
             std::string("00:50:2A:10:00:A5|verified|"));
    const Plan other =
        ReadPlan("# location,ip,unlock\nA,10.1.2.9,7\nB,10.1.2.8,\n", PlanKind::Schedule);
    QVERIFY(!ResumedRows(other, again, error));
    // As a plan it reads too: check, report and apply say its empty rows are not assigned yet.
    const Plan asPlan = ReadPlan(built);
    QVERIFY(asPlan.Errors.empty());
    const PlanCheck check = CheckPlan(asPlan.Rows, {}, *ParseSubnet(FactorySubnet));
    QCOMPARE(check.Rows.size(), std::size_t(2));
    QCOMPARE(check.Rows[0].Result, std::string("missing"));
    QCOMPARE(check.Rows[1].Result, std::string(NotAssignedYet));
    QCOMPARE(check.Rows[1].Line, 3);
    QVERIFY(!check.Passed(true));
    QCOMPARE(QString::fromStdString(DefaultAsBuiltPath("site/plan.v2.csv")),
             QString("site/plan.v2-as-built.csv"));
    QCOMPARE(QString::fromStdString(DefaultAsBuiltPath("my.dir/sched")),
             QString("my.dir/sched-as-built.csv"));
}

// `assign` killed at each step of a row and started again: the first run gave row 1 to A5 and
// was to give row 2 to A6. Started again, it finishes or verifies the row on the panel the
// as-built plan names (never refusing the schedule over the panel it wrote), gives the other
// row to the other panel, and the undo plans of both runs, applied in turn, put both panels
// back byte for byte.
void CommissionTest::killedRow_data() {
    QTest::addColumn<int>("killAt");
    QTest::addColumn<QString>("firstRun"); // what the first run left: "-" nothing, "u" undo
                                           // plan, "i" intent, "w" the panel written, "r" result
    const char* steps[] = {"before the undo plan is saved", "after the undo plan is saved",
                           "before the intent is saved",    "after the intent is saved",
                           "before the write reaches it",   "after the write reached it",
                           "before the result is saved",    "after the result is saved"};
    const char* left[] = {"-", "u", "u", "ui", "ui", "uiw", "uiw", "uiwr"};
    for (int at = 0; at < 8; ++at)
        QTest::newRow(steps[at]) << at << left[at];
}

void CommissionTest::killedRow() {
    QFETCH(int, killAt);
    QFETCH(QString, firstRun);
    struct Killed {};
    const Plan schedule = ReadPlan("# location,type,address,ip,mask,gateway,server,unlock\n"
                                   "A,flat,0201000101,10.1.2.7,255.255.255.0,10.1.2.1,10.1.2.2,7\n"
                                   "B,flat,0301000101,10.1.2.8,255.255.255.0,10.1.2.1,10.1.2.2,7\n",
                                   PlanKind::Schedule);
    QVERIFY(schedule.Errors.empty());
    // Two new panels as they come from the factory: one IP and one identity.
    std::map<uint8_t, PanelRecord> panels;
    for (const char* description : {"A5 100 factory same-address", "A6 100 factory same-address"}) {
        const PanelRecord r = Panel(description);
        panels[r.Mac[5]] = r;
    }
    const std::map<uint8_t, PanelRecord> factory = panels;
    std::map<std::string, std::string> files; // what is on the disk
    int step = 0;
    std::vector<std::string> undoRows; // this run's undo plan, as apply and assign build it
    std::vector<RowChange> changed;
    const auto stepsOf = [&](const std::string& undoName, bool kill) {
        const auto at = [&, kill](int n) {
            if (kill && step++ == killAt) throw Killed{};
            (void)n;
        };
        RowSteps steps;
        steps.SaveUndo = [&, at, undoName](const RowChange& change) {
            at(0);
            changed.push_back(change);
            files[undoName] = UndoPlanText(changed);
            at(1);
            return true;
        };
        steps.SaveAsBuilt = [&, at](const std::string& text) {
            const bool intent = text.find(WritingStatus) != std::string::npos;
            at(intent ? 2 : 6);
            files["as-built"] = text;
            at(intent ? 3 : 7);
            return true;
        };
        steps.Write = [&, at](const RowChange& change) {
            at(4);
            PanelRecord& panel = panels.at(change.Current.Mac[5]);
            panel = AsReported(StagedOver(change, panel));
            at(5);
            return RowResult{"verified", "", true};
        };
        return steps;
    };
    // The rows from the as-built plan on the disk, as a run starting reads them.
    const auto resumed = [&] {
        if (!files.count("as-built")) return std::vector<AsBuiltRow>(schedule.Rows.size());
        const Plan built = ReadPlan(files["as-built"], PlanKind::AsBuilt);
        std::string error;
        const auto rows = ResumedRows(schedule, built, error);
        return rows ? *rows : std::vector<AsBuiltRow>{};
    };
    std::vector<PlanError> errors;

    // The first run: killed during row 1.
    std::vector<AsBuiltRow> rows = resumed();
    try {
        AssignRow(schedule, rows, 0, panels[0xA5], stepsOf("undo-1", true), {}, errors);
        QFAIL("not killed");
    } catch (const Killed&) {
    }
    QCOMPARE(files.count("undo-1") != 0, firstRun.contains('u'));
    QCOMPARE(files.count("as-built") != 0, firstRun.contains('i'));
    QCOMPARE(panels[0xA5].Ip[0] == 10, firstRun.contains('w'));

    // Started again: the rows taken are not new, the others on the site must not clash.
    changed.clear();
    rows = resumed();
    QCOMPARE(rows.size(), schedule.Rows.size());
    std::vector<PanelRecord> others, fresh;
    for (const auto& [mac, panel] : panels) {
        const bool taken = std::any_of(rows.begin(), rows.end(), [&](const AsBuiltRow& row) {
            return row.Mac == MacText(panel.Mac);
        });
        if (!taken) (panel.Ip[0] == 192 ? fresh : others).push_back(panel);
    }
    const auto refused = CheckSchedule(schedule.Rows, others);
    QVERIFY2(refused.empty(), refused.empty() ? "" : refused[0].Text.c_str());
    for (std::size_t at = 0; at < rows.size(); ++at)
        if (rows[at].Unfinished()) {
            const PanelRecord& panel = panels.at(ParseMac(rows[at].Mac)->back());
            const RowOutcome outcome =
                AssignRow(schedule, rows, at, panel, stepsOf("undo-2", false), {}, errors);
            QVERIFY2(errors.empty(), errors.empty() ? "" : errors[0].Text.c_str());
            QCOMPARE(int(outcome.Is), int(RowOutcome::Done));
        }
    QVERIFY2(errors.empty(), errors.empty() ? "" : errors[0].Text.c_str());
    for (const PanelRecord& panel : fresh) {
        std::size_t next = 0;
        while (next < rows.size() && !rows[next].Mac.empty())
            ++next;
        QVERIFY(next < rows.size());
        QCOMPARE(AssignRow(schedule, rows, next, panel, stepsOf("undo-2", false), {}, errors).Is,
                 RowOutcome::Done);
    }
    QVERIFY2(errors.empty(), errors.empty() ? "" : errors[0].Text.c_str());
    // Row 1 on A5, row 2 on A6, each holding its row, the as-built plan saying so.
    const auto built = resumed();
    QCOMPARE(built.size(), std::size_t(2));
    QCOMPARE(built[0].Mac, MacText(panels[0xA5].Mac));
    QCOMPARE(built[1].Mac, MacText(panels[0xA6].Mac));
    for (const AsBuiltRow& row : built)
        QCOMPARE(row.Status, std::string("verified"));
    QCOMPARE(Ipv4Text(panels[0xA5].Ip), std::string("10.1.2.7"));
    QCOMPARE(Ipv4Text(panels[0xA6].Ip), std::string("10.1.2.8"));

    // The undo plans of both runs put the panels back as they came, taken together (the
    // factory gives new panels one IP: two plans apart would each meet the other's panel), the
    // earlier run's row first where both have one.
    std::string undo;
    std::set<std::string> macs;
    for (const char* name : {"undo-1", "undo-2"}) {
        if (!files.count(name)) continue;
        const Plan part = ReadPlan(files[name]);
        QVERIFY(part.Errors.empty());
        if (undo.empty()) undo = files[name].substr(0, files[name].find('\n') + 1);
        std::size_t line = files[name].find('\n') + 1;
        for (const PlanRow& row : part.Rows) {
            const std::size_t end = files[name].find('\n', line) + 1;
            if (macs.insert(row.Cells.at("mac")).second)
                undo += files[name].substr(line, end - line);
            line = end;
        }
    }
    const Plan plan = ReadPlan(undo);
    QVERIFY(plan.Errors.empty());
    std::vector<PanelRecord> site;
    for (const auto& [mac, panel] : panels)
        site.push_back(panel);
    const Changes back = PlanChanges(plan.Rows, site);
    QVERIFY2(!back.Refused(),
             back.Errors.empty()
                 ? (back.Site.Conflicts.empty() ? "" : back.Site.Conflicts[0].c_str())
                 : back.Errors[0].Text.c_str());
    for (const RowChange& r : back.Rows)
        if (r.Kind == RowKind::Write)
            panels[r.Current.Mac[5]] = AsReported(StagedOver(r, panels[r.Current.Mac[5]]));
    for (const auto& [mac, panel] : panels)
        QVERIFY2(std::memcmp(&panel, &factory.at(mac), sizeof panel) == 0,
                 MacText(panel.Mac).c_str());
}

// The commissioning page's server lets a request through only from the page it opened.
void CommissionTest::judgeRequest_data() {
    QTest::addColumn<QString>("method");
    QTest::addColumn<QString>("host");
    QTest::addColumn<QString>("origin");
    QTest::addColumn<QString>("key");    // the query's; "-" none
    QTest::addColumn<QString>("cookie"); // the Cookie header
    QTest::addColumn<int>("bytes");
    QTest::addColumn<bool>("viewOnly");
    QTest::addColumn<int>("status");
    QTest::addColumn<bool>("setCookie");
    const QString k = "00112233445566778899aabbccddeeff";
    const QString c = "callpanel-127-0-0-1-8123=" + k;
    const QString h = "127.0.0.1:8123", o = "http://127.0.0.1:8123";
    QTest::newRow("key in the query") << "GET" << h << "" << k << "" << 0 << false << 0 << true;
    QTest::newRow("key in the cookie") << "GET" << h << ""
                                       << "-"
                                       << "a=1; " + c << 0 << false << 0 << false;
    QTest::newRow("no key") << "GET" << h << ""
                            << "-"
                            << "" << 0 << false << 403 << false;
    QTest::newRow("empty key") << "GET" << h << ""
                               << ""
                               << "" << 0 << false << 403 << false;
    QTest::newRow("key one digit short")
        << "GET" << h << "" << k.left(31) << "" << 0 << false << 403 << false;
    QTest::newRow("key one digit longer") << "GET" << h << "" << k + "0"
                                          << "" << 0 << false << 403 << false;
    QTest::newRow("cookie of another port")
        << "GET" << h << ""
        << "-"
        << "callpanel-127-0-0-1-8124=" + k << 0 << false << 403 << false;
    QTest::newRow("cookie name as a suffix") << "GET" << h << ""
                                             << "-"
                                             << "x" + c << 0 << false << 403 << false;
    QTest::newRow("another host") << "GET"
                                  << "evil.example:8123"
                                  << "" << k << "" << 0 << false << 403 << false;
    QTest::newRow("another port") << "GET"
                                  << "127.0.0.1:80"
                                  << "" << k << "" << 0 << false << 403 << false;
    QTest::newRow("no host") << "GET"
                             << ""
                             << "" << k << "" << 0 << false << 403 << false;
    QTest::newRow("own origin") << "POST" << h << o << "-" << c << 10 << false << 0 << false;
    QTest::newRow("another origin") << "POST" << h << "http://evil.example"
                                    << "-" << c << 10 << false << 403 << false;
    QTest::newRow("null origin") << "POST" << h << "null"
                                 << "-" << c << 10 << false << 403 << false;
    QTest::newRow("https origin") << "POST" << h << "https://127.0.0.1:8123"
                                  << "-" << c << 10 << false << 403 << false;
    QTest::newRow("4 MiB") << "POST" << h << o << "-" << c << (4 << 20) << false << 0 << false;
    QTest::newRow("over 4 MiB") << "POST" << h << o << "-" << c << (4 << 20) + 1 << false << 413
                                << false;
    QTest::newRow("put") << "PUT" << h << o << "-" << c << 0 << false << 405 << false;
    QTest::newRow("view-only get") << "GET" << h << "" << k << "" << 0 << true << 0 << true;
    QTest::newRow("view-only post") << "POST" << h << o << k << "" << 0 << true << 403 << false;
}

void CommissionTest::judgeRequest() {
    QFETCH(QString, key);
    RequestFacts request;
    QFETCH(QString, method);
    QFETCH(QString, host);
    QFETCH(QString, origin);
    QFETCH(QString, cookie);
    QFETCH(int, bytes);
    QFETCH(bool, viewOnly);
    request.Method = method.toStdString();
    request.Host = host.toStdString();
    request.Origin = origin.toStdString();
    request.Cookie = cookie.toStdString();
    request.HasKey = key != "-";
    request.Key = request.HasKey ? key.toStdString() : "";
    request.BodyBytes = std::size_t(bytes);
    const GuardConfig config{"127.0.0.1:8123", "00112233445566778899aabbccddeeff", viewOnly};
    const Verdict verdict = Judge(request, config);
    QTEST(verdict.Status, "status");
    QTEST(verdict.SetCookie, "setCookie");
    QCOMPARE(verdict.Reason.empty(), verdict.Status == 0);
}

// Names from the page stay plain file names of the site folder.
void CommissionTest::siteNames_data() {
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("suffix");
    QTest::addColumn<bool>("plain");
    QTest::newRow("schedule") << "Block A.csv"
                              << ".csv" << true;
    QTest::newRow("suffix in capitals") << "PLAN.CSV"
                                        << ".csv" << true;
    QTest::newRow("utf-8") << "Straße 5.csv"
                           << ".csv" << true;
    QTest::newRow("other suffix") << "plan.txt"
                                  << ".csv" << false;
    QTest::newRow("parent") << "../plan.csv"
                            << ".csv" << false;
    QTest::newRow("dots alone") << ".."
                                << "" << false;
    QTest::newRow("hidden") << ".plan.csv"
                            << ".csv" << false;
    QTest::newRow("absolute") << "/etc/plan.csv"
                              << ".csv" << false;
    QTest::newRow("backslash") << "..\\plan.csv"
                               << ".csv" << false;
    QTest::newRow("drive") << "C:plan.csv"
                           << ".csv" << false;
    QTest::newRow("control") << "a\nb.csv"
                             << ".csv" << false;
    QTest::newRow("empty") << ""
                           << "" << false;
    QTest::newRow("too long") << QString(197, 'a') + ".csv"
                              << ".csv" << false;
}

void CommissionTest::siteNames() {
    QFETCH(QString, name);
    QFETCH(QString, suffix);
    std::string error;
    QTEST(PlainName(name.toStdString(), suffix.toStdString(), error), "plain");
}

// Undo plans ticked on the page go earliest first, whatever order the page names them in,
// because several are applied as one only in the order their runs made them.
void CommissionTest::undoPlanOrder_data() {
    QTest::addColumn<QStringList>("known"); // "name|time" as the folder's list times them
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("ordered");
    QTest::newRow("by the time the names say")
        << QStringList{} << QStringList{"undo-2026-12-08-101500.csv", "undo-2026-12-07-235959.csv"}
        << QStringList{"undo-2026-12-07-235959.csv", "undo-2026-12-08-101500.csv"};
    QTest::newRow("names taken in the same second by their number")
        << QStringList{}
        << QStringList{"undo-2026-12-08-101500-10.csv", "undo-2026-12-08-101500.csv",
                       "undo-2026-12-08-101500-2.csv"}
        << QStringList{"undo-2026-12-08-101500.csv", "undo-2026-12-08-101500-2.csv",
                       "undo-2026-12-08-101500-10.csv"};
    QTest::newRow("a name that says no time by when it was written")
        << QStringList{"undo-copy.csv|2026-12-08 11:00:00",
                       "undo-2026-12-08-101500.csv|2026-12-08 10:15:00"}
        << QStringList{"undo-copy.csv", "undo-2026-12-08-101500.csv"}
        << QStringList{"undo-2026-12-08-101500.csv", "undo-copy.csv"};
}

void CommissionTest::undoPlanOrder() {
    QFETCH(QStringList, known);
    QFETCH(QStringList, names);
    std::vector<UndoPlanFile> files;
    for (const QString& k : known)
        files.push_back({k.section('|', 0, 0).toStdString(), k.section('|', 1).toStdString()});
    std::vector<std::string> given;
    for (const QString& name : names)
        given.push_back(name.toStdString());
    QStringList got;
    for (const std::string& name : EarliestFirst(given, files))
        got << QString::fromStdString(name);
    QTEST(got, "ordered");
}

// A panel appears, changes its IP (one row still), goes quiet until it is gone, comes back;
// a twin sharing its MAC gets a row of its own.
void CommissionTest::liveSite() {
    LiveSite site;
    const auto heard = [](const std::vector<PanelRecord>& records) {
        std::vector<Cli::FoundPanel> replies;
        for (const PanelRecord& r : records)
            replies.push_back({r, "10.1.2.1", ""});
        return replies;
    };
    QVERIFY(site.Round(heard({Panel("A5 20"), Panel("A6 21")}), 1000));
    QCOMPARE(site.Panels().size(), std::size_t(2));
    QVERIFY(!site.Round(heard({Panel("A5 20"), Panel("A6 21"), Panel("A5 20")}), 1250));
    const long long id = site.Panels()[0].Id;
    QVERIFY(site.Round(heard({Panel("A5 30"), Panel("A6 21")}), 1500)); // written a new IP
    QCOMPARE(site.Panels().size(), std::size_t(2));
    QCOMPARE(site.Panels()[0].Id, id);
    QCOMPARE(int(site.Panels()[0].Panel.Record.Ip[3]), 30);
    QVERIFY(!site.Round(heard({Panel("A6 21")}), 1500 + LiveSite::GoneAfterMs - 1));
    QVERIFY(site.Panels()[0].Online);
    QVERIFY(site.Round(heard({Panel("A6 21")}), 1500 + LiveSite::GoneAfterMs));
    QVERIFY(!site.Panels()[0].Online);
    QCOMPARE(site.Present().size(), std::size_t(1));
    QVERIFY(site.Round(heard({Panel("A5 30"), Panel("A5 40"), Panel("A6 21")}), 9000));
    QCOMPARE(site.Panels().size(), std::size_t(3));
    QVERIFY(site.Panels()[0].Online);
    const nlohmann::json json = SiteJson(site);
    QCOMPARE(json["panels"].size(), std::size_t(3));
    QCOMPARE(json["panels"][0]["ip"].get<std::string>(), std::string("10.1.2.30"));
    QCOMPARE(json["panels"][0]["heard"].get<long long>(), 9000LL); // back since
    QVERIFY(json["faults"].empty());
    // A panel on another's IP (and so its call address, made from it): the faults name both by
    // MAC; a gone panel is no longer counted.
    QVERIFY(
        site.Round(heard({Panel("A5 30"), Panel("A5 40"), Panel("A6 21"), Panel("A7 21")}), 9750));
    const nlohmann::json clash = SiteJson(site)["faults"];
    QCOMPARE(clash.size(), std::size_t(2)); // one IP, and so one call address
    for (const auto& fault : clash)
        QCOMPARE(fault["macs"].dump(), std::string(R"(["00:50:2A:10:00:A6","00:50:2A:10:00:A7"])"));
    // The address plan the page draws: the report's squares, the shared address a clash.
    const auto squares = [&site] {
        std::string out;
        const nlohmann::json plan = AddressPlanJson(site);
        for (const auto& block : plan["blocks"])
            for (const auto& used : block["used"])
                out += block["prefix"].get<std::string>() +
                       std::to_string(used["last"].get<int>()) + " " +
                       used["kind"].get<std::string>() + ";";
        return QString::fromStdString(out);
    };
    QCOMPARE(squares(), QString("10.1.2.21 clash;10.1.2.30 flat;10.1.2.40 flat;"));
    QVERIFY(site.Round(heard({Panel("A5 30"), Panel("A5 40"), Panel("A6 21")}),
                       9750 + LiveSite::GoneAfterMs));
    const nlohmann::json after = SiteJson(site);
    QVERIFY(after["faults"].empty());
    // A row stays as it was while its panel answers as it did: the gone one tells when it was
    // last heard, the one present since when.
    QCOMPARE(after["panels"][3]["heard"].get<long long>(), 9750LL);
    QCOMPARE(after["panels"][0]["heard"].get<long long>(), 9000LL);
    QCOMPARE(squares(), QString("10.1.2.21 flat;10.1.2.30 flat;10.1.2.40 flat;"));
}

// The live stream: whatever a page missed, the events it is given bring its copy to the state,
// each delta naming only what changed.
void CommissionTest::liveFeed_data() {
    QTest::addColumn<QStringList>("states"); // given to the feed in turn, versions 1, 2...
    QTest::addColumn<int>("kept");           // deltas the feed keeps
    QTest::addColumn<int>("pageAt");         // the page's version: 0 just opened, -1 another run
    QTest::addColumn<QString>("kinds");
    QTest::addColumn<QString>("lastOps"); // of the last delta
    const QString two =
        R"({"now":1,"site":{"panels":[{"id":1,"ip":"10.0.0.1"},{"id":2,"ip":"10.0.0.2"}]}})";
    const QStringList four = {R"({"log":[]})", R"({"log":["a"]})", R"({"log":["a","b"]})",
                              R"({"log":["b","c"]})"};
    QTest::newRow("page opened: the state whole") << QStringList{two} << 100 << 0 << "snapshot"
                                                  << "";
    QTest::newRow("a row changed: that cell")
        << QStringList{two,
                       R"({"now":2,"site":{"panels":[{"id":1,"ip":"10.0.0.1"},{"id":2,"ip":"10.0.0.9"}]}})"}
        << 100 << 1 << "delta"
        << R"([{"op":"replace","path":"/now","value":2},{"op":"replace","path":"/site/panels/1/ip","value":"10.0.0.9"}])";
    QTest::newRow("a row added, a fault found")
        << QStringList{two,
                       R"({"now":1,"site":{"faults":["x"],"panels":[{"id":1,"ip":"10.0.0.1"},{"id":2,"ip":"10.0.0.2"},{"id":3,"ip":"10.0.0.3"}]}})"}
        << 100 << 1 << "delta"
        << R"([{"op":"add","path":"/site/panels/-","value":{"id":3,"ip":"10.0.0.3"}},{"op":"add","path":"/site/faults","value":["x"]}])";
    QTest::newRow("a row gone from the middle")
        << QStringList{R"({"p":[1,2,3]})", R"({"p":[1,3]})"} << 100 << 1 << "delta"
        << R"([{"op":"replace","path":"/p/1","value":3},{"op":"remove","path":"/p/2"}])";
    QTest::newRow("the log's oldest line dropped, a new one added")
        << QStringList{R"({"log":["a","b","c"]})", R"({"log":["b","c","d"]})"} << 100 << 1
        << "delta"
        << R"([{"op":"remove","path":"/log/0"},{"op":"add","path":"/log/-","value":"d"}])";
    QTest::newRow("a part comes, another goes")
        << QStringList{R"({"check":null,"x":1})", R"({"check":{"rows":[]}})"} << 100 << 1 << "delta"
        << R"([{"op":"replace","path":"/check","value":{"rows":[]}},{"op":"remove","path":"/x"}])";
    QTest::newRow("a name with a slash")
        << QStringList{R"({"a/b~":1})", R"({"a/b~":2})"} << 100 << 1 << "delta"
        << R"([{"op":"replace","path":"/a~1b~0","value":2}])";
    QTest::newRow("versions missed and kept: each delta in order")
        << four << 100 << 1 << "delta,delta,delta"
        << R"([{"op":"remove","path":"/log/0"},{"op":"add","path":"/log/-","value":"c"}])";
    QTest::newRow("more versions missed than kept: the state whole") << four << 2 << 1 << "snapshot"
                                                                     << "";
    QTest::newRow("a page of another run: the state whole") << four << 100 << -1 << "snapshot"
                                                            << "";
    QTest::newRow("a page up to date: nothing") << four << 100 << 4 << ""
                                                << "";
}

void CommissionTest::liveFeed() {
    using json = nlohmann::json;
    QFETCH(QStringList, states);
    QFETCH(int, kept);
    QFETCH(int, pageAt);
    LiveFeed feed("run", kept);
    std::vector<json> given{json::object()};
    for (const QString& state : states) {
        given.push_back(json::parse(state.toStdString()));
        QVERIFY(feed.Update(given.back()));
        QVERIFY(!feed.Update(given.back())); // the same state again is no version
    }
    json page;
    long long version = pageAt > 0 ? pageAt : -1;
    if (pageAt > 0) page = given[pageAt];
    QStringList kinds;
    json lastOps;
    for (const LiveEvent& e :
         feed.EventsSince(pageAt > 0    ? feed.IdOf(pageAt)
                          : pageAt == 0 ? ""
                                        : "earlier." + std::to_string(pageAt + 2))) {
        kinds << QString::fromStdString(e.Kind);
        const json data = json::parse(e.Data);
        if (e.Kind == "snapshot") {
            page = data["state"];
        } else {
            QCOMPARE(data["base"].get<long long>(), version);
            lastOps = data["ops"];
            page = page.patch(lastOps);
        }
        version = data["version"].get<long long>();
        QCOMPARE(e.Id, feed.IdOf(version));
    }
    QCOMPARE(version, feed.Version());
    QCOMPARE(page.dump(), given.back().dump());
    QTEST(kinds.join(","), "kinds");
    QTEST(QString::fromStdString(lastOps.is_null() ? "" : lastOps.dump()), "lastOps");
}

QTEST_APPLESS_MAIN(CommissionTest)
#include "tst_commission.moc"
