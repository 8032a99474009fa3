#include "ui/Layout.h"

#include <algorithm>

namespace thraskvell::ui {

namespace {

double along(Axis axis, const StackItem& item) {
    const double margins = axis == Axis::vertical ? item.margin.top + item.margin.bottom
                                                  : item.margin.leading + item.margin.trailing;
    return (item.flexible ? 0.0 : (axis == Axis::vertical ? item.size.height : item.size.width)) + margins;
}

double across(Axis axis, const StackItem& item) {
    return axis == Axis::vertical ? item.size.width + item.margin.leading + item.margin.trailing
                                  : item.size.height + item.margin.top + item.margin.bottom;
}

} // namespace

Size stackNaturalSize(Axis axis, std::span<const StackItem> items, double spacing) {
    double length = items.empty() ? 0.0 : spacing * static_cast<double>(items.size() - 1);
    double breadth = 0.0;
    for (const auto& item : items) {
        length += along(axis, item);
        breadth = std::max(breadth, across(axis, item));
    }
    return axis == Axis::vertical ? Size{breadth, length} : Size{length, breadth};
}

std::vector<Rect> layoutStack(Axis axis, const Rect& bounds, std::span<const StackItem> items,
                              double spacing) {
    const Size natural = stackNaturalSize(axis, items, spacing);
    const double available = axis == Axis::vertical ? bounds.height : bounds.width;
    const double used = axis == Axis::vertical ? natural.height : natural.width;
    const auto flexibleCount =
        std::count_if(items.begin(), items.end(), [](const auto& i) { return i.flexible; });
    const double leftover = std::max(0.0, available - used);
    const double share = flexibleCount > 0 ? leftover / static_cast<double>(flexibleCount) : 0.0;

    double cursor =
        (axis == Axis::vertical ? bounds.y : bounds.x) + (flexibleCount > 0 ? 0.0 : (available - used) * 0.5);
    std::vector<Rect> frames;
    frames.reserve(items.size());
    for (const auto& item : items) {
        if (axis == Axis::vertical) {
            cursor += item.margin.top;
            const double height = item.flexible ? share : item.size.height;
            const double width = item.flexible ? bounds.width : item.size.width;
            const double slot = bounds.width - item.margin.leading - item.margin.trailing;
            const double x = bounds.x + item.margin.leading + (slot - width) * 0.5;
            frames.push_back({x, cursor, width, height});
            cursor += height + item.margin.bottom + spacing;
        } else {
            cursor += item.margin.leading;
            const double width = item.flexible ? share : item.size.width;
            const double height = item.flexible ? bounds.height : item.size.height;
            const double slot = bounds.height - item.margin.top - item.margin.bottom;
            const double y = bounds.y + item.margin.top + (slot - height) * 0.5;
            frames.push_back({cursor, y, width, height});
            cursor += width + item.margin.trailing + spacing;
        }
    }
    return frames;
}

} // namespace thraskvell::ui
