// Ends a window's message loop from outside, as another program's WM_QUIT does: posts WM_QUIT
// to the thread of the window with the given title. Exit 1 when there is no such window.
#include <windows.h>

int main(int argc, char** argv) {
    if (argc != 2) return 2;
    HWND window = FindWindowA(nullptr, argv[1]);
    if (window == nullptr) return 1;
    return PostThreadMessageW(GetWindowThreadProcessId(window, nullptr), WM_QUIT, 0, 0) ? 0 : 1;
}
