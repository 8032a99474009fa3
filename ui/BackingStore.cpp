#include "ui/BackingStore.h"

#include <algorithm>
#include <cmath>

namespace thraskvell::ui {

PixelRect devicePixels(const Rect& r, double scale) {
    if (r.width <= 0.0 || r.height <= 0.0) return {};
    const int x0 = std::max(0, static_cast<int>(std::floor(r.x * scale)));
    const int y0 = std::max(0, static_cast<int>(std::floor(r.y * scale)));
    const int x1 = static_cast<int>(std::ceil(r.maxX() * scale));
    const int y1 = static_cast<int>(std::ceil(r.maxY() * scale));
    if (x1 <= x0 || y1 <= y0) return {};
    return {x0, y0, x1 - x0, y1 - y0};
}

PixelRect BackingStore::invalidate(const Rect& r, double scale) {
    const PixelRect pixels = devicePixels(r, scale);
    if (!pixels.isEmpty()) pending_ = pending_.united(r);
    return pixels;
}

void BackingStore::paint(cairo_t* target, int width, int height, double scale, const Draw& draw,
                         const Resized& resized) {
    if (width <= 0 || height <= 0 || scale <= 0.0) return;
    if (!image_ || cairo_image_surface_get_width(image_.get()) != width ||
        cairo_image_surface_get_height(image_.get()) != height || scale_ != scale) {
        image_.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
        cairo_surface_set_device_scale(image_.get(), scale, scale);
        scale_ = scale;
        full_ = true;
        if (resized) resized({width / scale, height / scale});
    }
    if (!isUpToDate()) {
        std::optional<Rect> dirty;
        if (!full_) {
            const PixelRect p = devicePixels(pending_, scale);
            dirty = Rect{p.x / scale, p.y / scale, p.width / scale, p.height / scale};
        }
        cairo_t* cr = cairo_create(image_.get());
        if (dirty) {
            cairo_rectangle(cr, dirty->x, dirty->y, dirty->width, dirty->height);
            cairo_clip(cr);
        }
        draw(cr, dirty);
        cairo_destroy(cr);
        pending_ = {};
        full_ = false;
    }
    cairo_surface_flush(image_.get());
    if (!target) return;
    cairo_save(target);
    cairo_identity_matrix(target);
    cairo_set_operator(target, CAIRO_OPERATOR_SOURCE);
    cairo_set_source_surface(target, image_.get(), 0.0, 0.0);
    cairo_paint(target);
    cairo_restore(target);
}

} // namespace thraskvell::ui
