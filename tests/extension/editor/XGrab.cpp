// Test helper: saves an X screen as PNG and prints the colour of the pixels asked for.
// Usage: thraskvell-xgrab OUT.png [@X,Y,W,H] [X,Y | X,Y,W,H ...]   (DISPLAY selects the server)
// @X,Y,W,H saves only that part of the screen. X,Y prints "X,Y R G B" for one pixel; X,Y,W,H
// prints "X,Y,W,H R G B" for the brightest pixel of that region (text on a dark ground).
// Exit 1 when the display or the image cannot be had, or a position lies off the screen.
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <cairo.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s OUT.png [X,Y ...]\n", argv[0]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "cannot open the display\n");
        return 1;
    }
    const Window root = DefaultRootWindow(display);
    XWindowAttributes attributes{};
    XGetWindowAttributes(display, root, &attributes);
    XImage* image = XGetImage(display, root, 0, 0, static_cast<unsigned>(attributes.width),
                              static_cast<unsigned>(attributes.height), AllPlanes, ZPixmap);
    if (!image) {
        std::fprintf(stderr, "cannot read the screen\n");
        XCloseDisplay(display);
        return 1;
    }
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_RGB24, attributes.width, attributes.height);
    unsigned char* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    for (int y = 0; y < attributes.height; ++y)
        for (int x = 0; x < attributes.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            const std::uint32_t rgb = static_cast<std::uint32_t>(pixel & 0xffffff);
            std::memcpy(data + y * stride + x * 4, &rgb, 4);
        }
    cairo_surface_mark_dirty(surface);
    const auto inside = [&](int x, int y, int w, int h) {
        return x >= 0 && y >= 0 && w > 0 && h > 0 && x + w <= attributes.width && y + h <= attributes.height;
    };
    int status = 0;
    int first = 2;
    int cx = 0, cy = 0, cw = attributes.width, ch = attributes.height;
    if (argc > 2 && argv[2][0] == '@') {
        first = 3;
        if (std::sscanf(argv[2] + 1, "%d,%d,%d,%d", &cx, &cy, &cw, &ch) != 4 || !inside(cx, cy, cw, ch)) {
            std::fprintf(stderr, "bad crop %s\n", argv[2]);
            cx = 0, cy = 0, cw = attributes.width, ch = attributes.height;
            status = 1;
        }
    }
    cairo_surface_t* cropped = cairo_surface_create_for_rectangle(surface, cx, cy, cw, ch);
    if (cairo_surface_write_to_png(cropped, argv[1]) != CAIRO_STATUS_SUCCESS) status = 1;
    cairo_surface_destroy(cropped);
    const auto pixel = [&](int x, int y) {
        std::uint32_t rgb = 0;
        std::memcpy(&rgb, data + y * stride + x * 4, 4);
        return rgb;
    };
    for (int i = first; i < argc; ++i) {
        int x = 0, y = 0, w = 1, h = 1;
        const int fields = std::sscanf(argv[i], "%d,%d,%d,%d", &x, &y, &w, &h);
        if ((fields != 2 && fields != 4) || !inside(x, y, w, h)) {
            std::fprintf(stderr, "bad position %s\n", argv[i]);
            status = 1;
            continue;
        }
        std::uint32_t best = pixel(x, y);
        const auto brightness = [](std::uint32_t c) {
            return ((c >> 16) & 0xff) + ((c >> 8) & 0xff) + (c & 0xff);
        };
        for (int py = y; py < y + h; ++py)
            for (int px = x; px < x + w; ++px)
                if (brightness(pixel(px, py)) > brightness(best)) best = pixel(px, py);
        std::printf("%s %u %u %u\n", argv[i], (best >> 16) & 0xff, (best >> 8) & 0xff, best & 0xff);
    }
    cairo_surface_destroy(surface);
    XDestroyImage(image);
    XCloseDisplay(display);
    return status;
}
