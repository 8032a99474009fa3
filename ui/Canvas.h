// The drawing layer of the control surface, sized to its views: shape paths (circle, rectangle,
// capsule, rounded rectangle with continuous corners), linear and radial gradients, Gaussian-like
// blurred shadows, clipping, masking by an image's alpha, screen and multiply blending, layer
// opacity, brightness, rotation about a centre and Pango text.
//
// Everything draws into a caller's cairo_t whose user space is the view's logical space (points);
// `scale` is the device pixels per point, used to size cached bitmaps so HiDPI stays sharp.
// Caches (blurred shadow masks, text layouts) belong to the view that draws with them.
// Threads: main (Cairo contexts and Pango layouts are not shared between threads).
#pragma once

#include "ui/Geometry.h"

#include <cairo.h>
#include <pango/pango.h>

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace thraskvell::ui {

// Owning handles for the C objects the caches keep.
struct CairoSurfaceDeleter {
    void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter>;

struct GObjectDeleter {
    void operator()(void* object) const;
};
using LayoutPtr = std::unique_ptr<PangoLayout, GObjectDeleter>;

// ---- Paths (each replaces the current path) -------------------------------------------------
// Thread: main, for all of them.
void pathRect(cairo_t* cr, const Rect& r);
void pathCircle(cairo_t* cr, const Rect& r); // the circle inscribed in r, centred
// Rounded rectangle whose corners blend into the sides without a jump in curvature.
void pathContinuousRoundedRect(cairo_t* cr, const Rect& r, double cornerRadius);
// A rectangle whose shorter sides are full, continuously curved ends.
void pathCapsule(cairo_t* cr, const Rect& r);

// ---- Paint sources ---------------------------------------------------------------------------
struct GradientStop {
    double offset;
    Color color;
};

void setSourceColor(cairo_t* cr, const Color& c);
void setLinearGradient(cairo_t* cr, Point from, Point to, const std::vector<GradientStop>& stops);
// Circles about one centre from startRadius to endRadius; colour is held constant outside them.
void setRadialGradient(cairo_t* cr, Point center, double startRadius, double endRadius,
                       const std::vector<GradientStop>& stops);

// ---- Transforms and compositing --------------------------------------------------------------
// Rotates the user space clockwise on screen by `degrees` about `center`.
void rotateAbout(cairo_t* cr, Point center, double degrees);

enum class BlendMode { normal, screen, multiply };
cairo_operator_t cairoOperator(BlendMode mode);

// Adds `amount` to red, green and blue wherever `mask` is opaque (placed at `at`, logical units).
void addBrightness(cairo_t* cr, cairo_surface_t* mask, Point at, double amount);

// The same, applied to an image surface of the mask's size in place. Thread: main.
void addBrightnessInPlace(cairo_surface_t* target, cairo_surface_t* mask, double amount);

// ---- Shadows ---------------------------------------------------------------------------------
struct Shadow {
    Color color;
    double radius = 0.0; // blur radius in points; the Gaussian's sigma is half of it
    double dx = 0.0;
    double dy = 0.0;
};

// The extra margin a blurred shadow needs around its shape.
double shadowMargin(double radius);

// In-place blur of an A8 or ARGB32 image surface; three box passes approximate a Gaussian.
void gaussianBlur(cairo_surface_t* surface, double sigmaPixels);

// Blurred alpha masks of shapes, keyed by the caller's name for the shape, the blur radius and the
// scale. Drawing a cached shadow is one masked fill.
class ShadowCache {
public:
    // `shape` draws the silhouette (any colour) in a space whose origin is the top-left of `bounds`.
    // Paints `shadow` under a shape occupying `bounds`. Thread: main.
    void draw(cairo_t* cr, const std::string& key, const Rect& bounds, const Shadow& shadow, double scale,
              const std::function<void(cairo_t*)>& shape);

private:
    struct Entry {
        SurfacePtr mask;
        double margin = 0.0;
    };
    std::map<std::string, Entry> entries_;
};

// ---- Text ------------------------------------------------------------------------------------
enum class FontDesign { system, serif, monospaced };
enum class FontWeight { regular, semibold, bold, black };

struct TextStyle {
    FontDesign design = FontDesign::system;
    double size = 12.0;
    FontWeight weight = FontWeight::regular;
    Color color{1, 1, 1, 1};
    bool uppercase = false;
};

// Font family lists tried in order; the generic name last so a missing font degrades gracefully.
const char* fontFamilies(FontDesign design);

// Upper-cases ASCII letters and leaves every other character as it is.
std::string upperCased(const std::string& text);

// Measured, reusable text layouts, built against one Pango font map.
class TextCache {
public:
    TextCache();
    ~TextCache();
    TextCache(const TextCache&) = delete;
    TextCache& operator=(const TextCache&) = delete;

    // Logical size of the laid-out text (line height included). Thread: main.
    Size measure(const std::string& text, const TextStyle& style);
    // Draws with the layout's top-left at `origin`. Thread: main.
    void draw(cairo_t* cr, const std::string& text, const TextStyle& style, Point origin);

private:
    PangoLayout* layoutFor(const std::string& text, const TextStyle& style);
    PangoContext* context_ = nullptr;
    std::map<std::string, LayoutPtr> layouts_;
};

// What a view needs to draw one frame: the device scale, the frame clock's time and the caches
// that outlive a frame. Owned by the top-level view; passed down by reference. Thread: main.
struct RenderContext {
    double scale = 1.0;
    double now = 0.0;
    TextCache* text = nullptr;
    ShadowCache* shadows = nullptr;
};

// ---- Images ----------------------------------------------------------------------------------
// Decodes PNG bytes into an ARGB32 surface; a null surface when the bytes are not a PNG.
// Thread: any.
SurfacePtr decodePng(const unsigned char* data, std::size_t length);

// Draws `image` scaled to fit `frame` with its aspect ratio kept, centred. Thread: main.
Rect aspectFitRect(Size image, const Rect& frame);

} // namespace thraskvell::ui
