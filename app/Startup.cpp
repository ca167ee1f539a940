#include "Startup.h"

#include <QApplication>
#include <QByteArray>
#include <QGuiApplication>
#include <QString>
#include <cstdio>
#include <memory>

#include "../ui/Dialogs.h"
#include "../ui/Unit1.h"

TForm1* Form1 = nullptr;

namespace {

// The window is laid out in whole pixels, by Form1Layout::WholeScaleFactor's rule: Qt's own
// rounding to the nearest whole factor, halves up, is that rule, so Qt applies it here. The
// variables that would impose a fractional factor are dropped.
void ScaleByWholeFactors() {
    qunsetenv("QT_ENABLE_HIGHDPI_SCALING");
    qunsetenv("QT_SCALE_FACTOR");
    qunsetenv("QT_SCREEN_SCALE_FACTORS");
    qunsetenv("QT_USE_PHYSICAL_DPI");
    qunsetenv("QT_FONT_DPI");
    qunsetenv("QT_SCALE_FACTOR_ROUNDING_POLICY");
    QGuiApplication::setHighDpiScaleFactorRoundingPolicy(
        Qt::HighDpiScaleFactorRoundingPolicy::Round);
}

// Owns the window and the endpoint. Taken down window first: its close handler has stopped the
// sender and receiver threads, so nothing is left that could reach the endpoint.
struct Session {
    std::unique_ptr<TUDPR> Endpoint;
    std::unique_ptr<TForm1> Window;
    bool LoopEnded = false;

    ~Session() {
        // Left by an exception: the threads may still run. A shown window is closed the
        // regular way; the endpoint is closed in case the window never got as far.
        if (Window && Endpoint && !LoopEnded) {
            if (Window->isVisible()) Window->close();
            Endpoint->Close();
        }
        Window.reset();
        Form1 = nullptr;
        Endpoint.reset();
    }
};

void RunWindow() {
    Session session;
    session.Window = std::make_unique<TForm1>();
    Form1 = session.Window.get();

    session.Endpoint.reset(Startup::OpenEndpoint(*session.Window));
    if (!session.Endpoint) {
        Dialogs::MessageBox(nullptr, QString::fromUtf8(Startup::OpenFailedText),
                            QString::fromUtf8(Startup::OpenFailedTitle), Dialogs::IconNone);
        return;
    }

    session.Window->show();
    QApplication::exec();
    session.LoopEnded = true;
}

void ShowFailure(const QString& message) {
    if (QApplication::instance()) {
        Dialogs::ShowException(nullptr, message);
    } else {
        // Without an application object there is nothing to show a box with.
        std::fprintf(stderr, "%s\n", message.toLocal8Bit().constData());
    }
}

} // namespace

namespace Startup {

TUDPR* OpenEndpoint(TForm1& form) {
    return OpenEndpoint(form.Logic);
}

int Run(int argc, char** argv) {
    ScaleByWholeFactors();
    // The tool takes no arguments: the toolkit sees the program's name only, so that none of
    // its own options (-platform, -stylesheet, -reverse, ...) can take effect.
    char fallbackName[] = "callpanel-tool";
    char* toolkitArgv[] = {argc > 0 && argv[0] ? argv[0] : fallbackName, nullptr};
    int toolkitArgc = 1; // the application keeps references to both until it is destroyed
    std::unique_ptr<QApplication> application;
    try {
        application = std::make_unique<QApplication>(toolkitArgc, toolkitArgv);
        RunWindow();
    } catch (...) {
        ShowFailure(QString());
    }
    return 0;
}

} // namespace Startup
