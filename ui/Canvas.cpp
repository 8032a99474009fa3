#include "ui/Canvas.h"

#include <pango/pangocairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>
#include <sstream>

namespace thraskvell::ui {

void GObjectDeleter::operator()(void* object) const {
    if (object) g_object_unref(object);
}

// ---- Paths -----------------------------------------------------------------------------------

void pathRect(cairo_t* cr, const Rect& r) {
    cairo_new_path(cr);
    cairo_rectangle(cr, r.x, r.y, r.width, r.height);
}

void pathCircle(cairo_t* cr, const Rect& r) {
    cairo_new_path(cr);
    cairo_arc(cr, r.midX(), r.midY(), std::min(r.width, r.height) * 0.5, 0.0, 2.0 * std::numbers::pi);
    cairo_close_path(cr);
}

namespace {

// One cubic per corner with both handles on the corner point: the curvature is zero where it meets
// the straight sides, so there is no visible kink. Reaching 2r along each side puts the curve's
// midpoint where a circular arc of radius r would put it.
constexpr double kContinuousReach = 2.0;

void continuousCorners(cairo_t* cr, const Rect& r, double reachX, double reachY) {
    const double x0 = r.x, y0 = r.y, x1 = r.maxX(), y1 = r.maxY();
    cairo_new_path(cr);
    cairo_move_to(cr, x0 + reachX, y0);
    cairo_line_to(cr, x1 - reachX, y0);
    cairo_curve_to(cr, x1, y0, x1, y0, x1, y0 + reachY);
    cairo_line_to(cr, x1, y1 - reachY);
    cairo_curve_to(cr, x1, y1, x1, y1, x1 - reachX, y1);
    cairo_line_to(cr, x0 + reachX, y1);
    cairo_curve_to(cr, x0, y1, x0, y1, x0, y1 - reachY);
    cairo_line_to(cr, x0, y0 + reachY);
    cairo_curve_to(cr, x0, y0, x0, y0, x0 + reachX, y0);
    cairo_close_path(cr);
}

} // namespace

void pathContinuousRoundedRect(cairo_t* cr, const Rect& r, double cornerRadius) {
    const double reach = std::max(0.0, cornerRadius * kContinuousReach);
    continuousCorners(cr, r, std::min(reach, r.width * 0.5), std::min(reach, r.height * 0.5));
}

void pathCapsule(cairo_t* cr, const Rect& r) {
    // Semicircular ends: circular arcs of half the shorter side, not continuous corners, which would
    // leave the ends visibly square.
    const double radius = std::min(r.width, r.height) * 0.5;
    constexpr double pi = std::numbers::pi;
    cairo_new_path(cr);
    cairo_arc(cr, r.x + radius, r.y + radius, radius, pi, 1.5 * pi);
    cairo_arc(cr, r.maxX() - radius, r.y + radius, radius, 1.5 * pi, 2.0 * pi);
    cairo_arc(cr, r.maxX() - radius, r.maxY() - radius, radius, 0.0, 0.5 * pi);
    cairo_arc(cr, r.x + radius, r.maxY() - radius, radius, 0.5 * pi, pi);
    cairo_close_path(cr);
}

// ---- Paint sources ---------------------------------------------------------------------------

void setSourceColor(cairo_t* cr, const Color& c) {
    cairo_set_source_rgba(cr, c.r, c.g, c.b, c.a);
}

namespace {

void addStops(cairo_pattern_t* pattern, const std::vector<GradientStop>& stops) {
    for (const auto& s : stops)
        cairo_pattern_add_color_stop_rgba(pattern, s.offset, s.color.r, s.color.g, s.color.b, s.color.a);
}

} // namespace

void setLinearGradient(cairo_t* cr, Point from, Point to, const std::vector<GradientStop>& stops) {
    cairo_pattern_t* pattern = cairo_pattern_create_linear(from.x, from.y, to.x, to.y);
    addStops(pattern, stops);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_set_source(cr, pattern);
    cairo_pattern_destroy(pattern);
}

void setRadialGradient(cairo_t* cr, Point center, double startRadius, double endRadius,
                       const std::vector<GradientStop>& stops) {
    cairo_pattern_t* pattern =
        cairo_pattern_create_radial(center.x, center.y, startRadius, center.x, center.y, endRadius);
    addStops(pattern, stops);
    cairo_pattern_set_extend(pattern, CAIRO_EXTEND_PAD);
    cairo_set_source(cr, pattern);
    cairo_pattern_destroy(pattern);
}

// ---- Transforms and compositing --------------------------------------------------------------

void rotateAbout(cairo_t* cr, Point center, double degrees) {
    cairo_translate(cr, center.x, center.y);
    // Cairo's y axis points down, so a positive angle already turns clockwise on screen.
    cairo_rotate(cr, degrees * std::numbers::pi / 180.0);
    cairo_translate(cr, -center.x, -center.y);
}

cairo_operator_t cairoOperator(BlendMode mode) {
    switch (mode) {
    case BlendMode::screen:
        return CAIRO_OPERATOR_SCREEN;
    case BlendMode::multiply:
        return CAIRO_OPERATOR_MULTIPLY;
    case BlendMode::normal:
        break;
    }
    return CAIRO_OPERATOR_OVER;
}

void addBrightness(cairo_t* cr, cairo_surface_t* mask, Point at, double amount) {
    if (amount == 0.0 || !mask) return;
    cairo_save(cr);
    if (amount > 0) {
        cairo_set_operator(cr, CAIRO_OPERATOR_ADD);
        cairo_set_source_rgba(cr, amount, amount, amount, 1.0);
    } else {
        cairo_set_operator(cr, CAIRO_OPERATOR_MULTIPLY);
        cairo_set_source_rgba(cr, 1.0 + amount, 1.0 + amount, 1.0 + amount, 1.0);
    }
    cairo_mask_surface(cr, mask, at.x, at.y);
    cairo_restore(cr);
}

void addBrightnessInPlace(cairo_surface_t* target, cairo_surface_t* mask, double amount) {
    cairo_t* cr = cairo_create(target);
    addBrightness(cr, mask, {0, 0}, amount);
    cairo_destroy(cr);
}

// ---- Shadows ---------------------------------------------------------------------------------

double shadowMargin(double radius) {
    // Three sigmas hold all but 0.3 % of a Gaussian.
    return std::ceil(std::max(0.0, radius) * 1.5) + 1.0;
}

namespace {

// Running-sum box blur of one line of `count` samples `stride` apart, radius r, via scratch.
void boxBlurLine(unsigned char* data, int count, int stride, int r, std::vector<int>& scratch) {
    scratch.resize(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i)
        scratch[static_cast<std::size_t>(i)] = data[i * stride];
    const int window = 2 * r + 1;
    int sum = 0;
    for (int i = -r; i <= r; ++i)
        if (i >= 0 && i < count) sum += scratch[static_cast<std::size_t>(i)];
    for (int i = 0; i < count; ++i) {
        data[i * stride] = static_cast<unsigned char>((sum + window / 2) / window);
        const int out = i - r, in = i + r + 1;
        if (out >= 0) sum -= scratch[static_cast<std::size_t>(out)];
        if (in < count) sum += scratch[static_cast<std::size_t>(in)];
    }
}

} // namespace

void gaussianBlur(cairo_surface_t* surface, double sigmaPixels) {
    if (sigmaPixels < 0.5 || cairo_surface_get_type(surface) != CAIRO_SURFACE_TYPE_IMAGE) return;
    cairo_surface_flush(surface);
    const int width = cairo_image_surface_get_width(surface);
    const int height = cairo_image_surface_get_height(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const int channels = cairo_image_surface_get_format(surface) == CAIRO_FORMAT_A8 ? 1 : 4;
    unsigned char* data = cairo_image_surface_get_data(surface);
    // Three box passes whose variances add up to the Gaussian's: the narrower odd width for some
    // passes and the next odd width for the rest.
    constexpr int kPasses = 3;
    const double ideal = std::sqrt(12.0 * sigmaPixels * sigmaPixels / kPasses + 1.0);
    int lower = static_cast<int>(std::floor(ideal));
    if (lower % 2 == 0) --lower;
    const int upper = lower + 2;
    const double wantedLower =
        (12.0 * sigmaPixels * sigmaPixels - kPasses * lower * lower - 4.0 * kPasses * lower - 3.0 * kPasses) /
        (-4.0 * lower - 4.0);
    const int lowerPasses = std::clamp(static_cast<int>(std::lround(wantedLower)), 0, kPasses);
    std::vector<int> scratch;
    for (int pass = 0; pass < kPasses; ++pass) {
        const int r = ((pass < lowerPasses ? lower : upper) - 1) / 2;
        if (r < 1) continue;
        for (int y = 0; y < height; ++y)
            for (int c = 0; c < channels; ++c)
                boxBlurLine(data + y * stride + c, width, channels, r, scratch);
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < channels; ++c)
                boxBlurLine(data + x * channels + c, height, stride, r, scratch);
    }
    cairo_surface_mark_dirty(surface);
}

void ShadowCache::draw(cairo_t* cr, const std::string& key, const Rect& bounds, const Shadow& shadow,
                       double scale, const std::function<void(cairo_t*)>& shape) {
    if (shadow.color.a <= 0.0) return;
    std::ostringstream fullKey;
    fullKey << key << '|' << bounds.width << 'x' << bounds.height << '|' << shadow.radius << '|' << scale;
    auto it = entries_.find(fullKey.str());
    if (it == entries_.end()) {
        // Animated radii make new masks; dropping everything now and then bounds the memory.
        if (entries_.size() >= 64) entries_.clear();
        const double margin = shadowMargin(shadow.radius);
        const int w = static_cast<int>(std::ceil((bounds.width + 2 * margin) * scale));
        const int h = static_cast<int>(std::ceil((bounds.height + 2 * margin) * scale));
        SurfacePtr mask(cairo_image_surface_create(CAIRO_FORMAT_A8, std::max(w, 1), std::max(h, 1)));
        cairo_surface_set_device_scale(mask.get(), scale, scale);
        cairo_t* mcr = cairo_create(mask.get());
        cairo_translate(mcr, margin, margin);
        cairo_set_source_rgba(mcr, 0, 0, 0, 1);
        shape(mcr);
        cairo_destroy(mcr);
        gaussianBlur(mask.get(), shadow.radius * 0.5 * scale);
        it = entries_.emplace(fullKey.str(), Entry{std::move(mask), margin}).first;
    }
    cairo_save(cr);
    setSourceColor(cr, shadow.color);
    cairo_mask_surface(cr, it->second.mask.get(), bounds.x - it->second.margin + shadow.dx,
                       bounds.y - it->second.margin + shadow.dy);
    cairo_restore(cr);
}

// ---- Text ------------------------------------------------------------------------------------

const char* fontFamilies(FontDesign design) {
    switch (design) {
    case FontDesign::serif:
        return "Noto Serif,DejaVu Serif,Liberation Serif,serif";
    case FontDesign::monospaced:
        return "DejaVu Sans Mono,Noto Sans Mono,Liberation Mono,monospace";
    case FontDesign::system:
        break;
    }
    return "Noto Sans,DejaVu Sans,Liberation Sans,sans-serif";
}

std::string upperCased(const std::string& text) {
    std::string out = text;
    for (auto& c : out)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return out;
}

namespace {

PangoFontDescription* describe(const TextStyle& style) {
    PangoFontDescription* desc = pango_font_description_new();
    pango_font_description_set_family(desc, fontFamilies(style.design));
    pango_font_description_set_weight(desc, style.weight == FontWeight::black      ? PANGO_WEIGHT_HEAVY
                                            : style.weight == FontWeight::bold     ? PANGO_WEIGHT_BOLD
                                            : style.weight == FontWeight::semibold ? PANGO_WEIGHT_SEMIBOLD
                                                                                   : PANGO_WEIGHT_NORMAL);
    // Sizes are in points of the logical space, independent of any screen resolution setting.
    pango_font_description_set_absolute_size(desc, style.size * PANGO_SCALE);
    return desc;
}

std::string styleKey(const std::string& text, const TextStyle& style) {
    std::ostringstream key;
    key << static_cast<int>(style.design) << '|' << style.size << '|' << static_cast<int>(style.weight) << '|'
        << style.uppercase << '|' << text;
    return key.str();
}

} // namespace

TextCache::TextCache() {
    PangoFontMap* map = pango_cairo_font_map_get_default();
    context_ = pango_font_map_create_context(map);
    cairo_font_options_t* options = cairo_font_options_create();
    cairo_font_options_set_antialias(options, CAIRO_ANTIALIAS_GRAY);
    cairo_font_options_set_hint_metrics(options, CAIRO_HINT_METRICS_OFF);
    cairo_font_options_set_hint_style(options, CAIRO_HINT_STYLE_NONE);
    pango_cairo_context_set_font_options(context_, options);
    cairo_font_options_destroy(options);
}

TextCache::~TextCache() {
    layouts_.clear();
    if (context_) g_object_unref(context_);
}

PangoLayout* TextCache::layoutFor(const std::string& text, const TextStyle& style) {
    const std::string key = styleKey(text, style);
    auto it = layouts_.find(key);
    if (it != layouts_.end()) return it->second.get();
    PangoLayout* layout = pango_layout_new(context_);
    PangoFontDescription* desc = describe(style);
    pango_layout_set_font_description(layout, desc);
    pango_font_description_free(desc);
    const std::string shown = style.uppercase ? upperCased(text) : text;
    pango_layout_set_text(layout, shown.c_str(), static_cast<int>(shown.size()));
    layouts_.emplace(key, LayoutPtr(layout));
    return layout;
}

Size TextCache::measure(const std::string& text, const TextStyle& style) {
    PangoRectangle logical{};
    pango_layout_get_extents(layoutFor(text, style), nullptr, &logical);
    return {static_cast<double>(logical.width) / PANGO_SCALE,
            static_cast<double>(logical.height) / PANGO_SCALE};
}

void TextCache::draw(cairo_t* cr, const std::string& text, const TextStyle& style, Point origin) {
    PangoLayout* layout = layoutFor(text, style);
    cairo_save(cr);
    setSourceColor(cr, style.color);
    cairo_move_to(cr, origin.x, origin.y);
    pango_cairo_show_layout(cr, layout);
    cairo_restore(cr);
}

// ---- Images ----------------------------------------------------------------------------------

namespace {

struct PngReader {
    const unsigned char* data;
    std::size_t length;
    std::size_t offset;
};

cairo_status_t readPng(void* closure, unsigned char* out, unsigned int count) {
    auto* reader = static_cast<PngReader*>(closure);
    if (reader->length - reader->offset < count) return CAIRO_STATUS_READ_ERROR;
    std::memcpy(out, reader->data + reader->offset, count);
    reader->offset += count;
    return CAIRO_STATUS_SUCCESS;
}

} // namespace

SurfacePtr decodePng(const unsigned char* data, std::size_t length) {
    if (!data || length == 0) return nullptr;
    PngReader reader{data, length, 0};
    SurfacePtr surface(cairo_image_surface_create_from_png_stream(readPng, &reader));
    if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) return nullptr;
    return surface;
}

Rect aspectFitRect(Size image, const Rect& frame) {
    if (image.width <= 0 || image.height <= 0) return {frame.midX(), frame.midY(), 0, 0};
    const double factor = std::min(frame.width / image.width, frame.height / image.height);
    return Rect::centered(frame.center(), {image.width * factor, image.height * factor});
}

} // namespace thraskvell::ui
