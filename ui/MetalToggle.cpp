#include "ui/MetalToggle.h"

#include <algorithm>
#include <cmath>

namespace thraskvell::ui {

bool toggleIsOn(float value) {
    return value > 0.5f;
}

float toggledValue(float value) {
    return toggleIsOn(value) ? 0.0f : 1.0f;
}

LeverGeometry leverGeometry(bool on) {
    const Color shade{0, 0, 0, 0.6};
    return on ? LeverGeometry{24.0, -8.0, {shade, 3.0, 0.0, 4.0}}
              : LeverGeometry{16.0, 8.0, {shade, 3.0, 0.0, -2.0}};
}

TextStyle toggleCaptionStyle() {
    return {FontDesign::monospaced, 10.0, FontWeight::bold, Color::white(0.7), false};
}

MetalToggle::MetalToggle(std::string label, Binding<float> value)
    : label_(std::move(label)), value_(std::move(value)) {
    tap_.onTap = [this] { value_.set(toggledValue(value_.get())); };
}

Size MetalToggle::naturalSize(TextCache& text) const {
    const Size caption = text.measure(label_, toggleCaptionStyle());
    return {std::max(kToggleBaseDiameter, caption.width),
            kToggleBaseDiameter + kToggleCaptionSpacing + caption.height};
}

Rect MetalToggle::baseFrame() const {
    return {frame_.midX() - kToggleBaseDiameter * 0.5, frame_.y, kToggleBaseDiameter, kToggleBaseDiameter};
}

Rect MetalToggle::leverFrame() const {
    const LeverGeometry lever = leverGeometry(toggleIsOn(value_.get()));
    const Point c = baseFrame().center();
    return Rect::centered({c.x, c.y + lever.centerOffsetY}, {kToggleLeverWidth, lever.height});
}

Rect MetalToggle::paintBounds() const {
    // The raised lever reaches 20 above the base's centre, plus its shadow.
    const double reach = 20.0 + shadowMargin(3.0) + 4.0;
    const Point c = baseFrame().center();
    return Rect::centered(c, {2 * reach, 2 * reach}).united(frame_).insetBy(-1, -1);
}

bool MetalToggle::hitTest(Point location) const {
    const Point c = baseFrame().center();
    if (std::hypot(location.x - c.x, location.y - c.y) <= kToggleBaseDiameter * 0.5) return true;
    // The lever counts too, where a raised one stands above the base: within half its width of the
    // segment joining the centres of its two ends.
    const Rect lever = leverFrame();
    const double radius = lever.width * 0.5;
    const double y = std::clamp(location.y, lever.minY() + radius, lever.maxY() - radius);
    return std::hypot(location.x - lever.midX(), location.y - y) <= radius;
}

void MetalToggle::draw(cairo_t* cr, RenderContext& ctx) {
    const bool on = toggleIsOn(value_.get());
    drawnOn_ = on;
    drawnOnce_ = true;
    const Rect base = baseFrame();

    ctx.shadows->draw(cr, "toggle.base", base, kToggleBaseShadow, ctx.scale, [](cairo_t* m) {
        pathCircle(m, {0, 0, kToggleBaseDiameter, kToggleBaseDiameter});
        cairo_fill(m);
    });
    pathCircle(cr, base);
    setLinearGradient(cr, {base.midX(), base.minY()}, {base.midX(), base.maxY()},
                      {{0.0, Color::white(0.3)}, {1.0, Color::white(0.1)}});
    cairo_fill(cr);

    const LeverGeometry lever = leverGeometry(on);
    const Rect leverRect = leverFrame();
    ctx.shadows->draw(cr, on ? "toggle.lever.on" : "toggle.lever.off", leverRect, lever.shadow, ctx.scale,
                      [w = leverRect.width, h = leverRect.height](cairo_t* m) {
                          pathCapsule(m, {0, 0, w, h});
                          cairo_fill(m);
                      });
    pathCapsule(cr, leverRect);
    setLinearGradient(cr, {leverRect.midX(), leverRect.minY()}, {leverRect.midX(), leverRect.maxY()},
                      {{0.0, Color::white(0.8)}, {1.0, Color::white(0.4)}});
    cairo_fill(cr);

    const TextStyle style = toggleCaptionStyle();
    const Size caption = ctx.text->measure(label_, style);
    ctx.text->draw(cr, label_, style,
                   {frame_.midX() - caption.width * 0.5, base.maxY() + kToggleCaptionSpacing});
}

} // namespace thraskvell::ui
