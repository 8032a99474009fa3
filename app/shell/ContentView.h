// ContentView: the root view of the demo app's window. It owns the window's StandaloneAudioEngine
// and the ThraskVellViewModel bound to it, and draws, back to front: the dark red backdrop, the
// header bar (play control, status caption, live waveform, about control), the same
// ThraskVellMainView the plug-in shows, and the About sheet while `showAbout` is true.
//
// Hosting: like the main view it knows no window system. The host (ThraskVellApp's window) hands
// it a size, pointer events in logical coordinates and a frame clock, asks dirtyRect() after
// draining the main-thread queue and repaints that region with draw(). The engine's announcements
// (isPlaying, waveform) mark the waveform or the whole header dirty; nothing else is redrawn.
//
// Ownership: one per window, created with it; disappear() (the window closing) stops the engine,
// and destruction releases the engine, the view model and the views.
// Threads: main for everything.
#pragma once

#include "app/StandaloneAudioEngine.h"
#include "app/shell/AboutView.h"
#include "app/shell/Glyphs.h"
#include "platform/MainThreadQueue.h"
#include "platform/Observable.h"
#include "ui/Canvas.h"
#include "ui/Geometry.h"
#include "ui/ThraskVellMainView.h"
#include "ui/ThraskVellViewModel.h"

#include <cairo.h>

#include <memory>
#include <optional>
#include <string_view>

namespace thraskvell {

inline constexpr ui::Size kContentMinimumSize{550.0, 820.0};
inline constexpr ui::Size kContentIdealSize{600.0, 850.0};

inline constexpr std::string_view kCaptionPlaying = "DEMO BASS RIFF — LIVE";
inline constexpr std::string_view kCaptionIdle = "PRESS PLAY TO HEAR THRASK VELL";
inline constexpr std::string_view kPlayLabelPlaying = "Stop demo";
inline constexpr std::string_view kPlayLabelIdle = "Play demo";
inline constexpr std::string_view kAboutLabel = "About Thrask Vell";

// What the header shows for a playing state. Thread: any.
std::string_view statusCaption(bool isPlaying);
PlayGlyph playGlyph(bool isPlaying);
std::string_view playControlLabel(bool isPlaying);

inline constexpr double kHeaderSpacing = 16.0;
inline constexpr double kHeaderPaddingX = 20.0;
inline constexpr double kHeaderPaddingY = 12.0;
inline constexpr double kPlayControlDiameter = 52.0;
inline constexpr double kHeaderGlyphSize = 22.0;
inline constexpr double kCaptionSpacing = 6.0;
inline constexpr double kWaveformHeight = 42.0;

struct HeaderBarLayout {
    ui::Rect bar;
    ui::Rect hairline;
    ui::Rect playControl;
    ui::Rect caption;
    ui::Rect waveform;
    ui::Rect aboutControl;
};

struct ContentViewLayout {
    ui::Rect bounds;
    HeaderBarLayout header;
    ui::Rect mainView;
};

// The header bar across `width`, for a caption of `caption` size. Thread: any.
HeaderBarLayout layoutHeaderBar(double width, ui::Size caption);
// The header above the main view in a window of `size`; the main view never gets less than its
// minimum and is centred horizontally. Thread: any.
ContentViewLayout layoutContentView(ui::Size size, ui::Size caption);

class ContentView {
public:
    // Main. Creates the engine, then the view model bound to it. Playback does not start.
    explicit ContentView(MainThreadQueue& queue = MainThreadQueue::main());
    // Main. Stops the engine if the window never got to disappear().
    ~ContentView();
    ContentView(const ContentView&) = delete;
    ContentView& operator=(const ContentView&) = delete;

    // Main, for everything below.
    // At least 550 × 820, and tall enough that the main view keeps its own minimum height.
    ui::Size minimumSize();
    void setSize(ui::Size size);
    ui::Size size() const { return size_; }
    const ContentViewLayout& layout();

    // Control actions.
    void playControlAction();  // stop() while playing, start() otherwise
    void aboutControlAction(); // shows the sheet
    void dismissAbout();       // Done, or Escape
    void disappear();          // the window is closing: stop the engine

    bool showAbout() const { return showAbout_; }
    std::string_view statusCaption() const { return thraskvell::statusCaption(engine_->isPlaying()); }
    PlayGlyph playGlyph() const { return thraskvell::playGlyph(engine_->isPlaying()); }
    std::string_view playControlLabel() const { return thraskvell::playControlLabel(engine_->isPlaying()); }

    // The region to repaint at `now`, empty when nothing changed; clears the change marks it reports.
    // Also the frame's tick: an engine whose device stopped on its own is stopped here (and says why).
    ui::Rect dirtyRect(double now);
    bool isAnimating(double now) const { return mainView_->isAnimating(now); }
    // Paints everything, or only what lies in `dirty` (whole device pixels, as a BackingStore hands it).
    void draw(cairo_t* cr, double scale, double now, std::optional<ui::Rect> dirty = std::nullopt);

    void pointerDown(ui::Point location);
    void pointerMove(ui::Point location);
    void pointerUp(ui::Point location);
    // In place of the second press of a double-click (its release comes as pointerUp).
    void pointerDoubleClick(ui::Point location);
    void scrollWheel(ui::Point location, double notches);
    // Whether Shift is held: finer knob steps.
    void setFineAdjustment(bool fine);
    void escapePressed();

    StandaloneAudioEngine& engine() { return *engine_; }
    ThraskVellViewModel& viewModel() { return *viewModel_; }
    ui::ThraskVellMainView& mainView() { return *mainView_; }

private:
    enum class Control { none, play, about, mainView, sheet };

    ui::Size captionSize();
    void drawBackdrop(cairo_t* cr, double scale);
    void drawHeader(cairo_t* cr, const std::optional<ui::Rect>& dirty);
    ui::Point toMainView(ui::Point location);
    bool over(Control control, ui::Point location);

    std::shared_ptr<StandaloneAudioEngine> engine_;
    std::shared_ptr<ThraskVellViewModel> viewModel_;
    std::unique_ptr<ui::ThraskVellMainView> mainView_;
    AboutView about_;
    bool showAbout_ = false;
    Cancellable engineSubscription_;
    bool engineChanged_ = true;
    bool headerDirty_ = false; // a header control's pressed look changed
    std::optional<bool> drawnPlaying_;
    bool needsFullRepaint_ = true;
    Control pressed_ = Control::none;
    bool pressedInside_ = false; // the pointer is over the pressed button
    ui::TextCache text_;
    ui::Size size_ = kContentIdealSize;
    std::optional<ContentViewLayout> layout_;
    ui::SurfacePtr backdrop_;
    ui::Size backdropSize_{};
    double backdropScale_ = 0.0;
};

} // namespace thraskvell
