// MetalToggle: the small lever switch of the switch parameters. A dark 30-point base with a pale
// capsule lever that stands up when on and drops when off, over a monospaced caption shown as
// given. A tap on the base or on the lever flips the bound value between 0 and 1.
//
// Holds no state of its own: on and off are read from the binding at every redraw. Owned by the
// view that places it. Threads: main.
#pragma once

#include "platform/Binding.h"
#include "ui/Canvas.h"
#include "ui/Gesture.h"

#include <string>

namespace thraskvell::ui {

// ---- Arithmetic (thread: any) ----------------------------------------------------------------
inline constexpr double kToggleBaseDiameter = 30.0;
inline constexpr double kToggleLeverWidth = 12.0;
inline constexpr double kToggleCaptionSpacing = 8.0;
inline constexpr Shadow kToggleBaseShadow{{0, 0, 0, 0.33}, 2.0, 0.0, 0.0};

struct LeverGeometry {
    double height;        // points
    double centerOffsetY; // from the base's centre, downwards positive
    Shadow shadow;
};

bool toggleIsOn(float value);
// The value a tap writes.
float toggledValue(float value);
LeverGeometry leverGeometry(bool on);
TextStyle toggleCaptionStyle();

class MetalToggle : public PointerTarget {
public:
    MetalToggle(std::string label, Binding<float> value);

    // Thread: main, for all members.
    Size naturalSize(TextCache& text) const;
    void setFrame(const Rect& frame) { frame_ = frame; }
    const Rect& frame() const { return frame_; }
    Rect baseFrame() const;
    Rect leverFrame() const;
    Rect paintBounds() const;

    void draw(cairo_t* cr, RenderContext& ctx);
    bool needsRedraw() const { return toggleIsOn(value_.get()) != drawnOn_ || !drawnOnce_; }

    bool hitTest(Point location) const override;
    void pointerDown(Point location) override { tap_.begin(hitTest(location)); }
    void pointerMove(Point) override {}
    void pointerUp(Point location) override { tap_.end(hitTest(location)); }

    const std::string& label() const { return label_; }
    float value() const { return value_.get(); }

private:
    std::string label_;
    Binding<float> value_;
    Rect frame_{};
    TapGesture tap_;
    bool drawnOn_ = false;
    bool drawnOnce_ = false;
};

} // namespace thraskvell::ui
