// On the X display DISPLAY names, for the display tests; exit 1 on bad input or a region off the screen.
//   thraskvell-xprobe X,Y[,W,H]     prints "R G B SUM": the region's brightest pixel and a checksum
//   thraskvell-xprobe close WINDOW  asks a window to close as a window manager's close button does
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    Display* display = XOpenDisplay(nullptr);
    int x = 0, y = 0, w = 1, h = 1,
        fields = argc == 2 ? std::sscanf(argv[1], "%d,%d,%d,%d", &x, &y, &w, &h) : 0;
    if (display && argc == 3 && std::strcmp(argv[1], "close") == 0) {
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = std::strtoul(argv[2], nullptr, 0);
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        const bool sent =
            XSendEvent(display, event.xclient.window, False, NoEventMask, &event) && XSync(display, False);
        return XCloseDisplay(display), sent ? 0 : 1;
    }
    XImage* image = display && (fields == 2 || fields == 4)
                        ? XGetImage(display, DefaultRootWindow(display), x, y, w, h, AllPlanes, ZPixmap)
                        : nullptr;
    if (!image) return std::fprintf(stderr, "usage: thraskvell-xprobe X,Y[,W,H] | close WINDOW\n"), 1;
    std::uint32_t best = 0, sum = 0;
    const auto brightness = [](std::uint32_t c) { return (c >> 16 & 0xff) + (c >> 8 & 0xff) + (c & 0xff); };
    for (int py = 0; py < h; ++py)
        for (int px = 0; px < w; ++px) {
            const auto c = static_cast<std::uint32_t>(XGetPixel(image, px, py) & 0xffffff);
            best = brightness(c) > brightness(best) ? c : best;
            sum = sum * 31u + c;
        }
    XDestroyImage(image);
    XCloseDisplay(display);
    return std::printf("%u %u %u %u\n", best >> 16 & 0xff, best >> 8 & 0xff, best & 0xff, sum) < 0;
}
