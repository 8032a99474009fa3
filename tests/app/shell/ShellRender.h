// Offscreen rendering of the shell's views for pixel probes: an ARGB32 image at scale 1 whose
// pixels read back as 0–255 components.
#pragma once

#include "ui/Canvas.h"

#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <functional>

namespace thraskvell::test {

struct Rgb {
    int r = 0, g = 0, b = 0;
};

class Offscreen {
public:
    Offscreen(int width, int height)
        : surface_(cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height)) {}

    void draw(const std::function<void(cairo_t*)>& paint) {
        cairo_t* cr = cairo_create(surface_.get());
        paint(cr);
        cairo_destroy(cr);
        cairo_surface_flush(surface_.get());
    }

    // Un-premultiplied colour of the pixel containing the logical point (x, y).
    Rgb at(double x, double y) const {
        const int px = static_cast<int>(std::floor(x)), py = static_cast<int>(std::floor(y));
        const unsigned char* data = cairo_image_surface_get_data(surface_.get());
        const int stride = cairo_image_surface_get_stride(surface_.get());
        std::uint32_t pixel = 0;
        std::memcpy(&pixel, data + py * stride + px * 4, 4);
        const int a = static_cast<int>(pixel >> 24);
        if (a == 0) return {};
        const auto channel = [&](int shift) { return static_cast<int>((pixel >> shift) & 0xff) * 255 / a; };
        return {channel(16), channel(8), channel(0)};
    }

private:
    ui::SurfacePtr surface_;
};

// The header's gold: red well above the dark backdrop and panels.
inline bool isGold(const Rgb& c) {
    return c.r > 150 && c.g > 100;
}
inline bool isDark(const Rgb& c) {
    return c.r < 70 && c.g < 50;
}

} // namespace thraskvell::test
