#include "app/shell/ContentView.h"

#include "app/shell/WaveformView.h"

#include <algorithm>
#include <cmath>
#include <string>

namespace thraskvell {

namespace {

const ui::Color kGold{0.9, 0.7, 0.3, 1.0};
const ui::Color kBrass{0.8, 0.6, 0.2, 1.0};

ui::TextStyle captionStyle() {
    return {ui::FontDesign::serif, 11.0, ui::FontWeight::bold, kGold, false};
}

} // namespace

std::string_view statusCaption(bool isPlaying) {
    return isPlaying ? kCaptionPlaying : kCaptionIdle;
}
PlayGlyph playGlyph(bool isPlaying) {
    return isPlaying ? PlayGlyph::stop : PlayGlyph::play;
}
std::string_view playControlLabel(bool isPlaying) {
    return isPlaying ? kPlayLabelPlaying : kPlayLabelIdle;
}

HeaderBarLayout layoutHeaderBar(double width, ui::Size caption) {
    const double columnHeight = caption.height + kCaptionSpacing + kWaveformHeight;
    const double rowHeight = std::max({kPlayControlDiameter, columnHeight, kHeaderGlyphSize});
    const double midY = kHeaderPaddingY + rowHeight * 0.5;
    // The column takes whatever the two controls and the spacing leave.
    const double columnWidth = std::max(0.0, width - 2.0 * kHeaderPaddingX - kPlayControlDiameter -
                                                 kHeaderGlyphSize - 2.0 * kHeaderSpacing);

    HeaderBarLayout L;
    L.bar = {0.0, 0.0, width, rowHeight + 2.0 * kHeaderPaddingY};
    L.hairline = {0.0, L.bar.maxY() - 1.0, width, 1.0};
    L.playControl = {kHeaderPaddingX, midY - kPlayControlDiameter * 0.5, kPlayControlDiameter,
                     kPlayControlDiameter};
    const double columnX = L.playControl.maxX() + kHeaderSpacing;
    const double columnY = midY - columnHeight * 0.5;
    L.caption = {columnX, columnY, std::min(caption.width, columnWidth), caption.height};
    L.waveform = {columnX, columnY + caption.height + kCaptionSpacing, columnWidth, kWaveformHeight};
    L.aboutControl = {columnX + columnWidth + kHeaderSpacing, midY - kHeaderGlyphSize * 0.5, kHeaderGlyphSize,
                      kHeaderGlyphSize};
    return L;
}

ContentViewLayout layoutContentView(ui::Size size, ui::Size caption) {
    ContentViewLayout L;
    L.bounds = {0.0, 0.0, size.width, size.height};
    L.header = layoutHeaderBar(size.width, caption);
    const double width = std::max(size.width, ui::kMainViewMinimumSize.width);
    const double height = std::max(size.height - L.header.bar.height, ui::kMainViewMinimumSize.height);
    L.mainView = {(size.width - width) * 0.5, L.header.bar.maxY(), width, height};
    return L;
}

ContentView::ContentView(MainThreadQueue& queue)
    : engine_(StandaloneAudioEngine::create(queue)), viewModel_(ThraskVellViewModel::make(engine_, queue)),
      mainView_(std::make_unique<ui::ThraskVellMainView>(viewModel_)), about_([this] { dismissAbout(); }) {
    engineSubscription_ = engine_->objectWillChange().sink([this] { engineChanged_ = true; });
}

ContentView::~ContentView() {
    disappear();
}

ui::Size ContentView::captionSize() {
    // Both captions share one font, so either gives the line height; the longer one the width.
    const ui::Size playing = text_.measure(std::string(kCaptionPlaying), captionStyle());
    const ui::Size idle = text_.measure(std::string(kCaptionIdle), captionStyle());
    return {std::max(playing.width, idle.width), std::max(playing.height, idle.height)};
}

ui::Size ContentView::minimumSize() {
    const double header = layoutHeaderBar(kContentMinimumSize.width, captionSize()).bar.height;
    return {kContentMinimumSize.width,
            std::max(kContentMinimumSize.height, header + ui::kMainViewMinimumSize.height)};
}

void ContentView::setSize(ui::Size size) {
    if (size == size_) return;
    size_ = size;
    layout_.reset();
    needsFullRepaint_ = true;
}

const ContentViewLayout& ContentView::layout() {
    if (!layout_) {
        layout_ = layoutContentView(size_, captionSize());
        mainView_->setSize(layout_->mainView.size());
    }
    return *layout_;
}

void ContentView::playControlAction() {
    if (engine_->isPlaying())
        engine_->stop();
    else
        engine_->start();
}

void ContentView::aboutControlAction() {
    if (showAbout_) return;
    showAbout_ = true;
    needsFullRepaint_ = true;
}

void ContentView::dismissAbout() {
    if (!showAbout_) return;
    showAbout_ = false;
    needsFullRepaint_ = true;
}

void ContentView::disappear() {
    engine_->stop();
}

ui::Rect ContentView::dirtyRect(double now) {
    engine_->checkDevice(); // a lost device shows as stopped in this very frame
    const auto& L = layout();
    ui::Rect dirty{};
    if (engineChanged_) {
        engineChanged_ = false;
        dirty = L.header.waveform;
        if (drawnPlaying_ != engine_->isPlaying()) dirty = dirty.united(L.header.bar);
    }
    if (headerDirty_) {
        headerDirty_ = false;
        dirty = dirty.united(L.header.bar);
    }
    // The tick starts the main view's animations for values that changed since the last frame.
    if (mainView_->tick(now)) {
        const ui::Rect main = mainView_->dirtyRect(now);
        if (main.width > 0 && main.height > 0)
            dirty = dirty.united(main.offsetBy(L.mainView.x, L.mainView.y));
    }
    if (needsFullRepaint_) return L.bounds;
    return dirty;
}

void ContentView::drawBackdrop(cairo_t* cr, double scale) {
    if (!backdrop_ || backdropSize_ != size_ || backdropScale_ != scale) {
        backdropSize_ = size_;
        backdropScale_ = scale;
        backdrop_.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24,
                                                   static_cast<int>(std::ceil(size_.width * scale)),
                                                   static_cast<int>(std::ceil(size_.height * scale))));
        cairo_surface_set_device_scale(backdrop_.get(), scale, scale);
        cairo_t* bg = cairo_create(backdrop_.get());
        ui::setRadialGradient(bg, {size_.width * 0.5, size_.height * 0.5}, 100.0, 700.0,
                              {{0.0, {0.15, 0.02, 0.02, 1.0}}, {1.0, {0.05, 0.0, 0.0, 1.0}}});
        cairo_paint(bg);
        cairo_destroy(bg);
    }
    cairo_save(cr);
    cairo_set_source_surface(cr, backdrop_.get(), 0.0, 0.0);
    cairo_paint(cr);
    cairo_restore(cr);
}

void ContentView::drawHeader(cairo_t* cr, const std::optional<ui::Rect>& dirty) {
    const auto& H = layout().header;
    const bool playing = engine_->isPlaying();
    const auto touches = [&dirty](const ui::Rect& r) { return !dirty || dirty->intersects(r); };

    cairo_save(cr);
    ui::pathRect(cr, H.bar);
    ui::setSourceColor(cr, {0.0, 0.0, 0.0, 0.5});
    cairo_fill(cr);
    ui::pathRect(cr, H.hairline);
    ui::setSourceColor(cr, kBrass.withOpacity(0.2));
    cairo_fill(cr);

    if (touches(H.playControl)) {
        // A pressed borderless button shows dimmed.
        const double opacity = pressed_ == Control::play && pressedInside_ ? 0.6 : 1.0;
        ui::pathCircle(cr, H.playControl);
        ui::setSourceColor(cr, {0.0, 0.0, 0.0, 0.7});
        cairo_fill(cr);
        ui::pathCircle(cr, H.playControl);
        ui::setSourceColor(cr, kBrass.withOpacity(opacity));
        cairo_set_line_width(cr, 2.0);
        cairo_stroke(cr);
        if (playGlyph() == PlayGlyph::stop)
            drawStopGlyph(cr, H.playControl.center(), kHeaderGlyphSize, kGold.withOpacity(opacity));
        else
            drawPlayGlyph(cr, H.playControl.center(), kHeaderGlyphSize, kGold.withOpacity(opacity));
    }
    if (touches(H.caption.insetBy(-2.0, -2.0)))
        text_.draw(cr, std::string(thraskvell::statusCaption(playing)), captionStyle(),
                   {H.caption.x, H.caption.y});
    if (touches(H.waveform)) {
        cairo_save(cr);
        ui::pathContinuousRoundedRect(cr, H.waveform, 4.0);
        cairo_clip(cr);
        ui::setSourceColor(cr, {0.0, 0.0, 0.0, 0.45});
        cairo_paint(cr);
        drawWaveform(cr, H.waveform, engine_->waveform());
        cairo_restore(cr);
    }
    if (touches(H.aboutControl.insetBy(-2.0, -2.0)))
        drawInfoCircleGlyph(cr, H.aboutControl.center(), kHeaderGlyphSize,
                            kBrass.withOpacity(pressed_ == Control::about && pressedInside_ ? 0.6 : 1.0));
    cairo_restore(cr);
}

void ContentView::draw(cairo_t* cr, double scale, double now, std::optional<ui::Rect> dirty) {
    const auto& L = layout();
    if (needsFullRepaint_) dirty.reset();
    cairo_save(cr);
    if (dirty) {
        cairo_new_path(cr);
        cairo_rectangle(cr, dirty->x, dirty->y, dirty->width, dirty->height);
        cairo_clip(cr);
    }
    drawBackdrop(cr, scale);
    if (!dirty || dirty->intersects(L.header.bar)) drawHeader(cr, dirty);
    if (!dirty || dirty->intersects(L.mainView)) {
        cairo_save(cr);
        cairo_translate(cr, L.mainView.x, L.mainView.y);
        std::optional<ui::Rect> local;
        if (dirty) local = dirty->offsetBy(-L.mainView.x, -L.mainView.y);
        mainView_->draw(cr, scale, now, local);
        cairo_restore(cr);
    }
    if (showAbout_) about_.draw(cr, size_, scale);
    cairo_restore(cr);
    drawnPlaying_ = engine_->isPlaying();
    needsFullRepaint_ = false;
}

ui::Point ContentView::toMainView(ui::Point location) {
    return {location.x - layout().mainView.x, location.y - layout().mainView.y};
}

void ContentView::pointerDown(ui::Point location) {
    const auto& L = layout();
    if (showAbout_) {
        pressed_ = Control::sheet;
        about_.layout(size_); // for the window's present size, whether or not a frame was drawn since
        about_.pointerDown(location);
        needsFullRepaint_ = true;
        return;
    }
    if (over(Control::play, location)) {
        pressed_ = Control::play;
        pressedInside_ = true;
        headerDirty_ = true;
    } else if (over(Control::about, location)) {
        pressed_ = Control::about;
        pressedInside_ = true;
        headerDirty_ = true;
    } else if (L.mainView.contains(location)) {
        pressed_ = Control::mainView;
        mainView_->pointerDown(toMainView(location));
    }
}

void ContentView::pointerDoubleClick(ui::Point location) {
    if (showAbout_ || !layout().mainView.contains(location)) return pointerDown(location);
    pressed_ = Control::mainView;
    mainView_->pointerDoubleClick(toMainView(location));
}

void ContentView::scrollWheel(ui::Point location, double notches) {
    if (!showAbout_ && layout().mainView.contains(location))
        mainView_->scrollWheel(toMainView(location), notches);
}

void ContentView::setFineAdjustment(bool fine) {
    mainView_->setFineAdjustment(fine);
}

bool ContentView::over(Control control, ui::Point location) {
    const auto& H = layout().header;
    if (control == Control::play) return H.playControl.contains(location);
    // The glyph is small; its target reaches a little beyond it.
    if (control == Control::about) return H.aboutControl.insetBy(-6.0, -6.0).contains(location);
    return false;
}

void ContentView::pointerMove(ui::Point location) {
    if (pressed_ == Control::mainView) mainView_->pointerMove(toMainView(location));
    // A pressed button shows pressed only while the pointer is over it, as a release there fires it.
    if ((pressed_ == Control::play || pressed_ == Control::about) &&
        over(pressed_, location) != pressedInside_) {
        pressedInside_ = !pressedInside_;
        headerDirty_ = true;
    }
}

void ContentView::pointerUp(ui::Point location) {
    const Control pressed = std::exchange(pressed_, Control::none);
    switch (pressed) {
    case Control::sheet:
        about_.pointerUp(location);
        needsFullRepaint_ = true;
        break;
    case Control::play:
        headerDirty_ = true;
        if (over(Control::play, location)) playControlAction();
        break;
    case Control::about:
        headerDirty_ = true;
        if (over(Control::about, location)) aboutControlAction();
        break;
    case Control::mainView:
        mainView_->pointerUp(toMainView(location));
        break;
    case Control::none:
        break;
    }
}

void ContentView::escapePressed() {
    if (showAbout_) about_.cancel();
}

} // namespace thraskvell
