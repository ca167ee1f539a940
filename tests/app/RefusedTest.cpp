// The whole program when port 8300 is taken: one box, no window, exit code 0, and one English
// line on the standard error that names the port and how to find its holder.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>

#include <QApplication>
#include <QTemporaryFile>
#include <QTest>
#include <QWidget>

#include "Dialogs.h"
#include "Startup.h"
#include "Unit1.h"

namespace {

struct Box {
    QString Text;
    QString Title;
    int Flags;
    int VisibleWindows;
};

int VisibleTopLevels() {
    int visible = 0;
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->isVisible()) ++visible;
    return visible;
}

} // namespace

class RefusedTest : public QObject {
    Q_OBJECT
  private slots:
    void portTaken_data();
    void portTaken();
};

void RefusedTest::portTaken_data() {
    QTest::addColumn<QString>("heldOn");
    QTest::newRow("held on every address") << QStringLiteral("0.0.0.0");
    QTest::newRow("held on loopback only") << QStringLiteral("127.0.0.1");
}

void RefusedTest::portTaken() {
    QFETCH(QString, heldOn);

    const int holder = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    local.sin_family = AF_INET;
    local.sin_port = htons(Startup::Port);
    inet_pton(AF_INET, heldOn.toLatin1().constData(), &local.sin_addr);
    QCOMPARE(bind(holder, reinterpret_cast<const sockaddr*>(&local), sizeof local), 0);

    QList<Box> boxes;
    Dialogs::SetHook([&boxes](const QString& text, const QString& title, int flags) {
        boxes.append({text, title, flags, VisibleTopLevels()});
    });
    char name[] = "callpanel-tool";
    char* argv[] = {name, nullptr};
    // The program's standard error, caught in a file while it runs.
    QTemporaryFile caught;
    QVERIFY(caught.open());
    std::fflush(stderr);
    const int savedError = dup(STDERR_FILENO);
    dup2(caught.handle(), STDERR_FILENO);
    const int code = Startup::Run(1, argv);
    std::fflush(stderr);
    dup2(savedError, STDERR_FILENO);
    close(savedError);
    Dialogs::SetHook(nullptr);
    close(holder);
    caught.seek(0);
    const QList<QByteArray> lines = caught.readAll().split('\n');

    QCOMPARE(code, 0);
    QCOMPARE(boxes.size(), 1);
    QCOMPARE(boxes[0].Text,
             QStringLiteral("UDP 8300端口打开失败，TCP/IP协议没有安装或端口被其它程序占用"));
    QCOMPARE(boxes[0].Title, QStringLiteral("Error"));
    QCOMPARE(boxes[0].Flags, 0); // no icon
    QCOMPARE(boxes[0].VisibleWindows, 0);
    QCOMPARE(Form1, nullptr);
    // Qt may add warnings of its own; the program's line is there exactly once.
    QByteArrayList said;
    for (const QByteArray& line : lines)
        if (line.startsWith("callpanel-tool:")) said << line;
    QCOMPARE(said.size(), 1);
    QVERIFY2(said[0].contains("UDP port 8300 cannot be opened") &&
                 said[0].contains("ss -uanp 'sport = :8300'"),
             said[0].constData());
}

// The program makes its own application object, so none may exist before it runs.
QTEST_APPLESS_MAIN(RefusedTest)
#include "RefusedTest.moc"
