// ContentView with its real engine on SDL's disk driver: the header always shows what the engine
// is doing (caption, glyph and label, read back from the drawn pixels too), a failed start leaves
// it idle and retryable, the About sheet opens and closes, and the window going away stops the
// audio.
#include "app/shell/ContentView.h"
#include "tests/app/shell/ShellRender.h"
#include "tests/platform/DiskAudioDevice.h"

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

// Draws the view as the window would and reads the glyph back: the square's upper right corner is
// inked only for stop, the triangle's point only for play.
PlayGlyph drawnGlyph(ContentView& view) {
    const ui::Size size = view.size();
    Offscreen image(static_cast<int>(size.width), static_cast<int>(size.height));
    image.draw([&](cairo_t* cr) { view.draw(cr, 1.0, 0.0); });
    const ui::Point c = view.layout().header.playControl.center();
    const bool corner = isGold(image.at(c.x + 6, c.y - 6));
    const bool tip = isGold(image.at(c.x + 8.5, c.y));
    EXPECT_NE(corner, tip) << "neither or both glyphs drawn";
    return corner ? PlayGlyph::stop : PlayGlyph::play;
}

void pressPlay(ContentView& view) {
    const ui::Point c = view.layout().header.playControl.center();
    view.pointerDown(c);
    view.pointerUp(c);
}

void expectHeaderAgrees(ContentView& view, bool playing) {
    ASSERT_EQ(view.engine().isPlaying(), playing);
    EXPECT_EQ(view.statusCaption(), playing ? "DEMO BASS RIFF — LIVE" : "PRESS PLAY TO HEAR THRASK VELL");
    EXPECT_EQ(view.playControlLabel(), playing ? "Stop demo" : "Play demo");
    EXPECT_EQ(view.playGlyph(), playing ? PlayGlyph::stop : PlayGlyph::play);
    EXPECT_EQ(drawnGlyph(view), view.playGlyph());
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
    EXPECT_GE(view.minimumSize().height, 820.0);
    EXPECT_GE(view.minimumSize().height, view.layout().header.bar.height + ui::kMainViewMinimumSize.height);
}

TEST(ContentView, HeaderFollowsIsPlayingThroughAFailedStartARetryAndAStop) {
    MainThreadQueue queue;
    ContentView view(queue);

    struct Step {
        const char* name;
        const char* driver; // null: a working disk device
        bool playingAfter;
    };
    const Step steps[] = {
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
        pressPlay(view);
        const std::string printed = testing::internal::GetCapturedStdout();
        if (step.driver) {
            ::setenv("SDL_AUDIODRIVER", "disk", 1);
            EXPECT_EQ(printed.rfind("Engine start error: ", 0), 0u) << printed;
        } else {
            EXPECT_EQ(printed, "");
        }
        queue.drain();
        expectHeaderAgrees(view, step.playingAfter);
    }
    EXPECT_TRUE(device.waitForFrames(4096, kChannels, [&] { queue.drain(); }));
    view.disappear();
}

TEST(ContentView, EngineAnnouncementsRepaintTheWaveformAndAStateChangeTheHeader) {
    DiskAudioDevice device("shell-dirty");
    MainThreadQueue queue;
    ContentView view(queue);
    Offscreen image(600, 850);
    const auto& L = view.layout();
    view.dirtyRect(0.0);
    image.draw([&](cairo_t* cr) { view.draw(cr, 1.0, 0.0); });
    EXPECT_EQ(view.dirtyRect(0.0), (ui::Rect{})) << "nothing changed since the last paint";

    pressPlay(view);
    ASSERT_TRUE(view.engine().isPlaying());
    const ui::Rect afterPlay = view.dirtyRect(0.0);
    EXPECT_TRUE(afterPlay.intersects(L.header.playControl));
    image.draw([&](cairo_t* cr) { view.draw(cr, 1.0, 0.0, afterPlay); });

    // Snapshots from the tap arrive through the queue and dirty the waveform alone.
    ASSERT_TRUE(device.waitForFrames(8192, kChannels));
    ASSERT_GT(queue.drain(), 0u);
    const ui::Rect afterSnapshot = view.dirtyRect(0.0);
    EXPECT_EQ(afterSnapshot, L.header.waveform);
    view.disappear();
}

TEST(ContentView, AboutSheetOpensOverThePlayingAppAndClosesWithDoneOrEscape) {
    DiskAudioDevice device("shell-about");
    MainThreadQueue queue;
    ContentView view(queue);
    pressPlay(view);
    ASSERT_TRUE(view.engine().isPlaying());

    const ui::Point about = view.layout().header.aboutControl.center();
    view.pointerDown(about);
    view.pointerUp(about);
    ASSERT_TRUE(view.showAbout());
    EXPECT_EQ(view.dirtyRect(0.0), view.layout().bounds);

    // The sheet is modal: the play control underneath does not react.
    pressPlay(view);
    EXPECT_TRUE(view.engine().isPlaying());
    EXPECT_TRUE(view.showAbout());

    Offscreen image(600, 850);
    image.draw([&](cairo_t* cr) { view.draw(cr, 1.0, 0.0); });
    AboutView probe([] {});
    const auto& sheet = probe.layout(view.size());
    const ui::Point done = sheet.done.center();
    view.pointerDown(done);
    view.pointerUp(done);
    EXPECT_FALSE(view.showAbout());
    EXPECT_TRUE(view.engine().isPlaying()) << "playback goes on while the sheet is shown";

    view.aboutControlAction();
    view.escapePressed();
    EXPECT_FALSE(view.showAbout());
    EXPECT_TRUE(deviceStillGrowing(device));
    view.disappear();
}

TEST(ContentView, ClosingTheWindowStopsTheAudio) {
    struct Case {
        const char* name;
        bool destroyInstead; // the window torn down without its disappearance
    };
    for (const Case c : {Case{"disappear", false}, Case{"destroyed while playing", true}}) {
        SCOPED_TRACE(c.name);
        DiskAudioDevice device(std::string("shell-close-") + (c.destroyInstead ? "destroy" : "disappear"));
        MainThreadQueue queue;
        auto view = std::make_unique<ContentView>(queue);
        pressPlay(*view);
        ASSERT_TRUE(view->engine().isPlaying());
        ASSERT_TRUE(device.waitForFrames(4096, kChannels, [&] { queue.drain(); }));
        ASSERT_TRUE(deviceStillGrowing(device));
        if (c.destroyInstead) {
            view.reset();
        } else {
            view->disappear();
            EXPECT_FALSE(view->engine().isPlaying());
            expectHeaderAgrees(*view, false);
        }
        EXPECT_FALSE(deviceStillGrowing(device));
        queue.drain();
    }
}

} // namespace
