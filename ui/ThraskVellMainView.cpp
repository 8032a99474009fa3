#include "ui/ThraskVellMainView.h"

#include "dsp/ParameterSpec.h"
#include "ui/Layout.h"

#include <algorithm>
#include <string>

namespace thraskvell::ui {

namespace {

// Which identifier each control edits. Knob captions are upper-cased by the knob itself.
struct ControlBinding {
    const char* caption;
    const char* identifier;
};
constexpr std::array<ControlBinding, 8> kKnobBindings{{
    {"Trim", "trim"},
    {"Sustain", "sustain"},
    {"Tone", "tone"},
    {"Blend", "blend"},
    {"Volume", "volume"},
    {"Gate", "gate"},
    {"Thresh", "threshold"},
    {"Ratio", "ratio"},
}};
constexpr std::array<ControlBinding, 4> kToggleBindings{{
    {"DRY", "dryMode"},
    {"BASS", "bassBoost"},
    {"ASYM", "asymmetry"},
    {"COMP", "dynamicsEnable"},
}};
constexpr std::size_t kMainKnobCount = 5;

constexpr const char* kTitle = "THRASK VELL";
constexpr const char* kPanelHeader = "THE BUTCHER SHOP ▼";
constexpr Color kPanelRed{0.9, 0.2, 0.2, 1.0};

constexpr double kTitleTopMargin = 25.0;
constexpr double kTrimBottomMargin = 20.0;
constexpr double kMiddleRowBottomMargin = 30.0;
constexpr double kPanelSideMargin = 60.0;
constexpr double kPanelBottomMargin = 25.0;
constexpr double kPanelContentBottomMargin = 10.0;
constexpr double kPanelCornerRadius = 12.0;

template <std::size_t N> std::array<StackItem, N> fixedItems(const std::array<Size, N>& sizes) {
    std::array<StackItem, N> items{};
    for (std::size_t i = 0; i < N; ++i)
        items[i] = StackItem::fixed(sizes[i]);
    return items;
}

template <std::size_t N>
void placeRow(const Rect& row, const std::array<StackItem, N>& items, double spacing, Rect* out) {
    const auto frames = layoutStack(Axis::horizontal, row, items, spacing);
    for (std::size_t i = 0; i < N; ++i)
        out[i] = frames[i];
}

} // namespace

TextStyle titleTextStyle() {
    return {FontDesign::serif, 30.0, FontWeight::black, {0.9, 0.7, 0.3, 1.0}, false};
}

Shadow titleShadow() {
    return {{0.0, 0.0, 0.0, 1.0}, 4.0, 0.0, 2.0};
}

TextStyle panelHeaderTextStyle() {
    return {FontDesign::serif, 12.0, FontWeight::bold, kPanelRed, false};
}

MainViewLayout layoutMainView(Size size, const MainViewMetrics& m, bool showAdvanced) {
    const std::array<StackItem, 3> middle{StackItem::fixed(m.mainKnobs[1]), StackItem::fixed(m.altar),
                                          StackItem::fixed(m.mainKnobs[2])};
    const std::array<StackItem, 2> lower{StackItem::fixed(m.mainKnobs[3]), StackItem::fixed(m.mainKnobs[4])};
    const auto switchItems = fixedItems(m.switches);
    const auto panelKnobItems = fixedItems(m.panelKnobs);
    const Size middleSize = stackNaturalSize(Axis::horizontal, middle, 40.0);
    const Size lowerSize = stackNaturalSize(Axis::horizontal, lower, 60.0);
    const Size switchRow = stackNaturalSize(Axis::horizontal, switchItems, 40.0);
    const Size knobRow = stackNaturalSize(Axis::horizontal, panelKnobItems, 50.0);
    const std::array<StackItem, 2> panelRows{StackItem::fixed(switchRow), StackItem::fixed(knobRow)};
    const Size inner = stackNaturalSize(Axis::vertical, panelRows, 20.0);
    const double contentHeight = inner.height + 2.0 * kPanelStandardPadding;
    const double panelWidth = std::max(0.0, size.width - 2.0 * kPanelSideMargin);
    const double panelHeight =
        m.header.height +
        (showAdvanced ? kDisclosureContentSpacing + contentHeight + kPanelContentBottomMargin : 0.0);

    auto column = [&](double squeeze) {
        return std::array<StackItem, 7>{
            StackItem::fixed(m.title, {kTitleTopMargin, 0, 0, 0}),
            StackItem::space(),
            StackItem::fixed(m.mainKnobs[0], {0, 0, kTrimBottomMargin * squeeze, 0}),
            StackItem::fixed(middleSize, {0, 0, kMiddleRowBottomMargin * squeeze, 0}),
            StackItem::fixed(lowerSize),
            StackItem::space(),
            StackItem::fixed({panelWidth, panelHeight},
                             {0, kPanelSideMargin, kPanelBottomMargin, kPanelSideMargin}),
        };
    };
    // When the open panel does not fit, the two gaps between the knob rows give way first, so the
    // title and the panel both stay inside the window.
    double squeeze = 1.0;
    const double natural = stackNaturalSize(Axis::vertical, column(1.0), 0.0).height;
    if (natural > size.height)
        squeeze = std::max(0.0, 1.0 - (natural - size.height) / (kTrimBottomMargin + kMiddleRowBottomMargin));
    const auto items = column(squeeze);
    const auto frames = layoutStack(Axis::vertical, {0, 0, size.width, size.height}, items, 0.0);

    MainViewLayout L{};
    L.title = frames[0];
    L.topSpace = frames[1];
    L.mainKnobs[0] = frames[2];
    Rect middleFrames[3];
    placeRow(frames[3], middle, 40.0, middleFrames);
    L.mainKnobs[1] = middleFrames[0];
    L.altar = middleFrames[1];
    L.mainKnobs[2] = middleFrames[2];
    Rect lowerFrames[2];
    placeRow(frames[4], lower, 60.0, lowerFrames);
    L.mainKnobs[3] = lowerFrames[0];
    L.mainKnobs[4] = lowerFrames[1];
    L.bottomSpace = frames[5];
    L.panel = frames[6];
    L.header = {L.panel.x, L.panel.y, L.panel.width, m.header.height};
    if (showAdvanced) {
        L.content = {L.panel.x, L.header.maxY() + kDisclosureContentSpacing, L.panel.width, contentHeight};
        const auto rows = layoutStack(
            Axis::vertical, L.content.insetBy(kPanelStandardPadding, kPanelStandardPadding), panelRows, 20.0);
        placeRow(rows[0], switchItems, 40.0, L.switches.data());
        placeRow(rows[1], panelKnobItems, 50.0, L.panelKnobs.data());
    }
    return L;
}

ThraskVellMainView::ThraskVellMainView(std::shared_ptr<ThraskVellViewModel> viewModel)
    : viewModel_(std::move(viewModel)),
      altar_(binding("sustain"), binding("asymmetry"), binding("bassBoost")),
      panel_(kPanelHeader, panelHeaderTextStyle(), kPanelRed) {
    for (std::size_t i = 0; i < knobs_.size(); ++i)
        knobs_[i] = std::make_unique<BoutiqueKnob>(
            kKnobBindings[i].caption, binding(kKnobBindings[i].identifier),
            thraskvell::defaultValue(kKnobBindings[i].identifier).value_or(0.0f));
    for (std::size_t i = 0; i < toggles_.size(); ++i)
        toggles_[i] =
            std::make_unique<MetalToggle>(kToggleBindings[i].caption, binding(kToggleBindings[i].identifier));
    subscription_ = viewModel_->objectWillChange().sink([this] { modelChanged_ = true; });
    panel_.onToggle = [this](bool) {
        applyLayout();
        needsFullRepaint_ = true;
    };
}

ThraskVellMainView::~ThraskVellMainView() = default;

Binding<float> ThraskVellMainView::binding(std::string_view identifier) const {
    return Binding<float>(
        [model = viewModel_, id = std::string(identifier)] { return model->value(id); },
        [model = viewModel_, id = std::string(identifier)](float v) { model->setParameterValue(id, v); });
}

void ThraskVellMainView::setSize(Size size) {
    const Size clamped{std::max(size.width, kMainViewMinimumSize.width),
                       std::max(size.height, kMainViewMinimumSize.height)};
    if (clamped == size_) return;
    size_ = clamped;
    applyLayout();
    needsFullRepaint_ = true;
}

void ThraskVellMainView::measure() {
    MainViewMetrics m;
    m.title = text_.measure(kTitle, titleTextStyle());
    for (std::size_t i = 0; i < kMainKnobCount; ++i)
        m.mainKnobs[i] = knobs_[i]->naturalSize(text_);
    m.header = panel_.headerNaturalSize(text_);
    for (std::size_t i = 0; i < toggles_.size(); ++i)
        m.switches[i] = toggles_[i]->naturalSize(text_);
    for (std::size_t i = 0; i < 3; ++i)
        m.panelKnobs[i] = knobs_[kMainKnobCount + i]->naturalSize(text_);
    metrics_ = m;
}

const MainViewLayout& ThraskVellMainView::layout() {
    if (!layout_) applyLayout();
    return *layout_;
}

void ThraskVellMainView::applyLayout() {
    if (!metrics_) measure();
    layout_ = layoutMainView(size_, *metrics_, panel_.isExpanded());
    const auto& L = *layout_;
    for (std::size_t i = 0; i < kMainKnobCount; ++i)
        knobs_[i]->setFrame(L.mainKnobs[i]);
    for (std::size_t i = 0; i < 3; ++i)
        knobs_[kMainKnobCount + i]->setFrame(L.panelKnobs[i]);
    for (std::size_t i = 0; i < toggles_.size(); ++i)
        toggles_[i]->setFrame(L.switches[i]);
    altar_.setFrame(L.altar);
    panel_.setHeaderFrame(L.header);
}

Rect ThraskVellMainView::dirtyRect(double now) {
    const Rect all{0, 0, size_.width, size_.height};
    if (needsFullRepaint_ || !layout_) return all;
    Rect dirty{};
    const std::size_t knobCount = panel_.isExpanded() ? knobs_.size() : kMainKnobCount;
    for (std::size_t i = 0; i < knobCount; ++i)
        if (knobs_[i]->needsRedraw()) dirty = dirty.united(knobs_[i]->paintBounds());
    if (panel_.isExpanded())
        for (const auto& toggle : toggles_)
            if (toggle->needsRedraw()) dirty = dirty.united(toggle->paintBounds());
    if (altar_.needsRedraw(now) || altar_.isAnimating(now)) dirty = dirty.united(altar_.paintBounds());
    modelChanged_ = false;
    return dirty;
}

bool ThraskVellMainView::tick(double now) {
    altar_.update(now);
    if (needsFullRepaint_) return true;
    const Rect dirty = dirtyRect(now);
    return dirty.width > 0 && dirty.height > 0;
}

void ThraskVellMainView::drawBackground(cairo_t* cr, double scale) {
    if (!background_ || backgroundSize_ != size_ || backgroundScale_ != scale) {
        backgroundSize_ = size_;
        backgroundScale_ = scale;
        background_.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24,
                                                     static_cast<int>(std::ceil(size_.width * scale)),
                                                     static_cast<int>(std::ceil(size_.height * scale))));
        cairo_surface_set_device_scale(background_.get(), scale, scale);
        cairo_t* bg = cairo_create(background_.get());
        setRadialGradient(bg, {size_.width * 0.5, size_.height * 0.5}, 100.0, 700.0,
                          {{0.0, {0.15, 0.02, 0.02, 1.0}}, {1.0, {0.05, 0.0, 0.0, 1.0}}});
        cairo_paint(bg);
        cairo_destroy(bg);
    }
    cairo_set_source_surface(cr, background_.get(), 0, 0);
    cairo_paint(cr);
}

void ThraskVellMainView::drawTitle(cairo_t* cr, RenderContext& ctx) {
    const Rect& frame = layout_->title;
    const Shadow shadow = titleShadow();
    ctx.shadows->draw(cr, "title", frame, shadow, ctx.scale, [this](cairo_t* m) {
        text_.draw(m, kTitle, titleTextStyle(), {0, 0});
    });
    text_.draw(cr, kTitle, titleTextStyle(), {frame.x, frame.y});
}

void ThraskVellMainView::drawPanel(cairo_t* cr, RenderContext& ctx, const std::optional<Rect>& dirty) {
    const auto& L = *layout_;
    if (!dirty || dirty->intersects(L.header)) panel_.drawHeader(cr, ctx);
    if (!panel_.isExpanded()) return;

    cairo_save(cr);
    pathContinuousRoundedRect(cr, L.content, kPanelCornerRadius);
    cairo_clip_preserve(cr);
    setSourceColor(cr, {0.0, 0.0, 0.0, 0.6});
    cairo_fill(cr);
    cairo_restore(cr);
    cairo_save(cr);
    pathContinuousRoundedRect(cr, L.content, kPanelCornerRadius);
    cairo_set_line_width(cr, 1.0);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    cairo_set_line_join(cr, CAIRO_LINE_JOIN_MITER);
    cairo_set_miter_limit(cr, 10.0);
    cairo_set_dash(cr, nullptr, 0, 0.0);
    setSourceColor(cr, {0.8, 0.6, 0.2, 0.3});
    cairo_stroke(cr);
    cairo_restore(cr);

    // The content is clipped to its box, as the panel's rounded shape clips everything inside it.
    cairo_save(cr);
    pathContinuousRoundedRect(cr, L.content, kPanelCornerRadius);
    cairo_clip(cr);
    for (auto& toggle : toggles_)
        if (!dirty || dirty->intersects(toggle->paintBounds())) toggle->draw(cr, ctx);
    for (std::size_t i = kMainKnobCount; i < knobs_.size(); ++i)
        if (!dirty || dirty->intersects(knobs_[i]->paintBounds())) knobs_[i]->draw(cr, ctx);
    cairo_restore(cr);
}

void ThraskVellMainView::draw(cairo_t* cr, double scale, double now, std::optional<Rect> dirty) {
    if (!layout_) applyLayout();
    if (needsFullRepaint_) dirty.reset();
    RenderContext ctx{scale, now, &text_, &shadows_};
    altar_.update(now);

    cairo_save(cr);
    if (dirty) {
        cairo_new_path(cr);
        cairo_rectangle(cr, dirty->x, dirty->y, dirty->width, dirty->height);
        cairo_clip(cr);
    }
    drawBackground(cr, scale);
    if (!dirty || dirty->intersects(layout_->title.insetBy(-8, -8))) drawTitle(cr, ctx);
    if (!dirty || dirty->intersects(altar_.paintBounds())) altar_.draw(cr, ctx);
    for (std::size_t i = 0; i < kMainKnobCount; ++i)
        if (!dirty || dirty->intersects(knobs_[i]->paintBounds())) knobs_[i]->draw(cr, ctx);
    drawPanel(cr, ctx, dirty);
    cairo_restore(cr);
    needsFullRepaint_ = false;
}

PointerTarget* ThraskVellMainView::targetAt(Point location) {
    if (!layout_) applyLayout();
    std::vector<PointerTarget*> candidates;
    for (std::size_t i = 0; i < kMainKnobCount; ++i)
        candidates.push_back(knobs_[i].get());
    candidates.push_back(&panel_);
    if (panel_.isExpanded()) {
        for (auto& toggle : toggles_)
            candidates.push_back(toggle.get());
        for (std::size_t i = kMainKnobCount; i < knobs_.size(); ++i)
            candidates.push_back(knobs_[i].get());
    }
    for (auto* target : candidates)
        if (target->hitTest(location)) return target;
    return nullptr;
}

void ThraskVellMainView::pointerDown(Point location) {
    pointerTarget_ = targetAt(location);
    if (!pointerTarget_) return;
    pointerTarget_->setFineAdjustment(fine_);
    pointerTarget_->pointerDown(location);
}

void ThraskVellMainView::pointerDoubleClick(Point location) {
    pointerTarget_ = targetAt(location);
    if (pointerTarget_) pointerTarget_->pointerDoubleClick(location);
}

void ThraskVellMainView::scrollWheel(Point location, double notches) {
    if (PointerTarget* target = targetAt(location)) {
        target->setFineAdjustment(fine_);
        target->scrollWheel(location, notches);
    }
}

void ThraskVellMainView::setFineAdjustment(bool fine) {
    fine_ = fine;
    if (pointerTarget_) pointerTarget_->setFineAdjustment(fine);
}

void ThraskVellMainView::pointerMove(Point location) {
    if (pointerTarget_) pointerTarget_->pointerMove(location);
}

void ThraskVellMainView::pointerUp(Point location) {
    if (auto* target = std::exchange(pointerTarget_, nullptr)) target->pointerUp(location);
}

} // namespace thraskvell::ui
