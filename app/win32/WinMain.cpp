// callpanel-tool.exe: the window on Windows, started in the order the Linux program keeps:
// window created hidden, endpoint opened, then the window shown.

#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <memory>

#include "../../ui/win32/Unit1Win32.h"
#include "../EndpointSetup.h"
#include "Udpr.h"
#include "WideText.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES | ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);

    auto form = std::make_unique<TForm1>();
    if (!form->Create(instance)) return 0;
    std::unique_ptr<TUDPR> endpoint(Startup::OpenEndpoint(form->Logic));
    if (!endpoint) {
        // Started from a console or with its output redirected, the line reaches it; started
        // from Explorer, the standard error leads nowhere and the box alone speaks.
        std::fputs(Startup::OpenFailedLine, stderr);
        std::fflush(stderr);
        MessageBoxW(nullptr, Wide(Startup::OpenFailedText).c_str(),
                    Wide(Startup::OpenFailedTitle).c_str(), MB_OK);
        return 0;
    }
    form->Show();
    form->Run();
    // The close handler has stopped the sender and receiver threads: the window goes first,
    // then the endpoint they used.
    form.reset();
    return 0;
}
