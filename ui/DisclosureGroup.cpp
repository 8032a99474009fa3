#include "ui/DisclosureGroup.h"

#include <algorithm>

namespace thraskvell::ui {

DisclosureGroup::DisclosureGroup(std::string label, TextStyle labelStyle, Color accent)
    : label_(std::move(label)), style_(labelStyle), accent_(accent) {
    tap_.onTap = [this] { toggle(); };
}

Size DisclosureGroup::headerNaturalSize(TextCache& text) const {
    const Size labelSize = text.measure(label_, style_);
    return {kDisclosureIndicatorSize + kDisclosureIndicatorGap + labelSize.width,
            std::max(kDisclosureIndicatorSize, labelSize.height)};
}

void DisclosureGroup::toggle() {
    expanded_ = !expanded_;
    if (onToggle) onToggle(expanded_);
}

void DisclosureGroup::drawHeader(cairo_t* cr, RenderContext& ctx) const {
    const double s = kDisclosureIndicatorSize;
    const Point c{header_.x + s * 0.5, header_.midY()};
    cairo_save(cr);
    // The triangle points right when collapsed and down when expanded.
    rotateAbout(cr, c, expanded_ ? 90.0 : 0.0);
    cairo_new_path(cr);
    cairo_move_to(cr, c.x - s * 0.3, c.y - s * 0.4);
    cairo_line_to(cr, c.x + s * 0.4, c.y);
    cairo_line_to(cr, c.x - s * 0.3, c.y + s * 0.4);
    cairo_close_path(cr);
    setSourceColor(cr, accent_);
    cairo_fill(cr);
    cairo_restore(cr);

    const Size labelSize = ctx.text->measure(label_, style_);
    ctx.text->draw(cr, label_, style_,
                   {header_.x + s + kDisclosureIndicatorGap, header_.midY() - labelSize.height * 0.5});
}

} // namespace thraskvell::ui
