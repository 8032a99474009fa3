// Pointer gestures for the controls: a drag that starts at once (minimum distance 0) and reports
// its translation from where it began, and a tap that fires when the pointer is released over the
// shape it went down on.
//
// Positions are in the hosting view's logical space, which is never rotated: a control that rotates
// its face still sees plain on-screen movement. Owned by the control; no platform events involved.
// Threads: main.
#pragma once

#include "ui/Geometry.h"

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

// The interface the main view routes pointer events through. Thread: main.
class PointerTarget {
public:
    virtual ~PointerTarget() = default;
    virtual bool hitTest(Point location) const = 0;
    virtual void pointerDown(Point location) = 0;
    virtual void pointerMove(Point location) = 0;
    virtual void pointerUp(Point location) = 0;
};

} // namespace thraskvell::ui
