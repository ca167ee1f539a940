// The least a Qt Widgets program does to show a window: the yardstick for the tool's start-up
// time and memory. Same size and title style, nothing else.
#include <QApplication>
#include <QWidget>

int main(int argc, char** argv) {
    QApplication application(argc, argv);
    QWidget window;
    window.setWindowTitle(QStringLiteral("Baseline window"));
    window.setFixedSize(861, 372);
    window.show();
    return QApplication::exec();
}
