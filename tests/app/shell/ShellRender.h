// Shared by the shell and editor tests, one file per program: offscreen pixels read back as
// un-premultiplied 0–255 components, the palette's gold and dark, and a pointer drag.
#pragma once

#include "ui/Canvas.h"

#include <cmath>
#include <cstring>
#include <vector>

// Pango hands fontconfig's results over from a thread of its own with synchronisation ThreadSanitizer
// cannot see in the uninstrumented libraries; races in our own code are still reported.
extern "C" const char* __tsan_default_suppressions() {
    return "race:libfontconfig.so\nrace:libpango-1.0.so\nrace:libpangoft2-1.0.so\nrace:libglib-2.0.so\n";
}

namespace thraskvell::test {

struct Rgb {
    int r = 0, g = 0, b = 0;
    friend bool operator==(const Rgb&, const Rgb&) = default;
};
inline Rgb pixelAt(cairo_surface_t* surface, double x, double y) { // the pixel holding device point (x, y)
    cairo_surface_flush(surface);
    std::uint32_t p = 0;
    std::memcpy(&p,
                cairo_image_surface_get_data(surface) +
                    int(std::floor(y)) * cairo_image_surface_get_stride(surface) + int(std::floor(x)) * 4,
                4);
    const int a = cairo_image_surface_get_format(surface) == CAIRO_FORMAT_RGB24 ? 255 : int(p >> 24);
    const auto channel = [&](int shift) { return a ? int((p >> shift) & 0xff) * 255 / a : 0; };
    return {channel(16), channel(8), channel(0)};
}
struct Offscreen {
    ui::SurfacePtr surface;
    Offscreen(int width, int height)
        : surface(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)) {}
    template <typename Paint> void draw(Paint&& paint) {
        cairo_t* cr = cairo_create(surface.get());
        paint(cr);
        cairo_destroy(cr);
    }
    Rgb at(double x, double y) const { return pixelAt(surface.get(), x, y); }
};
inline bool isGold(const Rgb& c) {
    return c.r > 150 && c.g > 100;
}

// A press at `from`, moves to `dys` points above it in turn, and the release where the last ended;
// `wrap` runs each event (the editor wraps them in its user-edit scope).
template <typename View, typename Wrap = void (*)(const std::function<void()>&)>
void drag(
    View& view, ui::Point from, const std::vector<double>& dys = {},
    Wrap wrap = [](const std::function<void()>& event) { event(); }) {
    ui::Point at = from;
    wrap([&] { view.pointerDown(from); });
    for (const double dy : dys)
        wrap([&] { view.pointerMove(at = {from.x, from.y - dy}); });
    wrap([&] { view.pointerUp(at); });
}

} // namespace thraskvell::test
