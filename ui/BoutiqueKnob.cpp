#include "ui/BoutiqueKnob.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace thraskvell::ui {

double knobAngleDegrees(float value) {
    // A non-finite angle would put the whole drawing context into an error state, blanking the editor.
    if (std::isnan(value)) return -135.0;
    if (std::isinf(value)) return value > 0 ? 135.0 : -135.0;
    return static_cast<double>(value) * 2.7 - 135.0;
}

float knobDragValue(float anchor, double translationY) {
    const double proposed = static_cast<double>(anchor) - translationY;
    if (std::isnan(proposed)) return 0.0f; // never hand a NaN on to the parameter
    if (proposed <= 0.0) return 0.0f;
    if (proposed > 100.0) return 100.0f;
    return static_cast<float>(proposed);
}

TextStyle knobCaptionStyle() {
    return {FontDesign::serif, 11.0, FontWeight::bold, {0.8, 0.6, 0.2, 1.0}, true};
}

namespace {

constexpr double kFineFactor = 0.1;

} // namespace

BoutiqueKnob::BoutiqueKnob(std::string label, Binding<float> value, float defaultValue)
    : label_(std::move(label)), value_(std::move(value)), defaultValue_(defaultValue) {
    drag_.onChanged = [this](Point translation) {
        if (!moved_ && translation.y == 0.0) return;
        moved_ = true;
        value_.set(knobDragValue(anchor_, translation.y * (fine_ ? kFineFactor : 1.0)));
    };
}

void BoutiqueKnob::pointerDown(Point location) {
    anchor_ = value_.get();
    moved_ = false;
    lastLocation_ = location;
    drag_.begin(location);
}

void BoutiqueKnob::pointerMove(Point location) {
    lastLocation_ = location;
    drag_.move(location);
}

void BoutiqueKnob::pointerUp(Point location) {
    drag_.end(location);
}

void BoutiqueKnob::scrollWheel(Point, double notches) {
    value_.set(knobDragValue(value_.get(), -notches * (fine_ ? kFineFactor : 1.0)));
}

void BoutiqueKnob::setFineAdjustment(bool fine) {
    if (fine == fine_) return;
    fine_ = fine;
    // Mid-drag the drag starts over from here, so the value does not leap when the step changes.
    if (drag_.isActive()) {
        anchor_ = value_.get();
        drag_.begin(lastLocation_);
    }
}

Size BoutiqueKnob::naturalSize(TextCache& text) const {
    const Size caption = text.measure(label_, knobCaptionStyle());
    return {std::max(kKnobFaceDiameter, caption.width),
            kKnobFaceDiameter + kKnobCaptionSpacing + caption.height};
}

Rect BoutiqueKnob::faceFrame() const {
    return {frame_.midX() - kKnobFaceDiameter * 0.5, frame_.y, kKnobFaceDiameter, kKnobFaceDiameter};
}

Rect BoutiqueKnob::paintBounds() const {
    // The shadow turns with the face, so the reach is the same at every angle.
    const double reach = kKnobFaceDiameter * 0.5 + std::hypot(kKnobBodyShadow.dx, kKnobBodyShadow.dy) +
                         shadowMargin(kKnobBodyShadow.radius);
    const Rect face = Rect::centered(faceFrame().center(), {2 * reach, 2 * reach});
    return face.united(frame_).insetBy(-1, -1);
}

bool BoutiqueKnob::hitTest(Point location) const {
    const Point c = faceFrame().center();
    return std::hypot(location.x - c.x, location.y - c.y) <= kKnobFaceDiameter * 0.5;
}

namespace {

// The face (shadow, body, cap, pointer) drawn upright with its centre at the origin.
void drawFaceUpright(cairo_t* cr, RenderContext& ctx) {
    const Rect face = Rect::centered({0, 0}, {kKnobFaceDiameter, kKnobFaceDiameter});
    ctx.shadows->draw(cr, "knob.body", face, kKnobBodyShadow, ctx.scale, [](cairo_t* m) {
        pathCircle(m, {0, 0, kKnobFaceDiameter, kKnobFaceDiameter});
        cairo_fill(m);
    });
    pathCircle(cr, face);
    setLinearGradient(cr, {face.minX(), face.minY()}, {face.maxX(), face.maxY()},
                      {{0.0, {0.8, 0.6, 0.2, 1.0}}, {1.0, {0.3, 0.2, 0.05, 1.0}}});
    cairo_fill(cr);
    pathCircle(cr, Rect::centered({0, 0}, {kKnobCapDiameter, kKnobCapDiameter}));
    setRadialGradient(cr, {0, 0}, 2.0, 28.0, {{0.0, Color::white(0.15)}, {1.0, Color::white(0.0)}});
    cairo_fill(cr);
    pathRect(cr, Rect::centered({0, -kKnobPointerLift}, {kKnobPointerWidth, kKnobPointerHeight}));
    setSourceColor(cr, {0.9, 0.7, 0.3, 1.0});
    cairo_fill(cr);
}

} // namespace

void BoutiqueKnob::draw(cairo_t* cr, RenderContext& ctx) {
    const float value = value_.get();
    drawnValue_ = value;
    const Rect face = faceFrame();
    const Point c = face.center();

    cairo_save(cr);
    cairo_translate(cr, c.x, c.y);
    rotateAbout(cr, {0, 0}, knobAngleDegrees(value));
    drawFaceUpright(cr, ctx);
    cairo_restore(cr);

    const TextStyle style = knobCaptionStyle();
    const Size caption = ctx.text->measure(label_, style);
    ctx.text->draw(cr, label_, style,
                   {frame_.midX() - caption.width * 0.5, face.maxY() + kKnobCaptionSpacing});
}

} // namespace thraskvell::ui
