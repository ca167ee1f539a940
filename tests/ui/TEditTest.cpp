#include <QAction>
#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QInputMethodEvent>
#include <QMenu>
#include <QMimeData>
#include <QTest>

#include "TEdit.h"

// The typing limit of the edit box, on every way the user can put text into it.
class TEditTest : public QObject {
    Q_OBJECT
  private slots:
    void userInput_data();
    void userInput();
    void programTextIsNeverCut();
    void limitChangeKeepsText();
    void contextMenuPasteKeepsLimit();

  private:
    static QMenu* OpenContextMenu(TEdit& edit);
};

void TEditTest::userInput_data() {
    QTest::addColumn<int>("limit");
    QTest::addColumn<QString>("initial");
    QTest::addColumn<int>("selectFrom"); // -1: cursor at the end, nothing selected
    QTest::addColumn<int>("selectLength");
    QTest::addColumn<QString>("action");
    QTest::addColumn<QString>("input");
    QTest::addColumn<QString>("expected");

    QTest::newRow("typed within limit") << 3 << "" << -1 << 0 << "type"
                                        << "12"
                                        << "12";
    QTest::newRow("fourth typed refused") << 3 << "" << -1 << 0 << "type"
                                          << "1234"
                                          << "123";
    QTest::newRow("typed over selection") << 3 << "123" << 0 << 3 << "type"
                                          << "9"
                                          << "9";
    QTest::newRow("typed replaces part") << 2 << "AB" << 1 << 1 << "type"
                                         << "CD"
                                         << "AC";
    QTest::newRow("no limit") << 0 << "" << -1 << 0 << "type"
                              << "123456789012"
                              << "123456789012";
    QTest::newRow("over limit refuses growth") << 1 << "ABCDEFGHIJKLMNOP" << -1 << 0 << "type"
                                               << "x"
                                               << "ABCDEFGHIJKLMNOP";
    QTest::newRow("over limit allows backspace") << 1 << "ABCD" << -1 << 0 << "backspace"
                                                 << ""
                                                 << "ABC";
    QTest::newRow("over limit allows delete") << 1 << "ABCD" << 0 << 2 << "delete"
                                              << ""
                                              << "CD";
    QTest::newRow("paste cut to room") << 3 << "1" << -1 << 0 << "paste"
                                       << "2345"
                                       << "123";
    QTest::newRow("paste without room") << 2 << "AB" << -1 << 0 << "paste"
                                        << "C"
                                        << "AB";
    QTest::newRow("paste without room keeps selection") << 1 << "ABCD" << 0 << 1 << "paste"
                                                        << "XY"
                                                        << "ABCD";
    QTest::newRow("paste of lines keeps the first") << 8 << "1" << -1 << 0 << "paste"
                                                    << "23\r\n45"
                                                    << "123";
    QTest::newRow("paste over selection") << 2 << "AB" << 0 << 1 << "paste"
                                          << "XYZ"
                                          << "XB";
    QTest::newRow("input method cut") << 3 << "12" << -1 << 0 << "ime"
                                      << "345"
                                      << "123";
    QTest::newRow("input method no room") << 1 << "1" << -1 << 0 << "ime"
                                          << "2"
                                          << "1";
    QTest::newRow("input method fits") << 4 << "12" << -1 << 0 << "ime"
                                       << "34"
                                       << "1234";
    QTest::newRow("drop too long refused") << 3 << "12" << -1 << 0 << "drop"
                                           << "345"
                                           << "12";
    QTest::newRow("drop that fits") << 3 << "12" << -1 << 0 << "drop"
                                    << "3"
                                    << "123";
    // The limit counts GBK bytes: a Chinese character takes two.
    QTest::newRow("paste cut to whole characters") << 4 << "1" << -1 << 0 << "paste"
                                                   << "中文"
                                                   << "1中";
    QTest::newRow("drop of two bytes too many") << 3 << "12" << -1 << 0 << "drop"
                                                << "中"
                                                << "12";
    QTest::newRow("input method over a selection") << 4 << "中文" << 0 << 1 << "ime"
                                                   << "12中"
                                                   << "12文";
}

void TEditTest::userInput() {
    QFETCH(int, limit);
    QFETCH(QString, initial);
    QFETCH(int, selectFrom);
    QFETCH(int, selectLength);
    QFETCH(QString, action);
    QFETCH(QString, input);
    QFETCH(QString, expected);

    TEdit edit;
    edit.resize(200, 22);
    edit.SetMaxLength(limit);
    edit.setText(initial);
    QCOMPARE(edit.text(), initial);
    if (selectFrom >= 0) edit.setSelection(selectFrom, selectLength);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));

    if (action == "type") {
        QTest::keyClicks(&edit, input);
    } else if (action == "backspace") {
        QTest::keyClick(&edit, Qt::Key_Backspace);
    } else if (action == "delete") {
        QTest::keyClick(&edit, Qt::Key_Delete);
    } else if (action == "paste") {
        QGuiApplication::clipboard()->setText(input);
        QTest::keySequence(&edit, QKeySequence::Paste);
    } else if (action == "ime") {
        QInputMethodEvent event;
        event.setCommitString(input);
        QApplication::sendEvent(&edit, &event);
    } else if (action == "drop") {
        auto* mime = new QMimeData;
        mime->setText(input);
        const QPointF at(edit.width() - 2, edit.height() / 2);
        QDragEnterEvent enter(at.toPoint(), Qt::CopyAction, mime, Qt::LeftButton, {});
        QApplication::sendEvent(&edit, &enter);
        QDropEvent drop(at, Qt::CopyAction, mime, Qt::LeftButton, {});
        QApplication::sendEvent(&edit, &drop);
        delete mime;
    }
    QCOMPARE(edit.text(), expected);
}

void TEditTest::programTextIsNeverCut() {
    TEdit edit;
    edit.SetMaxLength(1);
    edit.setText("ABCDEFGHIJKLMNOP");
    QCOMPARE(edit.text(), QString("ABCDEFGHIJKLMNOP"));
    edit.insert("Q"); // the program's insert is not the user's typing either
    QCOMPARE(edit.text().size(), 17);
}

void TEditTest::limitChangeKeepsText() {
    TEdit edit;
    edit.SetMaxLength(10);
    QTest::keyClicks(&edit, "1234567890");
    QCOMPARE(edit.text(), QString("1234567890"));
    edit.SetMaxLength(4);
    QCOMPARE(edit.text(), QString("1234567890"));
    QTest::keyClicks(&edit, "1");
    QCOMPARE(edit.text(), QString("1234567890"));
    edit.selectAll();
    QTest::keyClicks(&edit, "98765");
    QCOMPARE(edit.text(), QString("9876"));
}

QMenu* TEditTest::OpenContextMenu(TEdit& edit) {
    QContextMenuEvent event(QContextMenuEvent::Mouse, QPoint(5, 5), edit.mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(&edit, &event);
    return qobject_cast<QMenu*>(QApplication::activePopupWidget());
}

void TEditTest::contextMenuPasteKeepsLimit() {
    TEdit edit;
    edit.SetMaxLength(3);
    edit.show();
    QVERIFY(QTest::qWaitForWindowExposed(&edit));
    QTest::keyClicks(&edit, "1");
    QGuiApplication::clipboard()->setText("23456");

    QMenu* menu = nullptr;
    QTRY_VERIFY((menu = OpenContextMenu(edit)) != nullptr);
    QAction* paste = menu->findChild<QAction*>("edit-paste");
    if (!paste) {
        for (QAction* action : menu->actions())
            if (action->text().contains("Paste")) paste = action;
    }
    QVERIFY(paste);
    paste->trigger();
    menu->close();
    QCOMPARE(edit.text(), QString("123"));
}

QTEST_MAIN(TEditTest)
#include "TEditTest.moc"
