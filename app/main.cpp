#include <cstdio>

#include "DesktopCheck.h"
#include "Startup.h"

int main(int argc, char** argv) {
    // Without a desktop Qt would abort with a core dump and a page about platform plugins, so
    // the program says plainly what it needs instead.
    if (!HasDesktop()) {
        std::fputs("callpanel-tool: this program needs a graphical desktop (X11 or Wayland), and "
                   "neither DISPLAY nor WAYLAND_DISPLAY is set; start it from a desktop session, "
                   "or use callpanel on the command line\n",
                   stderr);
        return 1;
    }
    PickPlatform();
    return Startup::Run(argc, argv);
}
