// A headless drawing target for the control surface's tests: an image in device pixels whose user space is
// in points, on a grey ground, with the caches a view draws with; pixels read back 0…255 per channel.
#pragma once

#include "ui/Canvas.h"

#include <cmath>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

namespace thraskvell::test {

struct Probe { // a point (from an origin) whose red lies in least…most
    double x, y, least, most;
};

class Image {
public:
    explicit Image(ui::Size size, double scale = 1.0, double grey = 0.0)
        : surface_(cairo_image_surface_create(CAIRO_FORMAT_RGB24, std::lround(size.width * scale),
                                              std::lround(size.height * scale))),
          cr_(cairo_create(surface_.get()), cairo_destroy), context_{scale, 0.0, &text_, &shadows_} {
        cairo_scale(cr_.get(), scale, scale);
        cairo_set_source_rgb(cr_.get(), grey, grey, grey), cairo_paint(cr_.get());
    }
    cairo_t* cr() const { return cr_.get(); }
    ui::RenderContext& context() { return context_; }

    // The mean colour of the device pixels whose centres lie in `r` (points).
    ui::Color mean(const ui::Rect& r) const {
        cairo_surface_flush(surface_.get());
        const double s = context_.scale;
        ui::Color sum{0, 0, 0, 0};
        for (long y = std::lround(r.y * s); y < std::lround(r.maxY() * s); ++y)
            for (long x = std::lround(r.x * s); x < std::lround(r.maxX() * s); ++x)
                sum = {sum.r + channel(x, y, 2), sum.g + channel(x, y, 1), sum.b + channel(x, y, 0),
                       sum.a + 1};
        return {sum.r / sum.a, sum.g / sum.a, sum.b / sum.a};
    }
    // The probes about `origin` whose red is out of range, with the red read; empty when all are in.
    std::string misses(const std::vector<Probe>& probes, ui::Point origin = {}) const {
        std::string out;
        for (const Probe& p : probes)
            if (const double red =
                    mean({origin.x + p.x, origin.y + p.y, 1 / context_.scale, 1 / context_.scale}).r;
                red < p.least || red > p.most)
                out += std::to_string(p.x) + ", " + std::to_string(p.y) + ": " + std::to_string(red) + "; ";
        return out;
    }
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

    ui::SurfacePtr surface_;
    std::unique_ptr<cairo_t, decltype(&cairo_destroy)> cr_;
    ui::TextCache text_;
    ui::ShadowCache shadows_;
    ui::RenderContext context_;
};

} // namespace thraskvell::test
