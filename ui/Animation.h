// Property animations driven by a frame clock: timing curves (ease-out, ease-in-out, spring) as
// plain functions, and AnimatedValue, which interpolates one property from where it is towards a
// new target whenever the target changes.
//
// Owned by the view whose property moves. Time is whatever the host's frame clock reports, in
// seconds; nothing here reads a clock itself, so tests drive it with chosen sample times.
// Threads: main.
#pragma once

#include "ui/Geometry.h"

namespace thraskvell::ui {

struct AnimationCurve {
    enum class Kind { easeOut, easeInOut, spring };
    Kind kind = Kind::easeOut;
    double duration = 0.0;        // easeOut / easeInOut, seconds
    double response = 0.0;        // spring: period of the undamped oscillation, seconds
    double dampingFraction = 1.0; // spring: 1 is critical damping, below 1 overshoots

    static AnimationCurve easeOut(double duration) { return {Kind::easeOut, duration, 0.0, 1.0}; }
    static AnimationCurve easeInOut(double duration) { return {Kind::easeInOut, duration, 0.0, 1.0}; }
    static AnimationCurve spring(double response, double dampingFraction) {
        return {Kind::spring, 0.0, response, dampingFraction};
    }
};

// Cubic Bézier timing function through (0,0), (x1,y1), (x2,y2), (1,1), evaluated at time fraction x.
double cubicBezierTiming(double x1, double y1, double x2, double y2, double x);

// Progress 0 → 1 of a curve `elapsed` seconds after it started; a spring may overshoot 1.
// Thread: any.
double animationProgress(const AnimationCurve& curve, double elapsed);

// Seconds after which the curve counts as settled (a spring within 0.1 % of its target).
// Thread: any.
double animationSettleTime(const AnimationCurve& curve);

// One animated property of type T (double or Color); T needs lerp(T, T, double).
template <typename T> class AnimatedValue {
public:
    explicit AnimatedValue(T initial = T{}) : from_(initial), to_(initial) {}

    // Jumps without animating. Thread: main.
    void reset(T value) {
        from_ = to_ = value;
        active_ = false;
    }

    // Starts moving from the value shown at `now` towards `target`; no-op when already heading there.
    // Thread: main.
    void animateTo(T target, const AnimationCurve& curve, double now) {
        if (target == to_) return;
        from_ = valueAt(now);
        to_ = target;
        curve_ = curve;
        start_ = now;
        active_ = true;
    }

    // Thread: main.
    T valueAt(double now) const {
        if (!active_) return to_;
        const double elapsed = now - start_;
        if (elapsed >= animationSettleTime(curve_)) return to_;
        return lerp(from_, to_, animationProgress(curve_, elapsed < 0 ? 0 : elapsed));
    }

    // Thread: main.
    bool isAnimating(double now) const { return active_ && now - start_ < animationSettleTime(curve_); }
    T target() const { return to_; }

private:
    T from_;
    T to_;
    AnimationCurve curve_{};
    double start_ = 0.0;
    bool active_ = false;
};

} // namespace thraskvell::ui
