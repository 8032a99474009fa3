// A disclosure group: a header that toggles whether its content is shown. The header is a
// disclosure triangle tinted with the accent colour followed by the label; activating anywhere on
// the header row flips the state. The group owns only its state and its header's look; the view
// that uses it lays out and draws the content.
//
// Owned by the view that shows it. Threads: main.
#pragma once

#include "ui/Canvas.h"
#include "ui/Gesture.h"

#include <functional>
#include <string>

namespace thraskvell::ui {

inline constexpr double kDisclosureIndicatorSize = 10.0;
inline constexpr double kDisclosureIndicatorGap = 6.0;
inline constexpr double kDisclosureContentSpacing = 6.0;

class DisclosureGroup : public PointerTarget {
public:
    DisclosureGroup(std::string label, TextStyle labelStyle, Color accent);

    // Called after each toggle with the new state. Thread: main.
    std::function<void(bool expanded)> onToggle;

    // Thread: main, for all members.
    Size headerNaturalSize(TextCache& text) const;
    void setHeaderFrame(const Rect& frame) { header_ = frame; }
    const Rect& headerFrame() const { return header_; }

    bool isExpanded() const { return expanded_; }
    void toggle();

    void drawHeader(cairo_t* cr, RenderContext& ctx) const;

    bool hitTest(Point location) const override { return header_.contains(location); }
    void pointerDown(Point location) override { tap_.begin(hitTest(location)); }
    void pointerMove(Point) override {}
    void pointerUp(Point location) override { tap_.end(hitTest(location)); }

private:
    std::string label_;
    TextStyle style_;
    Color accent_;
    Rect header_{};
    bool expanded_ = false;
    TapGesture tap_;
};

} // namespace thraskvell::ui
