// Draws the "thrask_altar" picture: a stepped stone altar with bone horns, candles and a burning
// brazier, on a transparent surround so the altar's glow and shade follow its silhouette.
// Run at build time; writes a PNG at twice the view's 220 × 260 point frame for sharp HiDPI.
//
// Usage: thraskvell-altar-artwork OUTPUT.png
#include <cairo.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <numbers>

namespace {

constexpr double kWidth = 220.0;
constexpr double kHeight = 260.0;
constexpr double kPixelsPerPoint = 2.0;

void stoneFill(cairo_t* cr, double top, double bottom, double light) {
    cairo_pattern_t* p = cairo_pattern_create_linear(0, top, 0, bottom);
    cairo_pattern_add_color_stop_rgb(p, 0.0, 0.42 * light, 0.37 * light, 0.33 * light);
    cairo_pattern_add_color_stop_rgb(p, 1.0, 0.17 * light, 0.14 * light, 0.13 * light);
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    cairo_set_source_rgba(cr, 0.05, 0.03, 0.03, 0.9);
    cairo_set_line_width(cr, 1.2);
    cairo_stroke(cr);
}

void block(cairo_t* cr, double x0, double x1, double top, double bottom, double light) {
    cairo_new_path(cr);
    cairo_rectangle(cr, x0, top, x1 - x0, bottom - top);
    stoneFill(cr, top, bottom, light);
    // A lit upper edge gives each step its depth.
    cairo_set_source_rgba(cr, 0.85, 0.7, 0.5, 0.35);
    cairo_set_line_width(cr, 1.0);
    cairo_move_to(cr, x0 + 1, top + 1);
    cairo_line_to(cr, x1 - 1, top + 1);
    cairo_stroke(cr);
}

void horn(cairo_t* cr, double side) {
    // side = -1 for the left horn, +1 for the right; drawn for the left and mirrored.
    cairo_save(cr);
    if (side > 0) {
        cairo_translate(cr, kWidth, 0);
        cairo_scale(cr, -1, 1);
    }
    cairo_new_path(cr);
    cairo_move_to(cr, 40, 112);
    cairo_curve_to(cr, 14, 96, 6, 60, 20, 22);
    cairo_curve_to(cr, 22, 50, 34, 82, 60, 104);
    cairo_close_path(cr);
    cairo_pattern_t* p = cairo_pattern_create_linear(20, 22, 50, 112);
    cairo_pattern_add_color_stop_rgb(p, 0.0, 0.98, 0.94, 0.82);
    cairo_pattern_add_color_stop_rgb(p, 0.6, 0.78, 0.70, 0.55);
    cairo_pattern_add_color_stop_rgb(p, 1.0, 0.40, 0.32, 0.24);
    cairo_set_source(cr, p);
    cairo_fill_preserve(cr);
    cairo_pattern_destroy(p);
    cairo_set_source_rgba(cr, 0.15, 0.08, 0.05, 0.9);
    cairo_set_line_width(cr, 1.0);
    cairo_stroke_preserve(cr);
    cairo_clip(cr);
    // Growth rings across the horn.
    cairo_set_source_rgba(cr, 0.3, 0.2, 0.12, 0.5);
    cairo_set_line_width(cr, 0.8);
    for (int i = 0; i < 6; ++i) {
        const double t = 0.2 + 0.12 * i;
        const double y = 100 - 70 * t;
        cairo_move_to(cr, 14 + 14 * t - 6 * (1 - t), y + 6);
        cairo_line_to(cr, 30 + 14 * t, y + 2 - 4 * t);
        cairo_stroke(cr);
    }
    cairo_restore(cr);
}

void flame(cairo_t* cr, double cx, double base, double width, double height) {
    cairo_new_path(cr);
    cairo_move_to(cr, cx, base - height);
    cairo_curve_to(cr, cx + width * 0.15, base - height * 0.6, cx + width * 0.6, base - height * 0.45,
                   cx + width * 0.5, base - height * 0.15);
    cairo_curve_to(cr, cx + width * 0.45, base, cx - width * 0.45, base, cx - width * 0.5,
                   base - height * 0.15);
    cairo_curve_to(cr, cx - width * 0.6, base - height * 0.45, cx - width * 0.1, base - height * 0.55, cx,
                   base - height);
    cairo_close_path(cr);
    cairo_pattern_t* p = cairo_pattern_create_linear(cx, base - height, cx, base);
    cairo_pattern_add_color_stop_rgba(p, 0.0, 1.0, 0.55, 0.1, 0.85);
    cairo_pattern_add_color_stop_rgba(p, 0.6, 1.0, 0.82, 0.35, 1.0);
    cairo_pattern_add_color_stop_rgba(p, 1.0, 1.0, 0.97, 0.8, 1.0);
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
}

void candle(cairo_t* cr, double cx) {
    cairo_new_path(cr);
    cairo_rectangle(cr, cx - 5, 84, 10, 25);
    cairo_pattern_t* p = cairo_pattern_create_linear(cx - 5, 0, cx + 5, 0);
    cairo_pattern_add_color_stop_rgb(p, 0.0, 0.55, 0.08, 0.06);
    cairo_pattern_add_color_stop_rgb(p, 0.5, 0.78, 0.18, 0.12);
    cairo_pattern_add_color_stop_rgb(p, 1.0, 0.35, 0.04, 0.03);
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
    flame(cr, cx, 84, 8, 18);
}

void sigil(cairo_t* cr) {
    const double cx = 110, cy = 166;
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy, 24, 0, 2 * std::numbers::pi);
    cairo_set_source_rgb(cr, 0.09, 0.05, 0.05);
    cairo_fill_preserve(cr);
    cairo_set_source_rgb(cr, 0.85, 0.62, 0.25);
    cairo_set_line_width(cr, 2.0);
    cairo_stroke(cr);
    cairo_new_path(cr);
    cairo_arc(cr, cx, cy, 19, 0, 2 * std::numbers::pi);
    cairo_set_line_width(cr, 0.8);
    cairo_stroke(cr);
    // The mark: a V split by a bass string, with a bar across.
    cairo_set_line_width(cr, 2.4);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_move_to(cr, cx - 11, cy - 11);
    cairo_line_to(cr, cx, cy + 12);
    cairo_line_to(cr, cx + 11, cy - 11);
    cairo_stroke(cr);
    cairo_move_to(cr, cx, cy - 15);
    cairo_line_to(cr, cx, cy + 15);
    cairo_move_to(cr, cx - 8, cy - 3);
    cairo_line_to(cr, cx + 8, cy - 3);
    cairo_set_line_width(cr, 1.2);
    cairo_stroke(cr);
    // Notches around the ring, like the markings of a dial.
    cairo_set_line_width(cr, 1.0);
    for (int i = 0; i < 12; ++i) {
        const double a = i * std::numbers::pi / 6;
        cairo_move_to(cr, cx + 19 * std::cos(a), cy + 19 * std::sin(a));
        cairo_line_to(cr, cx + 24 * std::cos(a), cy + 24 * std::sin(a));
    }
    cairo_stroke(cr);
}

void brazier(cairo_t* cr) {
    flame(cr, 110, 98, 46, 78);
    flame(cr, 98, 98, 20, 40);
    flame(cr, 123, 98, 22, 46);
    cairo_new_path(cr);
    cairo_move_to(cr, 80, 92);
    cairo_line_to(cr, 140, 92);
    cairo_curve_to(cr, 138, 106, 126, 110, 110, 110);
    cairo_curve_to(cr, 94, 110, 82, 106, 80, 92);
    cairo_close_path(cr);
    cairo_pattern_t* p = cairo_pattern_create_linear(80, 0, 140, 0);
    cairo_pattern_add_color_stop_rgb(p, 0.0, 0.35, 0.22, 0.08);
    cairo_pattern_add_color_stop_rgb(p, 0.45, 0.85, 0.62, 0.28);
    cairo_pattern_add_color_stop_rgb(p, 1.0, 0.3, 0.18, 0.06);
    cairo_set_source(cr, p);
    cairo_fill(cr);
    cairo_pattern_destroy(p);
}

// Fine speckle so the stone does not read as flat plastic; a fixed seed keeps the image stable.
void speckle(cairo_t* cr) {
    std::uint32_t state = 0x7e11u;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<double>(state >> 8) / static_cast<double>(1u << 24);
    };
    cairo_save(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_ATOP);
    for (int i = 0; i < 1400; ++i) {
        const double x = 10 + next() * 200, y = 108 + next() * 150, r = 0.3 + next() * 0.7;
        const bool light = next() > 0.5;
        cairo_set_source_rgba(cr, light ? 0.8 : 0.0, light ? 0.7 : 0.0, light ? 0.6 : 0.0, 0.12);
        cairo_new_path(cr);
        cairo_arc(cr, x, y, r, 0, 2 * std::numbers::pi);
        cairo_fill(cr);
    }
    cairo_restore(cr);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s OUTPUT.png\n", argv[0]);
        return 2;
    }
    cairo_surface_t* surface =
        cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(kWidth * kPixelsPerPoint),
                                   static_cast<int>(kHeight * kPixelsPerPoint));
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, kPixelsPerPoint, kPixelsPerPoint);

    block(cr, 10, 210, 236, 256, 0.8);
    block(cr, 22, 198, 220, 237, 0.9);
    block(cr, 34, 186, 206, 221, 1.0);

    cairo_new_path(cr);
    cairo_move_to(cr, 50, 120);
    cairo_line_to(cr, 170, 120);
    cairo_line_to(cr, 178, 207);
    cairo_line_to(cr, 42, 207);
    cairo_close_path(cr);
    stoneFill(cr, 120, 207, 1.1);
    cairo_new_path(cr);
    cairo_rectangle(cr, 66, 134, 88, 64);
    cairo_set_source_rgba(cr, 0.0, 0.0, 0.0, 0.35);
    cairo_fill(cr);
    speckle(cr);
    sigil(cr);

    horn(cr, -1);
    horn(cr, +1);
    block(cr, 32, 188, 108, 122, 1.25);
    candle(cr, 58);
    candle(cr, 162);
    brazier(cr);

    cairo_destroy(cr);
    const cairo_status_t status = cairo_surface_write_to_png(surface, argv[1]);
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        std::fprintf(stderr, "cannot write %s: %s\n", argv[1], cairo_status_to_string(status));
        return 1;
    }
    return 0;
}
