// AboutView: the About sheet — the product name, its subtitle, a paragraph about the app and a
// Done control that closes the sheet. ContentView presents it over a dimmed window while its
// `showAbout` is true; playback goes on underneath. The sheet is drawn in its dark appearance
// whatever the desktop's theme.
//
// Ownership: held by ContentView for its whole life (so the sheet's text is measured once);
// `dismiss` is ContentView's action that closes it. Layout is a plain function of the window size and the
// measured text, so tests check it without a display. Threads: main.
#pragma once

#include "ui/Canvas.h"
#include "ui/Geometry.h"
#include "ui/Gesture.h"

#include <cairo.h>
#include <pango/pango.h>

#include <functional>
#include <string>

namespace thraskvell {

inline constexpr const char* kAboutTitle = "THRASK VELL";
inline constexpr const char* kAboutSubtitle = "Bass Fuzz & Sustain";
inline constexpr const char* kAboutBody =
    "Thrask Vell is a boutique bass fuzz for Linux. This app lets you try the effect on a built-in demo "
    "bass riff, or load it in your DAW as an LV2, VST3 or CLAP plugin (Ardour, REAPER, Bitwig Studio, "
    "Carla, etc.).";
inline constexpr const char* kAboutDone = "Done";

inline constexpr double kAboutMaxWidth = 420.0;
inline constexpr double kAboutPadding = 32.0;
inline constexpr double kAboutSpacing = 18.0;
inline constexpr double kAboutBodyPadding = 16.0; // the standard horizontal padding around the body
inline constexpr double kAboutDoneGap = 8.0;      // above Done, on top of the spacing
inline constexpr double kSheetWindowMargin = 20.0;

struct AboutViewMetrics {
    ui::Size title;
    ui::Size subtitle;
    ui::Size doneLabel;
    // The body's height once wrapped to a given width.
    std::function<double(double width)> bodyHeight;
};

struct AboutViewLayout {
    ui::Rect sheet;
    ui::Rect title;
    ui::Rect subtitle;
    ui::Rect body; // the wrapping width, inside the standard padding
    ui::Rect done; // the framed control, padding included
};

// Frames of the sheet centred in a window of `window`. Thread: any.
AboutViewLayout layoutAboutView(ui::Size window, const AboutViewMetrics& metrics);

class AboutView {
public:
    // Main.
    explicit AboutView(std::function<void()> dismiss);
    ~AboutView();
    AboutView(const AboutView&) = delete;
    AboutView& operator=(const AboutView&) = delete;

    // Main, for everything below.
    const AboutViewLayout& layout(ui::Size window);
    // Dims the whole window and draws the sheet over it.
    void draw(cairo_t* cr, ui::Size window, double scale);
    // Only Done reacts; a press elsewhere is swallowed, as a sheet is modal.
    void pointerDown(ui::Point location);
    void pointerUp(ui::Point location);
    // The dismissal the platform offers besides Done (the Escape key).
    void cancel();

private:
    double bodyHeight(double width);

    std::function<void()> dismiss_;
    ui::TextCache text_;
    ui::ShadowCache shadows_;
    PangoLayout* body_ = nullptr;
    ui::TapGesture doneTap_;
    ui::Size layoutWindow_{};
    AboutViewLayout layout_{};
    bool laidOut_ = false;
};

} // namespace thraskvell
