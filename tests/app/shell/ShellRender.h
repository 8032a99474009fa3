// Offscreen rendering of the shell's views for pixel probes: an ARGB32 image whose pixels read back
// as un-premultiplied 0–255 components.
#pragma once

#include "ui/Canvas.h"

#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <cstring>

namespace thraskvell::test {

struct Rgb {
    int r = 0, g = 0, b = 0;
};

// The pixel of `surface` containing the device point (x, y).
inline Rgb pixelAt(cairo_surface_t* surface, double x, double y) {
    cairo_surface_flush(surface);
    std::uint32_t pixel = 0;
    std::memcpy(&pixel,
                cairo_image_surface_get_data(surface) +
                    static_cast<int>(std::floor(y)) * cairo_image_surface_get_stride(surface) +
                    static_cast<int>(std::floor(x)) * 4,
                4);
    const int a =
        cairo_image_surface_get_format(surface) == CAIRO_FORMAT_RGB24 ? 255 : static_cast<int>(pixel >> 24);
    if (a == 0) return {};
    const auto channel = [&](int shift) { return static_cast<int>((pixel >> shift) & 0xff) * 255 / a; };
    return {channel(16), channel(8), channel(0)};
}

class Offscreen {
public:
    Offscreen(int width, int height)
        : surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)) {}
    template <typename Paint> void draw(Paint&& paint) {
        cairo_t* cr = cairo_create(surface_.get());
        paint(cr);
        cairo_destroy(cr);
    }
    Rgb at(double x, double y) const { return pixelAt(surface_.get(), x, y); }

private:
    ui::SurfacePtr surface_;
};

// The header's gold, and the dark backdrop and panels.
inline bool isGold(const Rgb& c) {
    return c.r > 150 && c.g > 100;
}
inline bool isDark(const Rgb& c) {
    return c.r < 70 && c.g < 50;
}

} // namespace thraskvell::test
