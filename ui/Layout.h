// Stack layout arithmetic for the control surface: vertical and horizontal stacks with spacing,
// per-item margins and flexible space that shares the leftover length equally.
//
// Plain functions over sizes and rectangles, no drawing, so layouts are tested without a display.
// Threads: any (pure).
#pragma once

#include "ui/Geometry.h"

#include <span>
#include <vector>

namespace thraskvell::ui {

struct EdgeInsets {
    double top = 0.0;
    double leading = 0.0;
    double bottom = 0.0;
    double trailing = 0.0;
};

struct StackItem {
    Size size;             // natural size of the content (ignored along the axis for flexible items)
    EdgeInsets margin;     // space the item keeps around its content
    bool flexible = false; // flexible space: takes a share of the leftover length, never less than 0

    static StackItem fixed(Size size, EdgeInsets margin = {}) { return {size, margin, false}; }
    static StackItem space() { return {{0, 0}, {}, true}; }
};

enum class Axis { vertical, horizontal };

// Natural size of a stack: the items and the spacing along the axis, the widest item across it.
Size stackNaturalSize(Axis axis, std::span<const StackItem> items, double spacing);

// Content frames of the items placed in `bounds`, centred across the axis. Flexible items get
// equal shares of what is left along the axis (0 when nothing is left); without flexible items the
// run is centred along the axis. Returned in item order.
std::vector<Rect> layoutStack(Axis axis, const Rect& bounds, std::span<const StackItem> items,
                              double spacing);

} // namespace thraskvell::ui
