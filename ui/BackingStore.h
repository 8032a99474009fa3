// BackingStore: the offscreen image a window keeps of its content, and the region of it that is
// out of date. The plug-in editor and the demo app's window both draw through one.
//
// The window marks what changed with invalidate() (the rectangles are united, in points) and asks
// its toolkit to repaint the device pixels invalidate() returns. In the toolkit's paint callback it
// calls paint(): the image is rebuilt when the window's pixel size or scale changed, then the
// out-of-date region, snapped outwards to whole device pixels, is drawn into it and the image is
// copied to the window. An exposure nobody invalidated is answered by the copy alone.
//
// Whole device pixels because the content draws translucent layers: an antialiased clip edge would
// blend them over themselves once per repaint and leave seams. After a rebuild or invalidateAll()
// the draw callback gets no rectangle and must paint everything.
//
// Ownership: one per window, released with it. Threads: main (the window's UI thread) for all.
#pragma once

#include "ui/Canvas.h"
#include "ui/Geometry.h"

#include <cairo.h>

#include <functional>
#include <optional>

namespace thraskvell::ui {

struct PixelRect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
    bool isEmpty() const { return width <= 0 || height <= 0; }
    friend bool operator==(const PixelRect&, const PixelRect&) = default;
};

// The device pixels `r` (in points) touches at `scale`, never left of or above the origin.
PixelRect devicePixels(const Rect& r, double scale);

class BackingStore {
public:
    // Draws the content in points; `dirty` set: only what lies in it needs painting.
    using Draw = std::function<void(cairo_t*, std::optional<Rect> dirty)>;
    // Called with the new logical size before a rebuilt image is first drawn.
    using Resized = std::function<void(Size)>;

    // Adds `r` to the out-of-date region; returns the device pixels to ask the window to repaint
    // (empty for an empty `r`).
    PixelRect invalidate(const Rect& r, double scale);
    void invalidateAll() { full_ = true; }
    bool isUpToDate() const { return !full_ && pending_.width <= 0.0; }

    // Brings the image to `width` × `height` device pixels at `scale`, draws what is out of date
    // and copies the image onto `target` (device space, origin at the window's corner).
    void paint(cairo_t* target, int width, int height, double scale, const Draw& draw,
               const Resized& resized = {});

    // The image as last drawn, or null before the first paint.
    cairo_surface_t* image() const { return image_.get(); }

private:
    SurfacePtr image_;
    double scale_ = 0.0;
    Rect pending_{};
    bool full_ = true;
};

} // namespace thraskvell::ui
