// The header's three symbols drawn as vector shapes at a font point size: a filled right-pointing
// triangle (play), a filled square (stop) and the letter i in a circle (about). Proportions follow
// the platform symbol set's glyphs at the sizes the header uses (22 points, bold for play and stop,
// regular for about), optically centred on the given point.
// Threads: main (they draw into the caller's cairo_t).
#pragma once

#include "ui/Geometry.h"

#include <cairo.h>

namespace thraskvell {

enum class PlayGlyph { play, stop };

// Thread: main, for all three.
void drawPlayGlyph(cairo_t* cr, ui::Point center, double pointSize, const ui::Color& color);
void drawStopGlyph(cairo_t* cr, ui::Point center, double pointSize, const ui::Color& color);
void drawInfoCircleGlyph(cairo_t* cr, ui::Point center, double pointSize, const ui::Color& color);

// Bounds of each glyph's ink (before antialiasing). Thread: any.
ui::Rect playGlyphBounds(ui::Point center, double pointSize);
ui::Rect stopGlyphBounds(ui::Point center, double pointSize);
ui::Rect infoCircleGlyphBounds(ui::Point center, double pointSize);

} // namespace thraskvell
