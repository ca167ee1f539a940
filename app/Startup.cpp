#include "Startup.h"

#include <QApplication>
#include <QByteArray>
#include <QGuiApplication>
#include <QString>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

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
        // An exception left the event loop, so the threads may still run. A window that is shown
        // is closed the regular way, and the endpoint is closed in case the window never got as
        // far as opening it.
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
        std::fputs(Startup::OpenFailedLine, stderr);
        std::fflush(stderr);
        Dialogs::MessageBox(nullptr, QString::fromUtf8(Startup::OpenFailedText),
                            QString::fromUtf8(Startup::OpenFailedTitle), Dialogs::IconNone);
        return;
    }

    session.Window->show();
    QApplication::exec();
    session.LoopEnded = true;
}

// Qt ends a platform that cannot start (no X server behind DISPLAY, a Wayland socket that is
// gone, the wayland plugin not installed) with qFatal, which aborts with a core dump. Its own
// warnings, printed before, name the cause; this adds what to do and exits with 1.
QtMessageHandler PreviousHandler = nullptr;

const char* EnvOrNone(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr && *value != '\0' ? value : "(not set)";
}

void PlatformFailure(QtMsgType type, const QMessageLogContext& context, const QString& text) {
    if (type != QtFatalMsg) {
        if (PreviousHandler != nullptr) PreviousHandler(type, context, text);
        return;
    }
    const char* platform = std::getenv("QT_QPA_PLATFORM");
    const bool wayland = platform != nullptr && std::string_view(platform).find("wayland") == 0;
    std::fprintf(stderr,
                 "callpanel-tool: no usable display: the window cannot be opened "
                 "(DISPLAY %s, WAYLAND_DISPLAY %s)%s\n",
                 EnvOrNone("DISPLAY"), EnvOrNone("WAYLAND_DISPLAY"),
                 wayland ? "; on a Wayland desktop without XWayland install the package "
                           "qt6-wayland"
                         : "");
    std::fflush(stderr);
    std::_Exit(1);
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
        PreviousHandler = qInstallMessageHandler(PlatformFailure);
        application = std::make_unique<QApplication>(toolkitArgc, toolkitArgv);
        qInstallMessageHandler(PreviousHandler);
        RunWindow();
    } catch (...) {
        ShowFailure(QString());
    }
    return 0;
}

} // namespace Startup
