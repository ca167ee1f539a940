#include <QApplication>
#include <QComboBox>
#include <QImage>
#include <QInputMethodEvent>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Dialogs.h"
#include "Form1Layout.h"
#include "Form1Logic.h"
#include "MessageFormat.h"
#include "RecordingView.h"
#include "StatusTexts.h"
#include "TEdit.h"
#include "Unit1.h"
#include "WindowFixture.h"

namespace {

const QString Song = "WenQuanYi Zen Hei Mono";
const QString Sans = "DejaVu Sans";
const QString IpFrame = "    .    .    . ";
const QString MacFrame = "    :    :    ";

// Every box that takes input, in the order the Tab key visits them from "Write".
const QStringList TabWalk = {"Button1", "Button2",   "Edit7",  "Edit8",  "Edit9",  "Edit10",
                             "Edit1",   "Edit13",    "Edit14", "Edit15", "Edit16", "Edit18",
                             "Edit19",  "Edit20",    "Edit21", "Edit23", "Edit24", "Edit25",
                             "Edit26",  "Edit3",     "Edit4",  "Edit5",  "Edit6",  "ListBox1",
                             "Edit27",  "ComboBox1", "Edit28", "Button3"};

const QStringList FieldBoxes = {"Edit1",  "Edit3",  "Edit4",  "Edit5",  "Edit6",  "Edit7",
                                "Edit8",  "Edit9",  "Edit10", "Edit13", "Edit14", "Edit15",
                                "Edit16", "Edit18", "Edit19", "Edit20", "Edit21", "Edit23",
                                "Edit24", "Edit25", "Edit26", "Edit27", "Edit28"};

QByteArray Padded(const QByteArray& bytes, int size) {
    QByteArray out = bytes.left(size);
    out.append(QByteArray(size - out.size(), '\0'));
    return out;
}

PanelRecord Record(char type, const QByteArray& address, char facility, const QList<int>& bytes,
                   const QByteArray& version, int unlock) {
    // bytes: MAC 6, IP 4, subnet 4, gateway 4, server 4
    PanelRecord r = {};
    r.TypeLetter = type;
    std::memcpy(r.Address, Padded(address, 10).constData(), 10);
    r.Facility = facility;
    uint8_t* const targets[] = {r.Mac, r.Ip, r.Subnet, r.Gateway, r.Server};
    const int sizes[] = {6, 4, 4, 4, 4};
    int k = 0;
    for (int t = 0; t < 5; ++t)
        for (int i = 0; i < sizes[t]; ++i)
            targets[t][i] = uint8_t(bytes.value(k++));
    std::memcpy(r.Version, Padded(version, 16).constData(), 16);
    r.Spare = 0x37; // must never show up after a version of 16 characters
    r.UnlockTime = uint8_t(unlock);
    return r;
}

PanelRecord Filler(int n) {
    return Record('H', QByteArray::number(1234567000 + n), '1',
                  {0, 0x50, 0x2A, 1, 2, n, 10, 0, 0, n, 255, 0, 0, 0, 10, 0, 0, 1, 10, 0, 0, 2},
                  "F", 3);
}

} // namespace

class Unit1Test : public WindowFixture {
    Q_OBJECT
  private slots:
    void init();
    void cleanup();

    void controls_data();
    void controls();
    void window();
    void comboItems();
    void fieldsAboveFrames();
    void separatorsShowBetweenFields_data();
    void separatorsShowBetweenFields();
    void tabOrder();
    void enterPressesNoButton();
    void typingLimits_data();
    void typingLimits();
    void programTextNeverCut();
    void startUp();
    void startUpWithoutThread();
    void panelLines();
    void listLines_data();
    void listLines();
    void ctrlClickKeepsTheSelection();
    void directoryHoldsHundred();
    void panelDetails_data();
    void panelDetails();
    void noSelectionChangesNothing();
    void programSelectionRunsNothing();
    void deviceType_data();
    void deviceType();
    void searchAll_data();
    void searchAll();
    void deleteCards_data();
    void deleteCards();
    void messageBoxes_data();
    void messageBoxes();
    void closeWhileCommandPending();
    void closeBeforeShownRunsNoCloseHandler();
    void decisionsWithoutWidgets_data();
    void decisionsWithoutWidgets();
    void wholeScaleFactor_data();
    void wholeScaleFactor();

  private:
    // Window shown; with a link the sender thread runs, without one nothing is sent.
    void Show(bool withLink);
    template <typename T = QWidget> T* Control(const QString& name) const {
        T* control = Form->findChild<T*>(name);
        if (!control) qFatal("no control %s", qPrintable(name));
        return control;
    }
    void SelectByMouse(int row);
    void Pick(int index); // the user's choice in the device type selector
};

void Unit1Test::init() {
    MakeWindow();
}

void Unit1Test::cleanup() {
    DropWindow();
}

void Unit1Test::Show(bool withLink) {
    if (withLink) Form->Link = Link.get();
    Form->show();
    QVERIFY(QTest::qWaitForWindowExposed(Form.get()));
}

void Unit1Test::SelectByMouse(int row) {
    QListWidget* list = Form->ListBox1;
    const QRect at = list->visualItemRect(list->item(row));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, at.center());
}

void Unit1Test::Pick(int index) {
    Form->ComboBox1->setCurrentIndex(index);
    emit Form->ComboBox1->activated(index);
}

void Unit1Test::controls_data() {
    QTest::addColumn<QString>("kind");
    QTest::addColumn<QRect>("geometry"); // labels size themselves: width and height -1
    QTest::addColumn<QString>("text");
    QTest::addColumn<int>("maxLength");
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("readOnly");
    QTest::addColumn<bool>("border");
    QTest::addColumn<QString>("hint");
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("pixels");

    auto label = [](const char* name, int x, int y, const QString& caption) {
        QTest::newRow(name) << "label" << QRect(x, y, -1, -1) << caption << 0 << true << false
                            << false << "" << Song << 14;
    };
    label("Label9", 316, 32, "Camera：");
    label("Label1", 316, 72, "Address：");
    label("Label8", 316, 112, "Facility NO.：");
    label("Label3", 316, 152, "MAC：00:50:2A");
    label("Label4", 316, 192, "IP：");
    label("Label12", 316, 232, "Unlocking  Time：");
    label("Label10", 316, 264, "Status：");
    label("Label11", 376, 264, "状态：");
    label("Label5", 576, 72, "Subnet：");
    label("Label6", 576, 112, "Gateway：");
    label("Label7", 576, 152, "Server：");
    label("Label2", 576, 192, "Version：");

    auto edit = [](const char* name, QRect r, const QString& text, int max, bool enabled,
                   bool readOnly, bool border, const QString& hint) {
        QTest::newRow(name) << "edit" << r << text << max << enabled << readOnly << border << hint
                            << Song << 14;
    };
    auto frame = [&](const char* name, QRect r, const QString& text) {
        edit(name, r, text, 0, false, true, true, "");
    };
    auto field = [&](const char* name, int x, int y, int max) {
        edit(name, QRect(x, y, 22, 18), "", max, true, false, false, "");
    };
    QTest::newRow("Button1") << "button" << QRect(552, 296, 81, 25) << "Write" << 0 << true << false
                             << false << "" << Song << 14;
    QTest::newRow("Button2") << "button" << QRect(384, 296, 81, 25) << "Search all" << 0 << true
                             << false << false << "" << Song << 14;
    frame("Edit11", QRect(411, 184, 145, 22), IpFrame);
    field("Edit7", 416, 187, 3);
    field("Edit8", 450, 187, 3);
    field("Edit9", 482, 187, 3);
    field("Edit10", 518, 187, 3);
    edit("Edit1", QRect(411, 64, 145, 22), "", 10, true, false, true,
         "10bits for Flat carmera; 4bits for villa camera;4bits for Help station");
    frame("Edit12", QRect(659, 64, 145, 22), IpFrame);
    field("Edit13", 664, 67, 3);
    field("Edit14", 698, 67, 3);
    field("Edit15", 730, 67, 3);
    field("Edit16", 766, 67, 3);
    frame("Edit17", QRect(659, 104, 145, 22), IpFrame);
    field("Edit18", 664, 107, 3);
    field("Edit19", 698, 107, 3);
    field("Edit20", 730, 107, 3);
    field("Edit21", 766, 107, 3);
    frame("Edit22", QRect(659, 144, 145, 22), IpFrame);
    field("Edit23", 664, 147, 3);
    field("Edit24", 698, 147, 3);
    field("Edit25", 730, 147, 3);
    field("Edit26", 766, 147, 3);
    frame("Edit2", QRect(451, 144, 102, 22), MacFrame);
    field("Edit3", 456, 147, 2);
    field("Edit4", 490, 147, 2);
    field("Edit5", 522, 147, 2);
    edit("Edit6", QRect(411, 104, 145, 22), "", 1, true, false, true, "Facility NO. between 0 -1");
    QTest::newRow("ListBox1") << "list" << QRect(24, 16, 257, 321) << "" << 0 << true << false
                              << true << "" << Song << 14;
    edit("Edit27", QRect(659, 184, 145, 22), "", 1, true, true, true, "Version infomation");
    QTest::newRow("ComboBox1") << "combo" << QRect(411, 24, 145, 22) << "" << 0 << true << false
                               << true << "" << Song << 14;
    edit("Edit28", QRect(440, 224, 113, 22), "", 1, true, false, true,
         "Unlocking time from 1 to 9 seconds");
    QTest::newRow("Button3") << "button" << QRect(696, 296, 75, 25) << "Del all cards" << 0 << true
                             << false << false << "" << Sans << 11;
}

void Unit1Test::controls() {
    QFETCH(QString, kind);
    QFETCH(QRect, geometry);
    QFETCH(QString, text);
    QFETCH(int, maxLength);
    QFETCH(bool, enabled);
    QFETCH(bool, readOnly);
    QFETCH(bool, border);
    QFETCH(QString, hint);
    QFETCH(QString, family);
    QFETCH(int, pixels);

    QWidget* w = Control(QTest::currentDataTag());
    if (geometry.width() < 0) {
        QCOMPARE(w->pos(), geometry.topLeft());
    } else {
        QCOMPARE(w->geometry(), geometry);
    }
    QCOMPARE(w->isEnabled(), enabled);
    QCOMPARE(w->toolTip(), hint);
    QCOMPARE(QFontInfo(w->font()).family(), family);
    QCOMPARE(w->font().pixelSize(), pixels);

    if (kind == "label") {
        auto* l = qobject_cast<QLabel*>(w);
        QVERIFY(l);
        QCOMPARE(l->text(), text);
        // As wide as its text, as high as the table says, whatever the font's line spacing.
        QCOMPARE(l->size(), QSize(l->sizeHint().width(), 14));
        QCOMPARE(l->focusPolicy(), Qt::NoFocus);
    } else if (kind == "edit") {
        auto* e = qobject_cast<TEdit*>(w);
        QVERIFY(e);
        QCOMPARE(e->text(), text);
        QCOMPARE(e->MaxLength(), maxLength);
        QCOMPARE(e->isReadOnly(), readOnly);
        QCOMPARE(e->hasFrame(), border);
        QCOMPARE(e->maxLength(), 32767); // the toolkit's own limit would cut program text
    } else if (kind == "button") {
        auto* b = qobject_cast<QPushButton*>(w);
        QVERIFY(b);
        QCOMPARE(b->text(), text);
        QVERIFY(!b->autoDefault());
        QVERIFY(!b->isDefault());
    } else if (kind == "list") {
        auto* l = qobject_cast<QListWidget*>(w);
        QVERIFY(l);
        QCOMPARE(l->count(), 0);
        QCOMPARE(l->selectionMode(), QAbstractItemView::SingleSelection);
        QVERIFY(!l->isSortingEnabled());
    } else if (kind == "combo") {
        auto* c = qobject_cast<QComboBox*>(w);
        QVERIFY(c);
        QVERIFY(!c->isEditable());
        QCOMPARE(c->currentIndex(), -1); // nothing until the window is shown
    }
}

void Unit1Test::window() {
    QCOMPARE(Form->windowTitle(), QString("Call Panel settings Tool V1.4"));
    QCOMPARE(Form->size(), QSize(861, 372));
    QCOMPARE(Form->minimumSize(), QSize(861, 372));
    QCOMPARE(Form->maximumSize(), QSize(861, 372));
    const Qt::WindowFlags flags = Form->windowFlags();
    QVERIFY(flags.testFlag(Qt::WindowCloseButtonHint));
    QVERIFY(flags.testFlag(Qt::WindowTitleHint));
    QVERIFY(!flags.testFlag(Qt::WindowMinimizeButtonHint));
    QVERIFY(!flags.testFlag(Qt::WindowMaximizeButtonHint));
    QCOMPARE(Form->palette().color(QPalette::Window), Form->palette().color(QPalette::Button));
    QCOMPARE(Control<QLabel>("Label11")->text(), QString("状态："));

    Show(false);
    const QRect screen = Form->screen()->availableGeometry();
    // Centred; the frame's size may not be known yet when the window is placed.
    QVERIFY2((Form->frameGeometry().center() - screen.center()).manhattanLength() <= 6,
             qPrintable(QString("frame %1,%2 %5 x %6 on a screen of %3 x %4")
                            .arg(Form->frameGeometry().x())
                            .arg(Form->frameGeometry().y())
                            .arg(screen.width())
                            .arg(screen.height())
                            .arg(Form->frameGeometry().width())
                            .arg(Form->frameGeometry().height())));
    QCOMPARE(Form->size(), QSize(861, 372));
}

void Unit1Test::comboItems() {
    QComboBox* c = Form->ComboBox1;
    QCOMPARE(c->count(), 3);
    QCOMPARE(c->itemText(0), QString("Flat Camera"));
    QCOMPARE(c->itemText(1), QString("Help Station"));
    QCOMPARE(c->itemText(2), QString("Villa Camera"));
    QCOMPARE(c->view()->sizeHintForRow(0), 14); // the drop-down's line height
}

void Unit1Test::fieldsAboveFrames() {
    const QList<QPair<QString, QStringList>> boxes = {
        {"Edit11", {"Edit7", "Edit8", "Edit9", "Edit10"}},
        {"Edit12", {"Edit13", "Edit14", "Edit15", "Edit16"}},
        {"Edit17", {"Edit18", "Edit19", "Edit20", "Edit21"}},
        {"Edit22", {"Edit23", "Edit24", "Edit25", "Edit26"}},
        {"Edit2", {"Edit3", "Edit4", "Edit5"}}};
    const QObjectList stack = Form->children(); // bottom to top
    for (const auto& [frame, fields] : boxes) {
        QWidget* f = Control(frame);
        QCOMPARE(f->focusPolicy(), Qt::NoFocus);
        for (const QString& name : fields) {
            QWidget* field = Control(name);
            QVERIFY2(stack.indexOf(field) > stack.indexOf(f), qPrintable(name));
            QCOMPARE(Form->childAt(field->geometry().center()), field);
        }
    }
}

void Unit1Test::separatorsShowBetweenFields_data() {
    QTest::addColumn<QString>("frame");
    QTest::addColumn<QStringList>("fields");
    QTest::newRow("IP") << "Edit11" << QStringList{"Edit7", "Edit8", "Edit9", "Edit10"};
    QTest::newRow("subnet") << "Edit12" << QStringList{"Edit13", "Edit14", "Edit15", "Edit16"};
    QTest::newRow("gateway") << "Edit17" << QStringList{"Edit18", "Edit19", "Edit20", "Edit21"};
    QTest::newRow("server") << "Edit22" << QStringList{"Edit23", "Edit24", "Edit25", "Edit26"};
    QTest::newRow("MAC") << "Edit2" << QStringList{"Edit3", "Edit4", "Edit5"};
}

void Unit1Test::separatorsShowBetweenFields() {
    QFETCH(QString, frame);
    QFETCH(QStringList, fields);
    Show(false);
    const QImage shot = Form->grab().toImage();
    if (qEnvironmentVariableIsSet("UI_SCREENSHOT") && frame == "Edit11")
        QVERIFY(shot.save(qEnvironmentVariable("UI_SCREENSHOT")));

    // In device pixels: run with QT_SCALE_FACTOR=2 too, as on a screen at 200 %.
    const int scale = qRound(shot.devicePixelRatio());
    QCOMPARE(shot.size(), Form->size() * scale);
    const QRect f = Control(frame)->geometry();
    const QColor background = shot.pixelColor(Control(fields.first())->geometry().center() * scale);
    // Ink in a gap: a pixel clearly darker than the field boxes' background.
    auto inkIn = [&](int left, int right) {
        for (int x = left * scale; x < right * scale; ++x)
            for (int y = (f.top() + 3) * scale; y < (f.bottom() - 2) * scale; ++y)
                if (shot.pixelColor(x, y).lightness() < background.lightness() - 60) return true;
        return false;
    };
    for (int i = 0; i + 1 < fields.size(); ++i) {
        const int left = Control(fields[i])->geometry().right() + 1;
        const int right = Control(fields[i + 1])->geometry().left();
        QVERIFY2(
            inkIn(left, right),
            qPrintable(QString("no separator between %1 and %2").arg(fields[i], fields[i + 1])));
    }
    // The frame's blanks lie under the fields: an empty field shows no ink.
    for (const QString& name : fields) {
        const QRect r = Control(name)->geometry();
        QVERIFY2(!inkIn(r.left() + 1, r.right()), qPrintable(name));
    }
}

void Unit1Test::tabOrder() {
    Show(true);
    QVERIFY(QTest::qWaitForWindowActive(Form.get()));
    QTRY_COMPARE(QApplication::focusWidget(), Control("Button1"));
    QStringList visited;
    for (int i = 0; i < TabWalk.size(); ++i) {
        visited << QApplication::focusWidget()->objectName();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    }
    QCOMPARE(visited, TabWalk);
    QCOMPARE(QApplication::focusWidget(), Control("Button1")); // round again

    // A disabled facility box (help station) is skipped.
    Pick(1);
    Control("Edit5")->setFocus();
    QTest::keyClick(Control("Edit5"), Qt::Key_Tab);
    QCOMPARE(QApplication::focusWidget(), Control("ListBox1"));
}

void Unit1Test::enterPressesNoButton() {
    Show(false);
    QVERIFY(QTest::qWaitForWindowActive(Form.get()));
    for (const char* name : {"Button2", "Button3"}) {
        auto* b = Control<QPushButton>(name);
        QSignalSpy clicks(b, &QPushButton::clicked);
        b->setFocus();
        QTest::keyClick(b, Qt::Key_Return);
        QTest::keyClick(b, Qt::Key_Enter);
        QTest::keyClick(b, Qt::Key_Escape);
        QCOMPARE(clicks.count(), 0);
    }
    QCOMPARE(Boxes.size(), size_t(0));
    QCOMPARE(Form->ListBox1->count(), 0);
}

void Unit1Test::typingLimits_data() {
    QTest::addColumn<QString>("box");
    QTest::addColumn<QString>("typed");
    QTest::addColumn<QString>("kept");
    for (const char* name :
         {"Edit7", "Edit8", "Edit9", "Edit10", "Edit13", "Edit14", "Edit15", "Edit16", "Edit18",
          "Edit19", "Edit20", "Edit21", "Edit23", "Edit24", "Edit25", "Edit26"})
        QTest::newRow(name) << name << "1234"
                            << "123";
    for (const char* name : {"Edit3", "Edit4", "Edit5"})
        QTest::newRow(name) << name << "ABC"
                            << "AB";
    QTest::newRow("Edit6") << "Edit6"
                           << "01"
                           << "0";
    QTest::newRow("Edit28") << "Edit28"
                            << "12"
                            << "1";
    QTest::newRow("Edit1") << "Edit1"
                           << "12345678901"
                           << "1234567890";
    // The limits count GBK bytes: two for a Chinese character.
    QTest::newRow("Edit1 five Chinese characters") << "Edit1"
                                                   << "中文中文中文"
                                                   << "中文中文中";
    QTest::newRow("Edit1 digit and Chinese") << "Edit1"
                                             << "123456789中"
                                             << "123456789";
    QTest::newRow("Edit6 Chinese refused") << "Edit6"
                                           << "中"
                                           << "";
    QTest::newRow("Edit28 Chinese refused") << "Edit28"
                                            << "中1"
                                            << "1";
    QTest::newRow("Edit27 read-only") << "Edit27"
                                      << "1"
                                      << "";
}

void Unit1Test::typingLimits() {
    QFETCH(QString, box);
    QFETCH(QString, typed);
    QFETCH(QString, kept);
    Show(false);
    auto* e = Control<TEdit>(box);
    e->setFocus();
    for (const QChar c : typed) {
        if (c.unicode() < 0x80) {
            QTest::keyClick(e, c.toLatin1());
        } else { // as an input method hands it over
            QInputMethodEvent event;
            event.setCommitString(c);
            QApplication::sendEvent(e, &event);
        }
    }
    QCOMPARE(e->text(), kept);
}

void Unit1Test::programTextNeverCut() {
    Show(false);
    Form->Edit27->setText("ABCDEFGHIJKLMNOP");
    QCOMPARE(Form->Edit27->text(), QString("ABCDEFGHIJKLMNOP"));

    QTest::keyClicks(Form->Edit1, "1234567890");
    Pick(2); // Villa Camera: four characters from now on
    QCOMPARE(Form->Edit1->text(), QString("1234567890"));
    Form->Edit1->setText("0987654321");
    QCOMPARE(Form->Edit1->text(), QString("0987654321"));
    QTest::keyClicks(Form->Edit1, "5");
    QCOMPARE(Form->Edit1->text(), QString("0987654321"));
    QTest::keyClick(Form->Edit1, Qt::Key_Backspace);
    QCOMPARE(Form->Edit1->text(), QString("098765432"));
}

void Unit1Test::startUp() {
    QCOMPARE(Form->Label11->text(), QString("状态："));
    Form->Directory.Count = 7; // showing counts the directory from zero
    Show(true);
    QCOMPARE(Form->Label11->text(), QString());
    QCOMPARE(Statuses, QStringList{QString()});
    QCOMPARE(Form->ComboBox1->currentIndex(), 0);
    QCOMPARE(Form->ComboBox1->currentText(), QString("Flat Camera"));
    QCOMPARE(Form->Directory.Count, 0);
    QCOMPARE(Form->ListBox1->count(), 0);
    for (const QString& name : FieldBoxes)
        QVERIFY2(Control<TEdit>(name)->text().isEmpty(), qPrintable(name));
    for (const char* name : {"Button1", "Button2", "Button3"})
        QVERIFY2(Control(name)->isEnabled(), name);
    // The device type was selected without its change rules.
    QCOMPARE(Form->Edit1->MaxLength(), 10);
    QVERIFY(Form->Edit6->isEnabled());
    QVERIFY(QTest::qWaitForWindowActive(Form.get()));
    QTRY_COMPARE(QApplication::focusWidget(), Control("Button1"));
    QTest::qWait(300);
    QVERIFY(Link->Taken().empty());
    QCOMPARE(Form->Label11->text(), QString());
}

void Unit1Test::startUpWithoutThread() {
    // Without a link no queue runs, but the window still comes up ready.
    Form->Button1->setEnabled(false);
    Show(false);
    QVERIFY(Form->Button1->isEnabled());
    QCOMPARE(Form->Label11->text(), QString());
    QCOMPARE(Form->ComboBox1->currentIndex(), 0);
}

void Unit1Test::panelLines() {
    Show(false);
    Form->ApplyPanel(Record('H', "1234567890", '1', {0, 0, 0, 0, 0, 0, 192, 168, 0, 1}, "", 0));
    Form->ApplyPanel(Record('P', "5678000000", '0', {0, 0, 0, 0, 0, 0, 10, 0, 255, 254}, "", 0));
    Form->ApplyPanel(Record('H', "12", '\0', {0, 0, 0, 0, 0, 0, 1, 2, 3, 4}, "", 0));
    // Panel texts are GBK, as the tool writes them: D6 D0 is one character.
    Form->ApplyPanel(Record('H', "\xD6\xD0", 'x', {0, 0, 0, 0, 0, 0, 0, 0, 0, 0}, "", 0));
    const QStringList expected = {"H12345678901 - 192.168.0.1", "P56780000000 - 10.0.255.254",
                                  "H12 - 1.2.3.4", "H\u4e2d - 0.0.0.0"};
    QStringList lines;
    for (int i = 0; i < Form->ListBox1->count(); ++i)
        lines << Form->ListBox1->item(i)->text();
    QCOMPARE(lines, expected);
    QCOMPARE(Form->Directory.Count, 4);
    QCOMPARE(Form->Directory.Records[1].Ip[3], uint8_t(254));
    QCOMPARE(Form->ListBox1->currentRow(), -1); // appending selects nothing
    QCOMPARE(Form->SelectedIndex(), -1);
}

void Unit1Test::listLines_data() {
    QTest::addColumn<int>("line");
    QTest::newRow("first") << 0;
    QTest::newRow("eleventh") << 10;
    QTest::newRow("last whole line") << 21;
}

void Unit1Test::listLines() {
    QFETCH(int, line);
    Show(false);
    for (int n = 0; n < 30; ++n)
        Form->ApplyPanel(Filler(n));
    QListWidget* list = Form->ListBox1;
    QCOMPARE(list->sizeHintForRow(0), 14);
    int whole = 0;
    for (int i = 0; i < list->count(); ++i)
        whole += list->viewport()->rect().contains(list->visualItemRect(list->item(i))) ? 1 : 0;
    QCOMPARE(whole, 22); // as many as the list's 321 pixels are meant to show

    // A click on the line's place, 14 pixels a line, selects that line.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, QPoint(40, 14 * line + 7));
    QCOMPARE(Form->SelectedIndex(), line);
    QCOMPARE(Form->Edit1->text(), QString::number(1234567000 + line));
}

void Unit1Test::ctrlClickKeepsTheSelection() {
    Show(false);
    for (int n = 0; n < 3; ++n)
        Form->ApplyPanel(Filler(n));
    SelectByMouse(1);
    Form->Edit1->setText("typed");
    const QPoint second = Form->ListBox1->visualItemRect(Form->ListBox1->item(1)).center();
    QTest::mouseClick(Form->ListBox1->viewport(), Qt::LeftButton, Qt::ControlModifier, second);
    QCOMPARE(Form->SelectedIndex(), 1);
    QCOMPARE(Form->Edit1->text(), QString("1234567001")); // a click on the selected line
    QTest::keyClick(Form->ListBox1, Qt::Key_Space, Qt::ControlModifier);
    QCOMPARE(Form->SelectedIndex(), 1);
    const QPoint third = Form->ListBox1->visualItemRect(Form->ListBox1->item(2)).center();
    QTest::mouseClick(Form->ListBox1->viewport(), Qt::LeftButton, Qt::ControlModifier, third);
    QCOMPARE(Form->SelectedIndex(), 2);
    QCOMPARE(Form->ListBox1->selectedItems().size(), 1);
    QCOMPARE(Form->Edit1->text(), QString("1234567002"));
}

void Unit1Test::directoryHoldsHundred() {
    Show(false);
    for (int n = 0; n < 101; ++n)
        Form->ApplyPanel(Filler(n));
    QCOMPARE(Form->Directory.Count, 100);
    QCOMPARE(Form->ListBox1->count(), 100);
    QCOMPARE(Form->Directory.Records[99].Ip[3], uint8_t(99));
}

void Unit1Test::panelDetails_data() {
    QTest::addColumn<QString>("how");      // mouse, keyboard
    QTest::addColumn<int>("pickedBefore"); // the user's last device type, -1 none
    QTest::addColumn<char>("type");
    QTest::addColumn<QByteArray>("address");
    QTest::addColumn<char>("facility");
    QTest::addColumn<QList<int>>("bytes");
    QTest::addColumn<QByteArray>("version");
    QTest::addColumn<int>("unlock");
    QTest::addColumn<int>("comboIndex");
    QTest::addColumn<QString>("edit1");
    QTest::addColumn<QString>("edit6");
    QTest::addColumn<QStringList>("shown"); // Edit3-5, 7-10, 13-16, 18-21, 23-26
    QTest::addColumn<QString>("edit27");
    QTest::addColumn<QString>("edit28");

    const QList<int> usual = {0x00, 0x50, 0x2A, 0x0A, 0xFF, 0x00, 192, 168, 0, 1, 255,
                              255,  255,  0,    192,  168,  0,    254, 10,  0, 0, 2};
    const QStringList usualShown = {"0A",  "FF",  "00",  "192", "168", "0",   "1",
                                    "255", "255", "255", "0",   "192", "168", "0",
                                    "254", "10",  "0",   "0",   "2"};
    QTest::newRow("flat, ten digits") << "mouse" << -1 << 'H' << QByteArray("1234567890") << '1'
                                      << usual << QByteArray("V1.4") << 5 << 0 << "1234567890"
                                      << "1" << usualShown << "V1.4"
                                      << "5";
    QTest::newRow("flat, by keyboard") << "keyboard" << -1 << 'H' << QByteArray("1234567890") << '1'
                                       << usual << QByteArray("V1.4") << 5 << 0 << "1234567890"
                                       << "1" << usualShown << "V1.4"
                                       << "5";
    QTest::newRow("villa, four digits and six zeros")
        << "mouse" << -1 << 'H' << QByteArray("1234000000") << '0' << usual << QByteArray("V") << 3
        << 2 << "1234"
        << "0" << usualShown << "V"
        << "3";
    QTest::newRow("help station, four digits and six zeros")
        << "mouse" << -1 << 'P' << QByteArray("5678000000") << '0' << usual << QByteArray("V") << 3
        << 1 << "5678"
        << "0" << usualShown << "V"
        << "3";
    QTest::newRow("help station, ten digits")
        << "mouse" << -1 << 'P' << QByteArray("5678123456") << '1' << usual << QByteArray("V") << 3
        << 1 << "5678123456"
        << "1" << usualShown << "V"
        << "3";
    QTest::newRow("other letter is a help station")
        << "mouse" << -1 << 'X' << QByteArray("1234000000") << '1' << usual << QByteArray("V") << 3
        << 1 << "1234"
        << "1" << usualShown << "V"
        << "3";
    QTest::newRow("four digits then zero bytes")
        << "mouse" << -1 << 'H' << QByteArray("1234") << '\0' << usual << QByteArray("V") << 3 << 0
        << "1234"
        << "" << usualShown << "V"
        << "3";
    QTest::newRow("last digit not zero") << "mouse" << -1 << 'H' << QByteArray("1234000001") << '1'
                                         << usual << QByteArray("V") << 3 << 0 << "1234000001"
                                         << "1" << usualShown << "V"
                                         << "3";
    QTest::newRow("version of sixteen, unlocking 0")
        << "mouse" << -1 << 'H' << QByteArray("1234567890") << '1' << usual
        << QByteArray("ABCDEFGHIJKLMNOP") << 0 << 0 << "1234567890"
        << "1" << usualShown << "ABCDEFGHIJKLMNOP"
        << "0";
    QTest::newRow("high bytes unsigned")
        << "mouse" << -1 << 'H' << QByteArray("1234567890") << '1'
        << QList<int>{0, 0x50, 0x2A, 0x80, 0xAB, 0x0F, 255, 255, 255, 255, 128,
                      0, 0,    0,    200,  201,  202,  203, 100, 10,  1,   0}
        << QByteArray("") << 200 << 0 << "1234567890"
        << "1" << QStringList{"80", "AB",  "0F",  "255", "255", "255", "255", "128", "0", "0",
                              "0",  "200", "201", "202", "203", "100", "10",  "1",   "0"}
        << ""
        << "200";
    // The rule sees the ten bytes before they are decoded: "中文" is four bytes.
    QTest::newRow("villa, two Chinese characters and six zeros")
        << "mouse" << -1 << 'H'
        << QByteArray("\xD6\xD0\xCE\xC4"
                      "000000")
        << '1' << usual << QByteArray("V") << 3 << 2 << "中文"
        << "1" << usualShown << "V"
        << "3";
    // A byte that is no whole GBK character stays visible, on every system alike.
    QTest::newRow("facility byte no GBK character")
        << "mouse" << -1 << 'H' << QByteArray("1234567890") << '\x81' << usual << QByteArray("V")
        << 3 << 0 << "1234567890"
        << "\uFFFD" << usualShown << "V"
        << "3";
    QTest::newRow("facility 0x80 no character either")
        << "mouse" << -1 << 'H' << QByteArray("1234567890") << '\x80' << usual << QByteArray("V")
        << 3 << 0 << "1234567890"
        << "\uFFFD" << usualShown << "V"
        << "3";
    QTest::newRow("address ending in a lead byte")
        << "mouse" << -1 << 'H' << QByteArray("123456789\xCB") << '1' << usual << QByteArray("V")
        << 3 << 0 << "123456789\uFFFD"
        << "1" << usualShown << "V"
        << "3";
    // The zero byte ends the address: the "000000" after it is not its 5th to 10th characters.
    QTest::newRow("zero bytes before six zeros")
        << "mouse" << -1 << 'H'
        << QByteArray("12\0\0"
                      "000000",
                      10)
        << '1' << usual << QByteArray("V") << 3 << 0 << "12"
        << "1" << usualShown << "V"
        << "3";
    QTest::newRow("after the user picked help station")
        << "mouse" << 1 << 'H' << QByteArray("1234567890") << '1' << usual << QByteArray("V") << 3
        << 0 << "1234567890"
        << "1" << usualShown << "V"
        << "3";
    QTest::newRow("after the user picked villa camera")
        << "mouse" << 2 << 'P' << QByteArray("5678000000") << '1' << usual << QByteArray("V") << 3
        << 1 << "5678"
        << "1" << usualShown << "V"
        << "3";
}

void Unit1Test::panelDetails() {
    QFETCH(QString, how);
    QFETCH(int, pickedBefore);
    QFETCH(char, type);
    QFETCH(QByteArray, address);
    QFETCH(char, facility);
    QFETCH(QList<int>, bytes);
    QFETCH(QByteArray, version);
    QFETCH(int, unlock);
    QFETCH(int, comboIndex);
    QFETCH(QString, edit1);
    QFETCH(QString, edit6);
    QFETCH(QStringList, shown);
    QFETCH(QString, edit27);
    QFETCH(QString, edit28);

    Show(false);
    if (pickedBefore >= 0) Pick(pickedBefore);
    const int maxLength = Form->Edit1->MaxLength();
    const bool facilityEnabled = Form->Edit6->isEnabled();

    // Line 1 is the panel under test; the lines around it hold other panels.
    Form->ApplyPanel(Filler(0));
    Form->ApplyPanel(Record(type, address, facility, bytes, version, unlock));
    Form->ApplyPanel(Filler(2));
    if (how == "mouse") {
        SelectByMouse(1);
    } else {
        SelectByMouse(0);
        QCOMPARE(Form->Edit1->text(), QString("1234567000"));
        QTest::keyClick(Form->ListBox1, Qt::Key_Down);
    }
    QCOMPARE(Form->SelectedIndex(), 1);

    QCOMPARE(Form->ComboBox1->currentIndex(), comboIndex);
    QCOMPARE(Form->Edit1->text(), edit1);
    QCOMPARE(Form->Edit6->text(), edit6);
    const QStringList boxes = {"Edit3",  "Edit4",  "Edit5",  "Edit7",  "Edit8",  "Edit9",  "Edit10",
                               "Edit13", "Edit14", "Edit15", "Edit16", "Edit18", "Edit19", "Edit20",
                               "Edit21", "Edit23", "Edit24", "Edit25", "Edit26"};
    QStringList texts;
    for (const QString& name : boxes)
        texts << Control<TEdit>(name)->text();
    QCOMPARE(texts, shown);
    QCOMPARE(Form->Edit27->text(), edit27);
    QCOMPARE(Form->Edit28->text(), edit28);
    // Showing a panel never applies the device type's rules.
    QCOMPARE(Form->Edit1->MaxLength(), maxLength);
    QCOMPARE(Form->Edit6->isEnabled(), facilityEnabled);
    QVERIFY(Boxes.empty());
}

void Unit1Test::noSelectionChangesNothing() {
    Show(false);
    Form->ApplyPanel(Filler(0));
    Form->Edit1->setText("keep");
    Form->Edit28->setText("9");
    Form->ListBox1Click();
    QCOMPARE(Form->Edit1->text(), QString("keep"));
    QCOMPARE(Form->Edit28->text(), QString("9"));
    QCOMPARE(Form->ComboBox1->currentIndex(), 0);
}

void Unit1Test::programSelectionRunsNothing() {
    Show(false);
    Form->ApplyPanel(Filler(0));
    Form->ApplyPanel(Filler(1));
    SelectByMouse(1);
    QCOMPARE(Form->Edit1->text(), QString("1234567001"));
    Form->Edit1->setText("typed");
    // A press below the last line leaves the selection alone.
    QTest::mouseClick(Form->ListBox1->viewport(), Qt::LeftButton, {},
                      QPoint(20, Form->ListBox1->viewport()->height() - 5));
    QCOMPARE(Form->SelectedIndex(), 1);
    QCOMPARE(Form->Edit1->text(), QString("typed"));
    // The program's own changes of the list (clear, append, select) show nothing.
    Form->ListBox1->setCurrentRow(0);
    QCOMPARE(Form->Edit1->text(), QString("typed"));
    Form->ListBox1->clear();
    Form->Directory.Count = 0;
    Form->ApplyPanel(Filler(5));
    QCOMPARE(Form->Edit1->text(), QString("typed"));
    // A click on the selected line shows its panel again.
    SelectByMouse(0);
    QCOMPARE(Form->Edit1->text(), QString("1234567005"));
    Form->Edit1->setText("typed");
    SelectByMouse(0);
    QCOMPARE(Form->Edit1->text(), QString("1234567005"));
}

void Unit1Test::deviceType_data() {
    QTest::addColumn<QString>("edit1");
    QTest::addColumn<QString>("edit6");
    QTest::addColumn<QList<int>>("picks");
    QTest::addColumn<int>("maxLength");
    QTest::addColumn<QString>("edit6After");
    QTest::addColumn<bool>("edit6Enabled");
    QTest::addColumn<QString>("typedIntoEmptyEdit1"); // what 12 typed digits leave

    QTest::newRow("flat") << ""
                          << "1" << QList<int>{0} << 10 << "1" << true << "1234567890";
    QTest::newRow("help station") << ""
                                  << "1" << QList<int>{1} << 4 << "0" << false << "1234";
    QTest::newRow("villa") << ""
                           << "1" << QList<int>{2} << 4 << "1" << true << "1234";
    QTest::newRow("help then villa keeps 0")
        << ""
        << "1" << QList<int>{1, 2} << 4 << "0" << true << "1234";
    QTest::newRow("help then flat keeps 0")
        << ""
        << "" << QList<int>{1, 0} << 10 << "0" << true << "1234567890";
    QTest::newRow("villa keeps ten characters")
        << "1234567890"
        << "1" << QList<int>{2} << 4 << "1" << true << "1234";
}

void Unit1Test::deviceType() {
    QFETCH(QString, edit1);
    QFETCH(QString, edit6);
    QFETCH(QList<int>, picks);
    QFETCH(int, maxLength);
    QFETCH(QString, edit6After);
    QFETCH(bool, edit6Enabled);
    QFETCH(QString, typedIntoEmptyEdit1);

    Show(false);
    Form->Edit1->setText(edit1);
    Form->Edit6->setText(edit6);
    for (int index : picks)
        Pick(index);
    QCOMPARE(Form->Edit1->MaxLength(), maxLength);
    QCOMPARE(Form->Edit1->text(), edit1); // never cut
    QCOMPARE(Form->Edit6->text(), edit6After);
    QCOMPARE(Form->Edit6->isEnabled(), edit6Enabled);

    Form->Edit1->clear();
    QTest::keyClicks(Form->Edit1, "123456789012");
    QCOMPARE(Form->Edit1->text(), typedIntoEmptyEdit1);
}

void Unit1Test::searchAll_data() {
    QTest::addColumn<bool>("button3Before");
    QTest::addColumn<int>("panels");
    QTest::newRow("empty list") << true << 0;
    QTest::newRow("three panels, one selected") << true << 3;
    QTest::newRow("del all cards disabled stays disabled") << false << 3;
}

void Unit1Test::searchAll() {
    QFETCH(bool, button3Before);
    QFETCH(int, panels);

    Show(true);
    for (int n = 0; n < panels; ++n)
        Form->ApplyPanel(Filler(n));
    if (panels) SelectByMouse(1);
    Form->Edit1->setText("kept");
    Form->ApplyStatus("Success");
    Form->Button3->setEnabled(button3Before);
    Statuses.clear();
    std::chrono::steady_clock::time_point faultShown;
    connect(Form.get(), &TForm1::StatusChanged, this, [&](const QString& text) {
        if (text == "Read fault") faultShown = std::chrono::steady_clock::now();
    });

    QTest::mouseClick(Form->Button2, Qt::LeftButton);
    QCOMPARE(Form->ListBox1->count(), 0);
    QCOMPARE(Form->SelectedIndex(), -1);
    QCOMPARE(Form->Directory.Count, 0);
    QCOMPARE(Form->Label11->text(), QString());
    QVERIFY(!Form->Button1->isEnabled());
    QVERIFY(!Form->Button2->isEnabled());
    QCOMPARE(Form->Button3->isEnabled(), button3Before);
    QCOMPARE(Form->Edit1->text(), QString("kept")); // clearing the list shows nothing

    QTRY_COMPARE(Form->Label11->text(), QString("Read fault"));
    QVERIFY(Form->Button1->isEnabled());
    QVERIFY(Form->Button2->isEnabled());
    QVERIFY(Form->Button3->isEnabled());
    QCOMPARE(Statuses, (QStringList{"", "Read fault"}));

    const auto sent = Link->Taken();
    QCOMPARE(sent.size(), size_t(1));
    QCOMPARE(sent[0].Address, std::string("255.255.255.255"));
    QCOMPARE(sent[0].Port, 8300);
    QCOMPARE(sent[0].Bytes.size(), SearchRequestLength);
    QCOMPARE(sent[0].Bytes.left(6), QByteArray("XXXCID"));
    QCOMPARE(uint8_t(sent[0].Bytes[6]), CMD_SEARCH);
    QCOMPARE(uint8_t(sent[0].Bytes[7]), STAGE_REQUEST);
    QVERIFY(Boxes.empty());
    // Given up 100 ms after the transmission; the upper bound holds on a loaded machine too.
    const auto after =
        std::chrono::duration_cast<std::chrono::milliseconds>(faultShown - sent[0].At);
    QVERIFY2(after.count() >= 100 && after.count() < 1000,
             qPrintable(QString("\"Read fault\" %1 ms after the transmission").arg(after.count())));
}

void Unit1Test::deleteCards_data() {
    QTest::addColumn<int>("selected"); // -1: no line selected
    QTest::addColumn<bool>("searchFirst");
    QTest::newRow("panel selected") << 1 << false;
    QTest::newRow("first panel selected") << 0 << false;
    QTest::newRow("no line selected") << -1 << false;
    QTest::newRow("selection gone after a search") << 1 << true;
}

void Unit1Test::deleteCards() {
    QFETCH(int, selected);
    QFETCH(bool, searchFirst);

    Show(true);
    for (int n = 0; n < 3; ++n)
        Form->ApplyPanel(Filler(n));
    if (selected >= 0) SelectByMouse(selected);
    size_t before = 0;
    if (searchFirst) {
        QTest::mouseClick(Form->Button2, Qt::LeftButton);
        QTRY_COMPARE(Form->Label11->text(), QString("Read fault"));
        before = 1;
    }
    Form->ApplyStatus("Success");
    Statuses.clear();

    QTest::mouseClick(Form->Button3, Qt::LeftButton);
    if (selected < 0 || searchFirst) {
        QCOMPARE(Boxes.size(), size_t(1));
        QCOMPARE(Boxes[0].Text, QString("Pls select a camera ！"));
        QCOMPARE(Boxes[0].Title, QString("Fault"));
        QCOMPARE(Boxes[0].Flags, 16);
        QCOMPARE(Form->Label11->text(), QString("Success"));
        for (QPushButton* b : {Form->Button1, Form->Button2, Form->Button3})
            QVERIFY(b->isEnabled());
        QTest::qWait(300);
        QCOMPARE(Link->Taken().size(), before);
        QVERIFY(Statuses.isEmpty());
        return;
    }

    QVERIFY(Boxes.empty());
    QCOMPARE(Form->Label11->text(), QString());
    for (QPushButton* b : {Form->Button1, Form->Button2, Form->Button3})
        QVERIFY(!b->isEnabled());
    QTRY_COMPARE(Form->Label11->text(), QString("Write fault"));
    for (QPushButton* b : {Form->Button1, Form->Button2, Form->Button3})
        QVERIFY(b->isEnabled());
    QCOMPARE(Statuses, (QStringList{"", "Write fault"}));

    const auto sent = Link->Taken();
    QCOMPARE(sent.size(), size_t(1));
    QCOMPARE(sent[0].Address, std::string("255.255.255.255"));
    QCOMPARE(sent[0].Port, 8300);
    QCOMPARE(sent[0].Bytes.size(), DeleteCardsRequestLength);
    QCOMPARE(sent[0].Bytes.left(6), QByteArray("XXXCID"));
    QCOMPARE(uint8_t(sent[0].Bytes[6]), CMD_DELETE_CARDS);
    QCOMPARE(uint8_t(sent[0].Bytes[7]), STAGE_REQUEST);
    const QByteArray identity = QByteArray("H") + QByteArray::number(1234567000 + selected) + "1";
    QCOMPARE(sent[0].Bytes.mid(DeleteCardsRequest::IdentityAt, 12), identity);
}

void Unit1Test::messageBoxes_data() {
    QTest::addColumn<int>("flags");
    QTest::addColumn<int>("icon"); // QMessageBox::Icon
    QTest::newRow("16: error") << 16 << int(QMessageBox::Critical);
    QTest::newRow("64: information") << 64 << int(QMessageBox::Information);
    QTest::newRow("0: none") << 0 << int(QMessageBox::NoIcon);
}

// The box itself, not the hook: shown for real and closed with its OK button.
void Unit1Test::messageBoxes() {
    QFETCH(int, flags);
    QFETCH(int, icon);
    Dialogs::SetHook(nullptr);
    Show(false);
    struct Seen {
        bool Found = false;
        int Icon = -1;
        QString Title, Text;
        QList<QAbstractButton*> Buttons;
        QMessageBox::StandardButtons Standard;
        bool Modal = false;
    } seen;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || seen.Found) return;
        seen = {true,           int(box->icon()),       box->windowTitle(), box->text(),
                box->buttons(), box->standardButtons(), box->isModal()};
        box->button(QMessageBox::Ok)->click();
    });
    poll.start(20);
    Dialogs::MessageBox(Form.get(), "Pls select a pannel ！", "Fault", flags);
    poll.stop();
    CatchBoxes(Boxes);

    QVERIFY(seen.Found);
    QCOMPARE(seen.Icon, icon);
    QCOMPARE(seen.Title, QString("Fault"));
    QCOMPARE(seen.Text, QString("Pls select a pannel ！"));
    QCOMPARE(seen.Buttons.size(), 1);
    QCOMPARE(seen.Standard, QMessageBox::StandardButtons(QMessageBox::Ok));
    QVERIFY(seen.Modal);
}

void Unit1Test::closeWhileCommandPending() {
    Show(true);
    QTest::mouseClick(Form->Button2, Qt::LeftButton);
    Form->close();
    QVERIFY(!Form->isVisible());
    const qsizetype seen = Statuses.size();
    QTest::qWait(300);
    QCOMPARE(Statuses.size(), seen); // nothing reaches a closed window
    Form.reset();
    QVERIFY(Link->Taken().size() <= 1);
}

void Unit1Test::closeBeforeShownRunsNoCloseHandler() {
    // Had the close handler run, the threads it stops would not come back when shown.
    Form->close();
    Show(true);
    QTest::mouseClick(Form->Button2, Qt::LeftButton);
    QTRY_COMPARE(Form->Label11->text(), QString("Read fault"));
    QCOMPARE(Link->Count(), 1);
}

// The handlers on a face without widgets: what they tell the face, in order, and whether a
// command was queued.
void Unit1Test::decisionsWithoutWidgets_data() {
    QTest::addColumn<QString>("event");
    QTest::addColumn<int>("selected"); // the selected line, or the device type picked
    QTest::addColumn<QStringList>("calls");
    QTest::addColumn<bool>("queued");

    const QStringList off2 = {"enable Button1 0", "enable Button2 0"};
    const QStringList on3 = {"enable Button1 1", "enable Button2 1", "enable Button3 1"};
    QTest::newRow("shown without a link")
        << "show" << -1 << QStringList{"combo 0", "enable Button1 1", "status "} << false;
    QTest::newRow("Flat Camera") << "pick" << 0 << QStringList{"limit Edit1 10", "enable Edit6 1"}
                                 << false;
    QTest::newRow("Help Station") << "pick" << 1
                                  << QStringList{"limit Edit1 4", "text Edit6=0", "enable Edit6 0"}
                                  << false;
    QTest::newRow("Villa Camera") << "pick" << 2 << QStringList{"limit Edit1 4", "enable Edit6 1"}
                                  << false;
    QTest::newRow("Del all cards, no line selected")
        << "delete" << -1 << QStringList{"box Pls select a camera ！|Fault|16"} << false;
    QTest::newRow("Del all cards")
        << "delete" << 1 << (QStringList{"status "} + off2 + QStringList{"enable Button3 0"})
        << true;
    QTest::newRow("Search all") << "search" << 1 << (QStringList{"clear", "status "} + off2)
                                << true;
    QTest::newRow("a fault from the threads")
        << "fault" << -1 << (QStringList{"status Read fault"} + on3) << false;
    QTest::newRow("a failure escaping a handler: the display without a message")
        << "failure" << -1 << QStringList{"error "} << false;
    QTest::newRow("a line with nothing selected shows nothing")
        << "click" << -1 << QStringList{} << false;
}

void Unit1Test::decisionsWithoutWidgets() {
    QFETCH(QString, event);
    QFETCH(int, selected);
    QFETCH(QStringList, calls);
    QFETCH(bool, queued);

    RecordingView view;
    Form1Logic logic(view);
    logic.ApplyPanel(Record('H', "0102030405", '1', {0, 0x50, 0x2A, 1, 2, 3}, "V1", 5));
    logic.ApplyPanel(Record('H', "0102030406", '1', {0, 0x50, 0x2A, 1, 2, 4}, "V1", 5));
    view.Calls.clear();
    view.Selected = selected;

    if (event == "show") {
        logic.Shown();
        logic.Shown(); // shown again: FormShow ran once
    } else if (event == "pick") {
        view.Combo = selected;
        logic.ComboBox1Change();
    } else if (event == "delete") {
        logic.Button3Click();
    } else if (event == "search") {
        logic.Button2Click();
        QVERIFY(view.Lines.empty());
        QCOMPARE(logic.Directory.Count, 0);
    } else if (event == "fault") {
        logic.Mailbox.PostStatus(StatusText::ReadFault, false);
        logic.Mailbox.PostEnableButtons(false);
        QVERIFY(view.Calls.empty()); // nothing reaches the face before the window thread drains
        logic.DrainMailbox();
    } else if (event == "click") {
        logic.Run([&] { logic.ListBox1Click(); });
    } else if (event == "failure") {
        logic.Run([] { throw std::runtime_error("lost"); });
    }
    QStringList seen;
    for (const std::string& call : view.Calls)
        seen << QString::fromStdString(call);
    QCOMPARE(seen, calls);
    QCOMPARE(logic.Queue.ActiveSlots(), queued ? 1 : 0);
}

// The desktop's factor as both faces round it; Qt's rounding policy Round gives the same.
void Unit1Test::wholeScaleFactor_data() {
    QTest::addColumn<double>("desktop");
    QTest::addColumn<int>("factor");
    QTest::newRow("100 %") << 1.0 << 1;
    QTest::newRow("125 %") << 1.25 << 1;
    QTest::newRow("149 %") << 1.49 << 1;
    QTest::newRow("150 %") << 1.5 << 2;
    QTest::newRow("175 %") << 1.75 << 2;
    QTest::newRow("200 %") << 2.0 << 2;
    QTest::newRow("249 %") << 2.49 << 2;
    QTest::newRow("250 %") << 2.5 << 3;
    QTest::newRow("below 100 %") << 0.75 << 1;
}

void Unit1Test::wholeScaleFactor() {
    QFETCH(double, desktop);
    QFETCH(int, factor);
    QCOMPARE(Form1Layout::WholeScaleFactor(desktop), factor);
    // Every place and size grows by the same whole factor: a field box stays on its frame.
    const ControlRect frame =
        Form1Layout::Scaled(Form1Layout::Entry(::Control::Edit11).Bounds, factor);
    const ControlRect field =
        Form1Layout::Scaled(Form1Layout::Entry(::Control::Edit7).Bounds, factor);
    QCOMPARE(field.X - frame.X, 5 * factor);
    QCOMPARE(field.Y - frame.Y, 3 * factor);
    QCOMPARE(field.Width, 22 * factor);
    QCOMPARE(Form1Layout::Scaled(Form1Layout::ClientWidth, factor), 861 * factor);
}

QTEST_MAIN(Unit1Test)
#include "Unit1Test.moc"
