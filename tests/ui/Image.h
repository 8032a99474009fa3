// A headless drawing target for the control surface's tests: an image in device pixels whose user
// space is in points, the caches a view draws with, and its pixels read back (0…255 per channel).
#pragma once

#include "ui/Canvas.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>

namespace thraskvell::test {

struct Pixel {
    double r = 0, g = 0, b = 0;
};

class Image {
public:
    explicit Image(ui::Size size, double scale = 1.0)
        : scale_(scale),
          surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::lround(size.width * scale),
                                              std::lround(size.height * scale))),
          cr_(cairo_create(surface_.get()), cairo_destroy) {
        cairo_scale(cr_.get(), scale, scale);
    }

    cairo_t* cr() const { return cr_.get(); }
    ui::RenderContext context() { return {scale_, 0.0, &text_, &shadows_}; }

    // The mean colour of the device pixels whose centres lie in `r` (points).
    Pixel mean(const ui::Rect& r) const {
        cairo_surface_flush(surface_.get());
        Pixel sum;
        int count = 0;
        for (long y = std::lround(r.y * scale_); y < std::lround(r.maxY() * scale_); ++y)
            for (long x = std::lround(r.x * scale_); x < std::lround(r.maxX() * scale_); ++x, ++count)
                sum = {sum.r + channel(x, y, 2), sum.g + channel(x, y, 1), sum.b + channel(x, y, 0)};
        return {sum.r / count, sum.g / count, sum.b / count};
    }
    Pixel at(ui::Point p) const { return mean({p.x, p.y, 1.0 / scale_, 1.0 / scale_}); }

    // How many pixels differ from `other`'s (of the same size) by more than `tolerance` in a channel.
    int differences(const Image& other, int tolerance) const {
        cairo_surface_flush(surface_.get()), cairo_surface_flush(other.surface_.get());
        int count = 0;
        for (long y = 0; y < cairo_image_surface_get_height(surface_.get()); ++y)
            for (long x = 0; x < cairo_image_surface_get_width(surface_.get()); ++x)
                count += std::abs(channel(x, y, 0) - other.channel(x, y, 0)) > tolerance ||
                         std::abs(channel(x, y, 1) - other.channel(x, y, 1)) > tolerance ||
                         std::abs(channel(x, y, 2) - other.channel(x, y, 2)) > tolerance;
        return count;
    }

private:
    int channel(long x, long y, int byte) const { // bytes of a little-endian x8r8g8b8 word
        return cairo_image_surface_get_data(
            surface_.get())[y * cairo_image_surface_get_stride(surface_.get()) + x * 4 + byte];
    }

    double scale_;
    ui::SurfacePtr surface_;
    std::unique_ptr<cairo_t, decltype(&cairo_destroy)> cr_;
    ui::TextCache text_;
    ui::ShadowCache shadows_;
};

} // namespace thraskvell::test
