// VellAltarView: the centre-piece picture. The "thrask_altar" image, a warm glow screened over it
// that grows with sustain, a dark red shade multiplied into its lower right when asymmetry is on,
// and a shadow that turns from black to a red halo when bass boost is on. Glow and shade are
// masked by the picture, so they only light the altar itself.
//
// Reads its three bindings and never writes them; it has no gestures. Each visual change is
// animated on the frame clock (sustain: ease-out 0.1 s, asymmetry: ease-in-out 0.4 s, bass boost:
// spring, response 0.4 s, damping 0.7). Owned by the main view. Threads: main.
#pragma once

#include "platform/Binding.h"
#include "ui/Animation.h"
#include "ui/Canvas.h"

namespace thraskvell::ui {

// ---- Arithmetic (thread: any) ----------------------------------------------------------------
inline constexpr Size kAltarFrameSize{220.0, 260.0};
inline constexpr double kAltarBoostBrightness = 0.03;

double altarGlowOpacity(float sustain);    // sustain ÷ 100, unclamped; NaN → 0, ±infinity → 1 / 0
double altarShadeOpacity(float asymmetry); // 1 when asymmetry > 0.5, else 0
// The shadow part-way (progress 0 = off, 1 = on; a spring may overshoot) through a bass boost change.
Shadow altarShadowBetween(double progress);

AnimationCurve altarSustainCurve();
AnimationCurve altarAsymmetryCurve();
AnimationCurve altarBassBoostCurve();

// The whole look of the altar at one moment.
struct AltarAppearance {
    double glowOpacity = 0.0;
    double shadeOpacity = 0.0;
    double brightness = 0.0;
    Shadow shadow;
};

class VellAltarView {
public:
    VellAltarView(Binding<float> sustain, Binding<float> asymmetry, Binding<float> bassBoost);

    // Thread: main, for all members.
    void setFrame(const Rect& frame) { frame_ = frame; }
    const Rect& frame() const { return frame_; }
    Rect paintBounds() const;

    // Reads the bindings at frame-clock time `now`; a changed value starts its animation. The first
    // call takes the values as they are, without animating.
    void update(double now);
    AltarAppearance appearanceAt(double now) const;
    bool isAnimating(double now) const;
    // Whether drawing now would differ from the last drawing.
    bool needsRedraw(double now) const;

    void draw(cairo_t* cr, RenderContext& ctx);

private:
    void buildLayers(double scale);
    void compose(const AltarAppearance& appearance);
    void prepareBase(double brightness);

    Binding<float> sustain_;
    Binding<float> asymmetry_;
    Binding<float> bassBoost_;
    Rect frame_{};
    bool started_ = false;
    AnimatedValue<double> glow_;
    AnimatedValue<double> shade_;
    AnimatedValue<double> boost_; // 0 off … 1 on; brightness and shadow follow it

    SurfacePtr picture_; // the decoded asset
    Size pictureSize_{}; // in points
    double layersScale_ = 0.0;
    SurfacePtr fitted_;     // the picture fitted into the frame, at the device scale
    SurfacePtr glowLayer_;  // glow already masked by the picture
    SurfacePtr shadeLayer_; // shade already masked by the picture
    SurfacePtr composite_;  // picture, brightness, glow and shade for the look in composed_
    AltarAppearance composed_{};
    SurfacePtr base_;      // the picture with the brightness in baseBrightness_
    SurfacePtr glowDelta_; // what the glow at full opacity adds to base_
    double baseBrightness_ = 0.0;
    bool baseValid_ = false;
    bool composedValid_ = false;
    AltarAppearance drawn_{};
    bool drawnOnce_ = false;
};

} // namespace thraskvell::ui
