// ContentView with its real engine on SDL's disk driver: the header always shows what the engine
// is doing (read back from the drawn pixels too), presses on the header's buttons and the About
// sheet do what a user expects, a repaint of only what changed equals a full one, and the window
// going away stops the audio.
#include "app/shell/ContentView.h"
#include "tests/app/shell/ShellRender.h"
#include "tests/platform/DiskAudioDevice.h"
#include "ui/BackingStore.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <thread>

using namespace thraskvell;
using thraskvell::test::DiskAudioDevice;
using thraskvell::test::isDark;
using thraskvell::test::isGold;
using thraskvell::test::Offscreen;

namespace {

constexpr int kChannels = 2;

void click(ContentView& view, ui::Point p) {
    view.pointerDown(p);
    view.pointerUp(p);
}

// Draws the view and reads the play glyph back: the square's upper right corner is inked only for
// stop, the triangle's point only for play; a pressed button is dimmed out of the gold.
struct DrawnPlayControl {
    PlayGlyph glyph;
    bool dimmed;
};
DrawnPlayControl drawnPlayControl(ContentView& view) {
    Offscreen image(static_cast<int>(view.size().width), static_cast<int>(view.size().height));
    image.draw([&](cairo_t* cr) { view.draw(cr, 1.0, 0.0); });
    const ui::Point c = view.layout().header.playControl.center();
    const bool corner = isGold(image.at(c.x + 6, c.y - 6)), tip = isGold(image.at(c.x + 8.5, c.y));
    EXPECT_FALSE(corner && tip) << "both glyphs drawn";
    return {corner ? PlayGlyph::stop : PlayGlyph::play, !isGold(image.at(c.x, c.y))};
}

void expectHeaderAgrees(ContentView& view, bool playing) {
    ASSERT_EQ(view.engine().isPlaying(), playing);
    EXPECT_EQ(view.statusCaption(), playing ? "DEMO BASS RIFF — LIVE" : "PRESS PLAY TO HEAR THRASK VELL");
    EXPECT_EQ(view.playControlLabel(), playing ? "Stop demo" : "Play demo");
    EXPECT_EQ(view.playGlyph(), playing ? PlayGlyph::stop : PlayGlyph::play);
    EXPECT_EQ(drawnPlayControl(view).glyph, view.playGlyph());
}

// Frames the device has received, sampled twice a little apart: still growing or not.
bool deviceStillGrowing(const DiskAudioDevice& device) {
    const auto before = device.framesWritten(kChannels);
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    return device.framesWritten(kChannels) > before;
}

TEST(ContentView, LaunchesIdleWithAFlatWaveformOnTheCentreLine) {
    MainThreadQueue queue;
    ContentView view(queue);
    EXPECT_FALSE(view.showAbout());
    expectHeaderAgrees(view, false);
    Offscreen image(600, 850);
    image.draw([&](cairo_t* cr) { view.draw(cr, 1.0, 0.0); });
    const ui::Rect wave = view.layout().header.waveform;
    EXPECT_TRUE(isGold(image.at(wave.midX(), wave.midY())));
    EXPECT_TRUE(isDark(image.at(wave.midX(), wave.midY() - 8)));
    EXPECT_EQ(view.minimumSize().width, 550.0);
    EXPECT_GE(view.minimumSize().height, view.layout().header.bar.height + ui::kMainViewMinimumSize.height);
}

TEST(ContentView, HeaderFollowsIsPlayingThroughAFailedStartARetryAndAStop) {
    MainThreadQueue queue;
    ContentView view(queue);
    const struct {
        const char* name;
        const char* driver; // null: a working disk device
        bool playingAfter;
    } steps[] = {
        {"start on a driver that cannot open", "thraskvell-no-such-driver", false},
        {"press again: a retry, still failing", "thraskvell-no-such-driver", false},
        {"retry with a working device", nullptr, true},
        {"press while playing: stop", nullptr, false},
        {"and play again", nullptr, true},
    };
    DiskAudioDevice device("shell-steps");
    for (const auto& step : steps) {
        SCOPED_TRACE(step.name);
        if (step.driver) ::setenv("SDL_AUDIODRIVER", step.driver, 1);
        testing::internal::CaptureStdout();
        click(view, view.layout().header.playControl.center());
        const std::string printed = testing::internal::GetCapturedStdout();
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        EXPECT_EQ(printed.rfind("Engine start error: ", 0) == 0, step.driver != nullptr) << printed;
        queue.drain();
        expectHeaderAgrees(view, step.playingAfter);
    }
    EXPECT_TRUE(device.waitForFrames(4096, kChannels, [&] { queue.drain(); }));
}

TEST(ContentView, PressesOnTheHeaderAndTheSheetActOnlyWhenReleasedWhereTheyBegan) {
    enum Kind { down, move, up, escape };
    struct Step {
        Kind kind;
        const char* where; // play, info, done, away (the caption), sheet
        bool dimmedAfter = false;
    };
    const struct {
        const char* name;
        std::vector<Step> steps;
        bool playing, aboutShown;
    } cases[] = {
        {"click play", {{down, "play", true}, {up, "play"}}, true, false},
        {"play pressed, released away", {{down, "play", true}, {move, "away"}, {up, "away"}}, false, false},
        {"play pressed, away and back",
         {{down, "play", true}, {move, "away"}, {move, "play", true}, {up, "play"}},
         true,
         false},
        {"pressed away, released on play", {{down, "away"}, {move, "play"}, {up, "play"}}, false, false},
        {"info pressed, released away", {{down, "info"}, {move, "away"}, {up, "away"}}, false, false},
        {"click info", {{down, "info"}, {up, "info"}}, false, true},
        {"play under the sheet", {{down, "info"}, {up, "info"}, {down, "play"}, {up, "play"}}, false, true},
        {"done pressed, released away",
         {{down, "info"}, {up, "info"}, {down, "done"}, {move, "sheet"}, {up, "sheet"}},
         false,
         true},
        {"pressed on the sheet, released on done",
         {{down, "info"}, {up, "info"}, {down, "sheet"}, {up, "done"}},
         false,
         true},
        {"click done", {{down, "info"}, {up, "info"}, {down, "done"}, {up, "done"}}, false, false},
        {"escape", {{down, "info"}, {up, "info"}, {escape, ""}}, false, false},
    };
    DiskAudioDevice device("shell-presses");
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        MainThreadQueue queue;
        ContentView view(queue);
        const auto& H = view.layout().header;
        AboutView probe([] {});
        const auto& sheet = probe.layout(view.size());
        const auto at = [&](std::string_view where) {
            if (where == "play") return H.playControl.center();
            if (where == "info") return H.aboutControl.center();
            if (where == "done") return sheet.done.center();
            if (where == "sheet") return sheet.title.center();
            return H.caption.center();
        };
        for (const Step& s : c.steps) {
            if (s.kind == down) view.pointerDown(at(s.where));
            if (s.kind == move) view.pointerMove(at(s.where));
            if (s.kind == up) view.pointerUp(at(s.where));
            if (s.kind == escape) view.escapePressed();
            if (!view.showAbout()) {
                EXPECT_EQ(drawnPlayControl(view).dimmed, s.dimmedAfter) << "after " << s.where;
            }
        }
        EXPECT_EQ(view.engine().isPlaying(), c.playing);
        EXPECT_EQ(view.showAbout(), c.aboutShown);
    }
}

TEST(ContentView, ABackingStoreRepaintOfWhatChangedEqualsAFullRepaint) {
    DiskAudioDevice device("shell-store");
    MainThreadQueue queue;
    ContentView view(queue);
    const double scale = 1.5; // device pixels that do not fall on whole points
    const auto draw = [&](cairo_t* cr, std::optional<ui::Rect> dirty) { view.draw(cr, scale, 0.0, dirty); };
    ui::BackingStore store;
    ui::Size resized{};
    const auto setSize = [&](ui::Size size) {
        resized = size;
        view.setSize(size);
    };
    store.paint(nullptr, 900, 1275, scale, draw, setSize);
    EXPECT_EQ(resized, (ui::Size{600, 850}));
    view.dirtyRect(0.0);

    // Changes marked as the window's tick marks them: Play in the header, and before the next frame a
    // new snapshot in the waveform and a drag on a knob of the main view.
    click(view, view.layout().header.playControl.center());
    ASSERT_TRUE(view.engine().isPlaying());
    store.invalidate(view.dirtyRect(0.0), scale);
    store.paint(nullptr, 900, 1275, scale, draw, setSize);
    // Snapshots from the tap arrive through the queue and dirty the waveform alone.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (queue.drain() == 0) {
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "no snapshot announced in ten seconds";
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    const ui::Rect snapshot = view.dirtyRect(0.0);
    EXPECT_EQ(snapshot, view.layout().header.waveform);
    store.invalidate(snapshot, scale);
    const ui::Point face = view.mainView().knob(1).faceFrame().center();
    const ui::Point knob{face.x + view.layout().mainView.x, face.y + view.layout().mainView.y};
    view.pointerDown(knob);
    view.pointerMove({knob.x, knob.y - 20});
    view.pointerUp({knob.x, knob.y - 20});
    store.invalidate(view.dirtyRect(0.0), scale);
    store.paint(nullptr, 900, 1275, scale, draw, setSize);
    EXPECT_TRUE(store.isUpToDate());

    ui::BackingStore full;
    full.paint(nullptr, 900, 1275, scale, draw, setSize);
    int differing = 0;
    for (int y = 0; y < 1275; ++y)
        for (int x = 0; x < 900; ++x) {
            const auto a = test::pixelAt(store.image(), x, y), b = test::pixelAt(full.image(), x, y);
            differing += a.r != b.r || a.g != b.g || a.b != b.b;
        }
    EXPECT_EQ(differing, 0);

    // Snapshots from the tap arrive through the queue and dirty the waveform alone.
    // A new scale on the same pixels rebuilds the image for the new logical size.
    store.paint(nullptr, 900, 1275, 3.0, draw, setSize);
    EXPECT_EQ(resized, (ui::Size{300, 425}));
    view.disappear();
}

TEST(ContentView, ClosingTheWindowStopsTheAudio) {
    for (const bool destroyInstead : {false, true}) { // destroyed while playing, without disappear()
        SCOPED_TRACE(destroyInstead ? "destroyed" : "disappear");
        DiskAudioDevice device(destroyInstead ? "shell-close-destroy" : "shell-close-disappear");
        MainThreadQueue queue;
        auto view = std::make_unique<ContentView>(queue);
        click(*view, view->layout().header.playControl.center());
        ASSERT_TRUE(device.waitForFrames(4096, kChannels, [&] { queue.drain(); }));
        ASSERT_TRUE(deviceStillGrowing(device));
        if (destroyInstead) {
            view.reset();
        } else {
            view->disappear();
            expectHeaderAgrees(*view, false);
        }
        EXPECT_FALSE(deviceStillGrowing(device));
        queue.drain();
    }
}

} // namespace
