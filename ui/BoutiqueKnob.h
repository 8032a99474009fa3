// BoutiqueKnob: the rotary knob of the continuous parameters. A 56-point brass face with a dark cap
// and a gold pointer, turned through 270°, over an upper-case serif caption. A vertical drag edits
// the value from what it was when the press began, one unit per point (a tenth with Shift), clamped
// to 0…100; a press and release without vertical movement writes nothing, so a value set from
// outside (automation, a preset) stays as it is. A double-click restores the default; the wheel
// moves the value by 1 per notch (0.1 with Shift).
//
// The knob holds gesture state only; the value lives behind its binding, so it never knows which
// parameter it shows. Owned by the view that places it.
// Threads: main.
#pragma once

#include "platform/Binding.h"
#include "ui/Canvas.h"
#include "ui/Gesture.h"

#include <cmath>
#include <string>

namespace thraskvell::ui {

// ---- Arithmetic (thread: any) ----------------------------------------------------------------
inline constexpr double kKnobFaceDiameter = 56.0;
inline constexpr double kKnobCapDiameter = 50.0;
inline constexpr double kKnobCaptionSpacing = 12.0;
inline constexpr double kKnobPointerWidth = 3.0;
inline constexpr double kKnobPointerHeight = 14.0;
inline constexpr double kKnobPointerLift = 17.0;
inline constexpr Shadow kKnobBodyShadow{{0, 0, 0, 0.8}, 4.0, 0.0, 4.0};

// Clockwise rotation of the face for a value, unclamped: 0 → −135°, 50 → 0°, 100 → +135°. A NaN is
// drawn as 0 and an infinity as the nearer end, so a bad value from a host cannot break the drawing.
double knobAngleDegrees(float value);
// The value a drag writes: the anchor minus the vertical translation (up is negative), in 0…100
// (0 when the anchor is NaN).
float knobDragValue(float anchor, double translationY);
TextStyle knobCaptionStyle();

class BoutiqueKnob : public PointerTarget {
public:
    BoutiqueKnob(std::string label, Binding<float> value, float defaultValue);

    // Natural size: the face above the caption. Thread: main.
    Size naturalSize(TextCache& text) const;
    // Places the knob; `frame` has the natural size. Thread: main.
    void setFrame(const Rect& frame) { frame_ = frame; }
    const Rect& frame() const { return frame_; }
    Rect faceFrame() const;
    // Everything the knob may paint, shadow included.
    Rect paintBounds() const;

    void draw(cairo_t* cr, RenderContext& ctx);
    // Whether the bound value differs from the one last drawn (a NaN drawn once stays drawn). Main.
    bool needsRedraw() const {
        const float value = value_.get();
        return value != drawnValue_ && !(std::isnan(value) && std::isnan(drawnValue_));
    }

    bool hitTest(Point location) const override;
    void pointerDown(Point location) override;
    void pointerMove(Point location) override;
    void pointerUp(Point location) override;
    void pointerDoubleClick(Point) override { value_.set(defaultValue_); }
    void scrollWheel(Point, double notches) override;
    void setFineAdjustment(bool fine) override;

    const std::string& label() const { return label_; }
    float value() const { return value_.get(); }

private:
    std::string label_;
    Binding<float> value_;
    float defaultValue_;
    float anchor_ = 0.0f;
    bool moved_ = false;
    bool fine_ = false;
    Point lastLocation_{};
    float drawnValue_ = -1.0e30f;
    Rect frame_{};
    DragGesture drag_;
};

} // namespace thraskvell::ui
