// Asks a window to close the way a window manager's close box does (WM_DELETE_WINDOW), which
// xdotool of this Debian release cannot do: its windowclose destroys the window instead.
//   app-xclose WINDOW_ID
#include "../support/CloseRequest.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s WINDOW_ID\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open display\n");
        return 1;
    }
    const Window window = std::strtoul(argv[1], nullptr, 0);
    const bool sent = SendCloseRequest(display, window);
    XSync(display, False);
    XCloseDisplay(display);
    return sent ? 0 : 1;
}
