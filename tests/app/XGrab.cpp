// Saves what a window shows as a PNG picture, for the README's screenshots:
//   app-xgrab WINDOW_ID FILE.png
// Prints the picture's size. Reads the window's pixels from the X server (24 or 32 bits deep).

// Qt before Xlib, whose macros (Status, Bool, ...) clash with Qt's names.
#include <QImage>
#include <cstdio>
#include <cstdlib>

#include <X11/Xlib.h>
#include <X11/Xutil.h>

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s WINDOW_ID FILE.png\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open display\n");
        return 1;
    }
    const Window window = std::strtoul(argv[1], nullptr, 0);
    XWindowAttributes attributes{};
    if (!XGetWindowAttributes(display, window, &attributes)) {
        std::fprintf(stderr, "no window %s\n", argv[1]);
        return 1;
    }
    XImage* pixels = XGetImage(display, window, 0, 0, unsigned(attributes.width),
                               unsigned(attributes.height), AllPlanes, ZPixmap);
    if (!pixels || pixels->bits_per_pixel != 32) {
        std::fprintf(stderr, "cannot read the window's pixels\n");
        return 1;
    }
    QImage picture(attributes.width, attributes.height, QImage::Format_RGB32);
    for (int y = 0; y < attributes.height; ++y)
        for (int x = 0; x < attributes.width; ++x) {
            const unsigned long pixel = XGetPixel(pixels, x, y);
            picture.setPixel(x, y,
                             qRgb(int((pixel & pixels->red_mask) >> 16),
                                  int((pixel & pixels->green_mask) >> 8),
                                  int(pixel & pixels->blue_mask)));
        }
    XDestroyImage(pixels);
    XCloseDisplay(display);
    if (!picture.save(QString::fromLocal8Bit(argv[2]), "PNG")) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    std::printf("%dx%d\n", picture.width(), picture.height());
    return 0;
}
