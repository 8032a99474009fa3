// ThraskVellMainView: the whole editor. A dark red panel with the gold title, the Trim knob, the
// Sustain knob / altar / Tone knob row, the Blend and Volume knobs, and the collapsible advanced
// panel "THE BUTCHER SHOP ▼" with the four switches and the Gate, Thresh and Ratio knobs.
//
// Hosting: the view draws into a caller's cairo_t at a logical size (at least 550 × 750 points) and
// a scale, takes pointer events in logical coordinates and a frame-clock time; it knows nothing of
// windows or toolkits. It holds its view model strongly and redraws what changed when the model
// announces a change. Each control gets a binding made from the view model and one identifier.
// Threads: main.
#pragma once

#include "platform/Binding.h"
#include "platform/Observable.h"
#include "ui/BoutiqueKnob.h"
#include "ui/Canvas.h"
#include "ui/DisclosureGroup.h"
#include "ui/MetalToggle.h"
#include "ui/ThraskVellViewModel.h"
#include "ui/VellAltarView.h"

#include <array>
#include <memory>
#include <optional>
#include <string_view>

namespace thraskvell::ui {

inline constexpr Size kMainViewMinimumSize{550.0, 750.0};
inline constexpr double kPanelStandardPadding = 8.0;

TextStyle titleTextStyle();
Shadow titleShadow();
TextStyle panelHeaderTextStyle();

// Natural sizes of everything the layout places, measured once from the text.
struct MainViewMetrics {
    Size title;
    std::array<Size, 5> mainKnobs; // Trim, Sustain, Tone, Blend, Volume
    Size altar = kAltarFrameSize;
    Size header;
    std::array<Size, 4> switches;   // DRY, BASS, ASYM, COMP
    std::array<Size, 3> panelKnobs; // Gate, Thresh, Ratio
};

struct MainViewLayout {
    Rect title;
    Rect topSpace;
    std::array<Rect, 5> mainKnobs; // Trim, Sustain, Tone, Blend, Volume
    Rect altar;
    Rect bottomSpace;
    Rect panel; // the disclosure group: header and, when open, content
    Rect header;
    Rect content; // the dark box; empty when collapsed
    std::array<Rect, 4> switches;
    std::array<Rect, 3> panelKnobs;
};

// Frames of the main view in a window of `size`. Thread: any.
MainViewLayout layoutMainView(Size size, const MainViewMetrics& metrics, bool showAdvanced);

class ThraskVellMainView {
public:
    explicit ThraskVellMainView(std::shared_ptr<ThraskVellViewModel> viewModel);
    ~ThraskVellMainView();
    ThraskVellMainView(const ThraskVellMainView&) = delete;
    ThraskVellMainView& operator=(const ThraskVellMainView&) = delete;

    // The getter reads the view model's displayed value, the setter writes through it. Main.
    Binding<float> binding(std::string_view identifier) const;

    // Main, for everything below.
    void setSize(Size size);
    Size size() const { return size_; }
    const MainViewLayout& layout();
    bool showAdvanced() const { return panel_.isExpanded(); }

    // Paints the whole view, or only what lies in `dirty`. `now` is the frame clock in seconds.
    void draw(cairo_t* cr, double scale, double now, std::optional<Rect> dirty = std::nullopt);
    // The region that has to be repainted at `now` (empty when nothing changed).
    Rect dirtyRect(double now);
    // Frame-clock tick: starts animations for values that changed and says whether to repaint.
    // A host calls it on every frame (after draining the main-thread queue) and, when it returns
    // true, repaints dirtyRect(now).
    bool tick(double now);
    bool isAnimating(double now) const { return altar_.isAnimating(now); }

    void pointerDown(Point location);
    void pointerMove(Point location);
    void pointerUp(Point location);
    // In place of the second press of a double-click; its release comes as pointerUp.
    void pointerDoubleClick(Point location);
    void scrollWheel(Point location, double notches);
    // Whether Shift is held: finer knob steps. Hosts send it before presses and when it changes.
    void setFineAdjustment(bool fine);

    // For hosts that show tooltips, and for tests.
    BoutiqueKnob& knob(std::size_t index) { return *knobs_[index]; }    // Trim … Volume, Gate … Ratio
    MetalToggle& toggle(std::size_t index) { return *toggles_[index]; } // DRY, BASS, ASYM, COMP
    VellAltarView& altar() { return altar_; }
    DisclosureGroup& panel() { return panel_; }
    ThraskVellViewModel& viewModel() { return *viewModel_; }

private:
    PointerTarget* targetAt(Point location);
    void measure();
    void applyLayout();
    void drawBackground(cairo_t* cr, double scale);
    void drawTitle(cairo_t* cr, RenderContext& ctx);
    void drawPanel(cairo_t* cr, RenderContext& ctx, const std::optional<Rect>& dirty);

    std::shared_ptr<ThraskVellViewModel> viewModel_;
    Cancellable subscription_;
    bool modelChanged_ = true;
    TextCache text_;
    ShadowCache shadows_;
    std::array<std::unique_ptr<BoutiqueKnob>, 8> knobs_;
    std::array<std::unique_ptr<MetalToggle>, 4> toggles_;
    VellAltarView altar_;
    DisclosureGroup panel_;
    Size size_ = kMainViewMinimumSize;
    std::optional<MainViewMetrics> metrics_;
    std::optional<MainViewLayout> layout_;
    bool needsFullRepaint_ = true;
    PointerTarget* pointerTarget_ = nullptr;
    bool fine_ = false;
    SurfacePtr background_;
    Size backgroundSize_{};
    double backgroundScale_ = 0.0;
};

} // namespace thraskvell::ui
