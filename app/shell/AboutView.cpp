#include "app/shell/AboutView.h"

#include <pango/pangocairo.h>

#include <algorithm>

namespace thraskvell {

namespace {

const ui::Color kGold{0.9, 0.7, 0.3, 1.0};

ui::TextStyle titleStyle() {
    return {ui::FontDesign::serif, 28.0, ui::FontWeight::black, kGold, false};
}
ui::TextStyle subtitleStyle() {
    return {ui::FontDesign::system, 15.0, ui::FontWeight::bold, ui::Color::white(0.95), false};
}
ui::TextStyle doneStyle() {
    return {ui::FontDesign::system, 15.0, ui::FontWeight::semibold, kGold, false};
}
constexpr double kBodySize = 14.0;
constexpr double kDonePaddingX = 26.0;
constexpr double kDonePaddingY = 8.0;
constexpr double kSheetCornerRadius = 12.0;

} // namespace

AboutViewLayout layoutAboutView(ui::Size window, const AboutViewMetrics& metrics) {
    const double width = std::max(0.0, std::min(kAboutMaxWidth, window.width - 2.0 * kSheetWindowMargin));
    const double inner = std::max(0.0, width - 2.0 * kAboutPadding);
    const double bodyWidth = std::max(0.0, inner - 2.0 * kAboutBodyPadding);
    const double bodyHeight = metrics.bodyHeight ? metrics.bodyHeight(bodyWidth) : 0.0;
    const ui::Size done{metrics.doneLabel.width + 2.0 * kDonePaddingX,
                        metrics.doneLabel.height + 2.0 * kDonePaddingY};
    const double height = kAboutPadding + metrics.title.height + kAboutSpacing + metrics.subtitle.height +
                          kAboutSpacing + bodyHeight + kAboutSpacing + kAboutDoneGap + done.height +
                          kAboutPadding;

    AboutViewLayout L;
    L.sheet = ui::Rect::centered({window.width * 0.5, window.height * 0.5}, {width, height});
    const double mid = L.sheet.midX();
    double y = L.sheet.y + kAboutPadding;
    L.title = {mid - metrics.title.width * 0.5, y, metrics.title.width, metrics.title.height};
    y += metrics.title.height + kAboutSpacing;
    L.subtitle = {mid - metrics.subtitle.width * 0.5, y, metrics.subtitle.width, metrics.subtitle.height};
    y += metrics.subtitle.height + kAboutSpacing;
    L.body = {mid - bodyWidth * 0.5, y, bodyWidth, bodyHeight};
    y += bodyHeight + kAboutSpacing + kAboutDoneGap;
    L.done = {mid - done.width * 0.5, y, done.width, done.height};
    return L;
}

AboutView::AboutView(std::function<void()> dismiss) : dismiss_(std::move(dismiss)) {
    doneTap_.onTap = [this] { cancel(); };
}

AboutView::~AboutView() {
    if (body_) g_object_unref(body_);
}

double AboutView::bodyHeight(double width) {
    if (!body_) {
        PangoContext* context = pango_font_map_create_context(pango_cairo_font_map_get_default());
        body_ = pango_layout_new(context);
        g_object_unref(context);
        PangoFontDescription* desc = pango_font_description_new();
        pango_font_description_set_family(desc, ui::fontFamilies(ui::FontDesign::system));
        pango_font_description_set_absolute_size(desc, kBodySize * PANGO_SCALE);
        pango_layout_set_font_description(body_, desc);
        pango_font_description_free(desc);
        pango_layout_set_alignment(body_, PANGO_ALIGN_CENTER);
        pango_layout_set_wrap(body_, PANGO_WRAP_WORD_CHAR);
        pango_layout_set_text(body_, kAboutBody, -1);
    }
    pango_layout_set_width(body_, static_cast<int>(width * PANGO_SCALE));
    PangoRectangle logical{};
    pango_layout_get_extents(body_, nullptr, &logical);
    return static_cast<double>(logical.height) / PANGO_SCALE;
}

const AboutViewLayout& AboutView::layout(ui::Size window) {
    if (!laidOut_ || window != layoutWindow_) {
        AboutViewMetrics metrics{
            text_.measure(kAboutTitle, titleStyle()), text_.measure(kAboutSubtitle, subtitleStyle()),
            text_.measure(kAboutDone, doneStyle()), [this](double width) { return bodyHeight(width); }};
        layout_ = layoutAboutView(window, metrics);
        layoutWindow_ = window;
        laidOut_ = true;
    }
    return layout_;
}

void AboutView::draw(cairo_t* cr, ui::Size window, double scale) {
    const auto& L = layout(window);
    cairo_save(cr);
    ui::setSourceColor(cr, {0.0, 0.0, 0.0, 0.5});
    cairo_paint(cr);

    const ui::Shadow shadow{{0.0, 0.0, 0.0, 0.6}, 24.0, 0.0, 8.0};
    shadows_.draw(cr, "sheet", L.sheet, shadow, scale, [&L](cairo_t* m) {
        ui::pathContinuousRoundedRect(m, {0, 0, L.sheet.width, L.sheet.height}, kSheetCornerRadius);
        cairo_fill(m);
    });
    ui::pathContinuousRoundedRect(cr, L.sheet, kSheetCornerRadius);
    ui::setSourceColor(cr, ui::Color::white(0.1));
    cairo_fill(cr);

    text_.draw(cr, kAboutTitle, titleStyle(), {L.title.x, L.title.y});
    text_.draw(cr, kAboutSubtitle, subtitleStyle(), {L.subtitle.x, L.subtitle.y});

    bodyHeight(L.body.width); // the layout's width must match the frame it is drawn in
    ui::setSourceColor(cr, ui::Color::white(0.85));
    cairo_move_to(cr, L.body.x, L.body.y);
    pango_cairo_show_layout(cr, body_);

    const ui::Size label = text_.measure(kAboutDone, doneStyle());
    text_.draw(cr, kAboutDone, doneStyle(),
               {L.done.midX() - label.width * 0.5, L.done.midY() - label.height * 0.5});
    ui::pathContinuousRoundedRect(cr, L.done.insetBy(0.5, 0.5), 8.0);
    ui::setSourceColor(cr, kGold.withOpacity(doneTap_.isArmed() ? 0.35 : 0.7));
    cairo_set_line_width(cr, 1.0);
    cairo_stroke(cr);
    cairo_restore(cr);
}

void AboutView::pointerDown(ui::Point location) {
    doneTap_.begin(laidOut_ && layout_.done.contains(location));
}

void AboutView::pointerUp(ui::Point location) {
    doneTap_.end(laidOut_ && layout_.done.contains(location));
}

void AboutView::cancel() {
    if (dismiss_) dismiss_();
}

} // namespace thraskvell
