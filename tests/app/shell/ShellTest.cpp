// The shell's views: glyphs, waveform and layouts without a device; ContentView with its real engine
// on SDL's disk driver, its header read back from drawn pixels too.
#include "app/shell/AboutView.h"
#include "app/shell/ContentView.h"
#include "app/shell/Glyphs.h"
#include "app/shell/WaveformView.h"
#include "tests/app/shell/ShellRender.h"
#include "tests/platform/DiskAudioDevice.h"
#include "ui/BackingStore.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace thraskvell;
using namespace thraskvell::test;

namespace {

// Draws the view and reads the play glyph back: the square's upper right corner is inked only for
// stop, the triangle's point only for play; a pressed button is dimmed out of the gold.
std::pair<PlayGlyph, bool> drawnPlayControl(ContentView& view) {
    Offscreen image(int(view.size().width), int(view.size().height));
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
    EXPECT_EQ(drawnPlayControl(view).first, view.playGlyph());
}

bool stillPlaying(const DiskAudioDevice& device) { // the device's file grows over 150 ms
    const auto before = device.read()[0].size();
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    return device.read()[0].size() > before;
}

TEST(ContentView, HeaderFollowsIsPlayingFromLaunchThroughAFailedStartARetryAndAStop) {
    MainThreadQueue queue;
    ContentView view(queue);
    EXPECT_FALSE(view.showAbout());
    expectHeaderAgrees(view, false);
    Offscreen image(600, 850); // launched idle: a flat waveform on the centre line
    image.draw([&](cairo_t* cr) { view.draw(cr, 1.0, 0.0); });
    const ui::Rect wave = view.layout().header.waveform;
    const Rgb above = image.at(wave.midX(), wave.midY() - 8);
    EXPECT_TRUE(isGold(image.at(wave.midX(), wave.midY())) && above.r < 70 && above.g < 50);
    EXPECT_EQ(view.minimumSize().width, 550.0);
    EXPECT_GE(view.minimumSize().height, view.layout().header.bar.height + ui::kMainViewMinimumSize.height);

    // Play on a driver that cannot open, again (a retry), then on a working disk device.
    const char* bad = "thraskvell-no-such-driver";
    const std::pair<const char*, bool> steps[] = {
        {bad, false}, {bad, false}, {nullptr, true}, {nullptr, false}, {nullptr, true}};
    DiskAudioDevice device;
    for (const auto& [driver, playingAfter] : steps) {
        if (driver) ::setenv("SDL_AUDIODRIVER", driver, 1);
        testing::internal::CaptureStdout();
        drag(view, view.layout().header.playControl.center());
        const std::string printed = testing::internal::GetCapturedStdout();
        ::setenv("SDL_AUDIODRIVER", "disk", 1);
        EXPECT_EQ(printed.rfind("Engine start error: ", 0) == 0, driver != nullptr) << printed;
        queue.drain();
        expectHeaderAgrees(view, playingAfter);
    }
    EXPECT_TRUE(device.waitForFrames(4096));
}

TEST(ContentView, PressesOnTheHeaderAndTheSheetActOnlyWhenReleasedWhereTheyBegan) {
    // Steps: d(own), m(ove), u(p) on P(lay), I(nfo), D(one), A(way: the caption), S(heet), or e(scape);
    // `*`: the play button is drawn pressed afterwards (checked while no sheet covers it).
    const std::tuple<const char*, bool, bool> cases[] = {
        // steps, then playing and the sheet shown
        {"dP* uP", true, false},       {"dP* mA uA", false, false},     {"dP* mA mP* uP", true, false},
        {"dA mP uP", false, false},    {"dI mA uA", false, false},      {"dI uI", false, true},
        {"dI uI dP uP", false, true},  {"dI uI dD mS uS", false, true}, {"dI uI dS uD", false, true},
        {"dI uI dD uD", false, false}, {"dI uI e", false, false},
    };
    DiskAudioDevice device;
    for (const auto& [steps, playing, aboutShown] : cases) {
        SCOPED_TRACE(steps);
        MainThreadQueue queue;
        ContentView view(queue);
        const auto& H = view.layout().header;
        AboutView probe([] {});
        const auto& sheet = probe.layout(view.size());
        const ui::Point spots[] = {H.playControl.center(), H.aboutControl.center(), sheet.done.center(),
                                   sheet.title.center(), H.caption.center()};
        std::istringstream in(steps);
        for (std::string s; in >> s;) {
            const ui::Point at =
                spots[std::min<std::size_t>(std::string_view("PIDS").find(s.size() > 1 ? s[1] : 'A'), 4)];
            if (s[0] == 'd') view.pointerDown(at);
            if (s[0] == 'm') view.pointerMove(at);
            if (s[0] == 'u') view.pointerUp(at);
            if (s[0] == 'e') view.escapePressed();
            EXPECT_TRUE(view.showAbout() || drawnPlayControl(view).second == (s.back() == '*'))
                << "after " << s;
        }
        EXPECT_EQ(view.engine().isPlaying(), playing);
        EXPECT_EQ(view.showAbout(), aboutShown);
    }
}

TEST(ContentView, ABackingStoreRepaintOfWhatChangedEqualsAFullRepaint) {
    DiskAudioDevice device;
    MainThreadQueue queue;
    ContentView view(queue);
    const double scale = 1.5; // device pixels that do not fall on whole points
    ui::BackingStore store, full;
    ui::Size resized{};
    const auto paint = [&](ui::BackingStore& s, double at) {
        s.paint(
            nullptr, 900, 1275, at,
            [&](cairo_t* cr, std::optional<ui::Rect> dirty) { view.draw(cr, at, 0.0, dirty); },
            [&](ui::Size size) { view.setSize(resized = size); });
    };
    paint(store, scale);
    EXPECT_EQ(resized, (ui::Size{600, 850}));
    view.dirtyRect(0.0);

    // Changes marked as the window's tick marks them: Play in the header, and before the next frame
    // a snapshot from the tap (through the queue: the waveform alone) and a drag on a main-view knob.
    drag(view, view.layout().header.playControl.center());
    ASSERT_TRUE(view.engine().isPlaying());
    store.invalidate(view.dirtyRect(0.0), scale);
    paint(store, scale);
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10); queue.drain() == 0;) {
        ASSERT_LT(std::chrono::steady_clock::now(), end) << "no snapshot announced in ten seconds";
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(view.dirtyRect(0.0), view.layout().header.waveform);
    store.invalidate(view.layout().header.waveform, scale);
    const ui::Point face = view.mainView().knob(1).faceFrame().center();
    drag(view, {face.x + view.layout().mainView.x, face.y + view.layout().mainView.y}, {20});
    store.invalidate(view.dirtyRect(0.0), scale);
    paint(store, scale);
    EXPECT_TRUE(store.isUpToDate());
    paint(full, scale);
    int differing = 0;
    for (int y = 0; y < 1275; ++y)
        for (int x = 0; x < 900; ++x)
            differing += !(pixelAt(store.image(), x, y) == pixelAt(full.image(), x, y));
    EXPECT_EQ(differing, 0);

    paint(store, 3.0); // a new scale on the same pixels rebuilds the image for the new logical size
    EXPECT_EQ(resized, (ui::Size{300, 425}));
    view.disappear();
}

TEST(ContentView, ClosingTheWindowStopsTheAudio) {
    for (const bool destroyInstead : {false, true}) { // destroyed while playing, without disappear()
        DiskAudioDevice device;
        MainThreadQueue queue;
        auto view = std::make_unique<ContentView>(queue);
        drag(*view, view->layout().header.playControl.center());
        ASSERT_TRUE(device.waitForFrames(4096) && stillPlaying(device)) << destroyInstead;
        destroyInstead ? view.reset() : view->disappear();
        EXPECT_FALSE(stillPlaying(device)) << destroyInstead;
        if (view) expectHeaderAgrees(*view, false);
        queue.drain();
    }
}

// Points inked or not, as offsets from the centre of a 40-point square: the glyphs drawn 22 points wide
// there, and a waveform across it from the left edge's centre: a +1 run to a tenth from the top, then a
// -0.5 run (a stroke: no centre line, no fill).
TEST(Glyphs, PlayIsATriangleStopASquareInfoARingAroundAnIAndTheWaveformAStrokeAtNineTenthsScale) {
    using Draw = void (*)(cairo_t*, ui::Point, double, const ui::Color&);
    const std::tuple<const char*, Draw, std::vector<ui::Point>, std::vector<ui::Point>> cases[] = {
        // inked, clear
        {"play", drawPlayGlyph, {{0, 0}, {8.5, 0}}, {{6, -6}, {0, -16}}},
        {"stop", drawStopGlyph, {{0, 0}, {6, -6}}, {{8.5, 0}, {0, -16}}},
        {"info", drawInfoCircleGlyph, {{9.9, 0}, {0, -9.9}, {0, 2}, {0, -4.4}}, {{6, 0}}},
        {"waveform",
         [](cairo_t* cr, ui::Point, double, const ui::Color&) {
             drawWaveform(cr, {0, 0, 40, 40}, std::vector<float>{1.0f, 1.0f, -0.5f, -0.5f});
         },
         {{-20, -8}, {-13, -18}, {13, 9}},
         {{13, 18}, {-13, 0}, {-13, -8}}},
    };
    for (const auto& [name, draw, inked, clear] : cases) {
        Offscreen image(40, 40);
        image.draw([&](cairo_t* cr) { draw(cr, {20, 20}, 22, {0.9, 0.7, 0.3, 1.0}); });
        for (const bool ink : {true, false})
            for (const ui::Point p : ink ? inked : clear)
                EXPECT_EQ(isGold(image.at(20 + p.x, 20 + p.y)), ink) << name << " " << p.x << "," << p.y;
    }
}

// In the smallest window and a large one: the header's controls and the About sheet's items inside
// their container and apart, the sheet's text wrapped rather than cut, and the main view below the
// header at no less than its minimum height.
TEST(ContentViewLayout, ControlsAndSheetItemsStayInsideAndApartAndTheMainViewKeepsItsMinimum) {
    const auto insideAndApart = [](const ui::Rect& outer, std::vector<ui::Rect> items) {
        for (std::size_t i = 0; i < items.size(); ++i) {
            EXPECT_EQ(outer.united(items[i]), outer) << "item " << i << " outside";
            for (std::size_t j = 0; j < i; ++j)
                EXPECT_FALSE(items[i].intersects(items[j])) << "items " << j << ", " << i;
        }
    };
    AboutView about([] {});
    for (const ui::Size window : {ui::Size{550, 820}, ui::Size{1000, 900}}) {
        const auto L = layoutContentView(window, {190, 15});
        const auto& H = L.header;
        const auto& A = about.layout(window);
        insideAndApart(H.bar, {H.playControl, H.caption, H.waveform, H.aboutControl});
        insideAndApart({0, 0, window.width, 1e9}, {H.bar, L.mainView});
        insideAndApart({0, 0, window.width, window.height}, {A.sheet});
        insideAndApart(A.sheet, {A.title, A.subtitle, A.body, A.done});
        EXPECT_TRUE(A.body.height > 40.0 && L.mainView.height >= ui::kMainViewMinimumSize.height)
            << window.width;
    }
}

} // namespace
