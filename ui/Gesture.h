// Pointer gestures for the controls: a drag that starts at once (minimum distance 0) and reports
// its translation from where it began, and a tap that fires when the pointer is released over the
// shape it went down on.
//
// Positions are in the hosting view's logical space, which is never rotated: a control that rotates
// its face still sees plain on-screen movement. Owned by the control; no platform events involved.
// Threads: main.
#pragma once

#include "ui/Geometry.h"

#include <cmath>
#include <functional>

namespace thraskvell::ui {

class DragGesture {
public:
    // Called on the pointer going down (translation 0) and on every move while it is down.
    std::function<void(Point translation)> onChanged;
    std::function<void(Point translation)> onEnded;

    // Thread: main.
    void begin(Point location) {
        active_ = true;
        start_ = location;
        if (onChanged) onChanged({0.0, 0.0});
    }
    void move(Point location) {
        if (active_ && onChanged) onChanged(translation(location));
    }
    void end(Point location) {
        if (!active_) return;
        active_ = false;
        if (onEnded) onEnded(translation(location));
    }
    bool isActive() const { return active_; }

private:
    Point translation(Point location) const { return {location.x - start_.x, location.y - start_.y}; }
    bool active_ = false;
    Point start_{};
};

class TapGesture {
public:
    std::function<void()> onTap;

    // `inside` is whether the pointer is over the control's shape. Thread: main.
    void begin(bool inside) { armed_ = inside; }
    void end(bool inside) {
        const bool fire = armed_ && inside;
        armed_ = false;
        if (fire && onTap) onTap();
    }
    bool isArmed() const { return armed_; }

private:
    bool armed_ = false;
};

// Window systems report single presses with their time; two presses close in time and place make a
// double-click. Thread: main.
class DoubleClickDetector {
public:
    static constexpr double kInterval = 0.4; // seconds
    static constexpr double kSlop = 4.0;     // points

    // Whether this press completes a double-click. A third press starts afresh.
    bool press(Point location, double seconds) {
        const bool twice = pending_ && seconds - time_ >= 0.0 && seconds - time_ <= kInterval &&
                           std::abs(location.x - location_.x) <= kSlop &&
                           std::abs(location.y - location_.y) <= kSlop;
        pending_ = !twice;
        time_ = seconds;
        location_ = location;
        return twice;
    }

private:
    bool pending_ = false;
    double time_ = 0.0;
    Point location_{};
};

// The interface the main view routes pointer events through. Thread: main.
class PointerTarget {
public:
    virtual ~PointerTarget() = default;
    virtual bool hitTest(Point location) const = 0;
    virtual void pointerDown(Point location) = 0;
    virtual void pointerMove(Point location) = 0;
    virtual void pointerUp(Point location) = 0;
    // Sent instead of the second pointerDown of a double-click; its release still follows. Controls
    // without a double-click action take it as the press it also is.
    virtual void pointerDoubleClick(Point location) { pointerDown(location); }
    // Mouse wheel: notches turned, away from the user positive.
    virtual void scrollWheel(Point, double /*notches*/) {}
    // Whether edits are fine (the Shift key), sent whenever it changes and before each press.
    virtual void setFineAdjustment(bool) {}
};

} // namespace thraskvell::ui
