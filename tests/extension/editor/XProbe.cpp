// Test helper on the X display DISPLAY names.
//   thraskvell-xprobe pixel X,Y[,W,H]   prints "R G B", of the brightest pixel when a region is given
//   thraskvell-xprobe sum X,Y,W,H       prints a checksum of the region, to see that it changed
//   thraskvell-xprobe close WINDOW      asks a window to close as a window manager's close button does
// Exit 1 without a display, on bad input, or for a region off the screen.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>

int main(int argc, char** argv) {
    Display* display = argc == 3 ? XOpenDisplay(nullptr) : nullptr;
    if (!display)
        return std::fprintf(stderr, "usage: thraskvell-xprobe pixel|sum|close ARG (with a display)\n"), 1;
    int status = 1;
    if (std::strcmp(argv[1], "close") == 0) {
        const Window window = std::strtoul(argv[2], nullptr, 0);
        XEvent event{};
        event.xclient.type = ClientMessage;
        event.xclient.window = window;
        event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
        event.xclient.format = 32;
        event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
        event.xclient.data.l[1] = CurrentTime;
        status = window != 0 && XSendEvent(display, window, False, NoEventMask, &event) ? 0 : 1;
        XSync(display, False);
    } else {
        int x = 0, y = 0, w = 1, h = 1;
        const int fields = std::sscanf(argv[2], "%d,%d,%d,%d", &x, &y, &w, &h);
        XImage* image = fields == 2 || fields == 4
                            ? XGetImage(display, DefaultRootWindow(display), x, y, static_cast<unsigned>(w),
                                        static_cast<unsigned>(h), AllPlanes, ZPixmap)
                            : nullptr;
        if (image) {
            std::uint32_t best = 0, sum = 0;
            const auto brightness = [](std::uint32_t c) {
                return (c >> 16 & 0xff) + (c >> 8 & 0xff) + (c & 0xff);
            };
            for (int py = 0; py < h; ++py)
                for (int px = 0; px < w; ++px) {
                    const auto c = static_cast<std::uint32_t>(XGetPixel(image, px, py) & 0xffffff);
                    if (brightness(c) > brightness(best)) best = c;
                    sum = sum * 31u + c;
                }
            if (std::strcmp(argv[1], "sum") == 0)
                std::printf("%u\n", sum);
            else
                std::printf("%u %u %u\n", best >> 16 & 0xff, best >> 8 & 0xff, best & 0xff);
            XDestroyImage(image);
            status = 0;
        }
    }
    XCloseDisplay(display);
    return status;
}
