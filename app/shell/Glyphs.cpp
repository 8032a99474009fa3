#include "app/shell/Glyphs.h"

#include "ui/Canvas.h"

#include <numbers>

namespace thraskvell {

namespace {

// Fractions of the point size, as the symbol set draws these glyphs at a bold weight.
constexpr double kPlayHeight = 0.86;
constexpr double kPlayWidth = 0.76;
// The triangle's centroid lies left of its box's centre; shifting by a sixth of the width balances it.
constexpr double kPlayOpticalShift = kPlayWidth / 6.0;
constexpr double kStopSide = 0.72;
constexpr double kStopCorner = 0.1;
constexpr double kCornerRounding = 0.06; // stroke width that rounds the filled shapes' corners
constexpr double kInfoDiameter = 0.9;
constexpr double kInfoStroke = 0.075;

} // namespace

ui::Rect playGlyphBounds(ui::Point center, double pointSize) {
    const double w = kPlayWidth * pointSize, h = kPlayHeight * pointSize;
    return {center.x - w * 0.5 + kPlayOpticalShift * pointSize * 0.5, center.y - h * 0.5, w, h};
}

ui::Rect stopGlyphBounds(ui::Point center, double pointSize) {
    return ui::Rect::centered(center, {kStopSide * pointSize, kStopSide * pointSize});
}

ui::Rect infoCircleGlyphBounds(ui::Point center, double pointSize) {
    const double d = kInfoDiameter * pointSize + kInfoStroke * pointSize;
    return ui::Rect::centered(center, {d, d});
}

void drawPlayGlyph(cairo_t* cr, ui::Point center, double pointSize, const ui::Color& color) {
    const double round = kCornerRounding * pointSize;
    const ui::Rect box = playGlyphBounds(center, pointSize).insetBy(round * 0.5, round * 0.5);
    cairo_save(cr);
    cairo_new_path(cr);
    cairo_move_to(cr, box.minX(), box.minY());
    cairo_line_to(cr, box.maxX(), box.midY());
    cairo_line_to(cr, box.minX(), box.maxY());
    cairo_close_path(cr);
    ui::setSourceColor(cr, color);
    cairo_fill_preserve(cr);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_set_line_width(cr, round);
    cairo_stroke(cr);
    cairo_restore(cr);
}

void drawStopGlyph(cairo_t* cr, ui::Point center, double pointSize, const ui::Color& color) {
    cairo_save(cr);
    ui::pathContinuousRoundedRect(cr, stopGlyphBounds(center, pointSize), kStopCorner * pointSize);
    ui::setSourceColor(cr, color);
    cairo_fill(cr);
    cairo_restore(cr);
}

void drawInfoCircleGlyph(cairo_t* cr, ui::Point center, double pointSize, const ui::Color& color) {
    const double s = pointSize;
    cairo_save(cr);
    ui::setSourceColor(cr, color);
    cairo_new_path(cr);
    cairo_arc(cr, center.x, center.y, kInfoDiameter * s * 0.5, 0.0, 2.0 * std::numbers::pi);
    cairo_set_line_width(cr, kInfoStroke * s);
    cairo_stroke(cr);

    cairo_new_path(cr);
    cairo_arc(cr, center.x, center.y - 0.2 * s, 0.065 * s, 0.0, 2.0 * std::numbers::pi);
    cairo_fill(cr);

    // The stem with a short flag at its top left and a foot across its base, as the symbol has.
    const double stem = 0.085 * s;
    cairo_set_line_width(cr, stem);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_ROUND);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
    cairo_new_path(cr);
    cairo_move_to(cr, center.x - 0.09 * s, center.y - 0.05 * s);
    cairo_line_to(cr, center.x, center.y - 0.05 * s);
    cairo_line_to(cr, center.x, center.y + 0.24 * s);
    cairo_stroke(cr);
    cairo_new_path(cr);
    cairo_move_to(cr, center.x - 0.1 * s, center.y + 0.24 * s);
    cairo_line_to(cr, center.x + 0.1 * s, center.y + 0.24 * s);
    cairo_stroke(cr);
    cairo_restore(cr);
}

} // namespace thraskvell
