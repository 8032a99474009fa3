#include "app/shell/AboutView.h"
#include "app/shell/ContentView.h"
#include "app/shell/Glyphs.h"
#include "app/shell/WaveformView.h"
#include "tests/app/DemoThroughBridge.h"
#include "tests/app/shell/ShellRender.h"
#include "tests/platform/DiskAudioDevice.h"
#include "ui/BackingStore.h"

#include <gmock/gmock.h>

#include <sys/resource.h>

#include <csignal>
#include <optional>
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
    const bool pressed = !isGold(image.at(c.x, c.y));
    EXPECT_TRUE(pressed || corner != tip) << "not exactly one glyph drawn";
    return {corner ? PlayGlyph::stop : PlayGlyph::play, pressed};
}

void expectHeaderAgrees(ContentView& view, bool playing) {
    ASSERT_EQ(view.engine().isPlaying(), playing);
    EXPECT_EQ(view.statusCaption(), playing ? "DEMO BASS RIFF — LIVE" : "PRESS PLAY TO HEAR THRASK VELL");
    EXPECT_EQ(view.playControlLabel(), playing ? "Stop demo" : "Play demo");
    EXPECT_EQ(drawnPlayControl(view).first, playing ? PlayGlyph::stop : PlayGlyph::play);
}

// What the device played in the last of these runs equals the demo computed without the engine.
void expectTheDemo(const std::vector<std::vector<float>>& played, std::vector<std::size_t> runs) {
    runs.push_back(played[0].size());
    const auto expected = demoThroughBridge(runs);
    for (std::size_t f = 0; f < played[0].size(); ++f)
        for (std::size_t c = 0; c < 2; ++c)
            ASSERT_EQ(played[c][f], expected[2 * f + c]) << "channel " << c << ", frame " << f;
}

// Launched idle; Play on a driver that cannot open, again, then on SDL's disk driver (a second start
// changes nothing), Stop, Play again resuming the riff, the window closing, Play, and the device lost
// while playing. The header follows the engine throughout, the device plays the demo, and a backing
// store that repaints only what the frames mark ends up as a full repaint.
TEST(ContentView, ASessionFromLaunchToALostDevice) {
    MainThreadQueue queue;
    ContentView view(queue);
    StandaloneAudioEngine& engine = view.engine();
    int announced = 0;
    const Cancellable subscription = engine.objectWillChange().sink([&] { ++announced; });
    expectHeaderAgrees(view, false);
    Offscreen image(600, 850); // launched idle: a flat waveform on the centre line
    image.draw([&](cairo_t* cr) { view.draw(cr, 1.0, 0.0); });
    const ui::Rect wave = view.layout().header.waveform;
    const Rgb above = image.at(wave.midX(), wave.midY() - 8);
    EXPECT_TRUE(isGold(image.at(wave.midX(), wave.midY())) && above.r < 70 && above.g < 50);
    EXPECT_EQ(view.minimumSize().width, 550.0);
    EXPECT_GE(view.minimumSize().height, view.layout().header.bar.height + ui::kMainViewMinimumSize.height);
    constexpr double kScale = 1.5; // device pixels that do not fall on whole points
    ui::BackingStore store, full;
    const auto paint = [&](ui::BackingStore& s, double scale) {
        s.paint(
            nullptr, 900, 1275, scale,
            [&](cairo_t* cr, std::optional<ui::Rect> dirty) { view.draw(cr, scale, 0.0, dirty); },
            [&](ui::Size size) { view.setSize(size); });
    };
    paint(store, kScale);

    std::optional<DiskAudioDevice> device(std::in_place);
    const auto press = [&](bool playingAfter, const char* driver = "disk") {
        ::setenv("SDL_AUDIODRIVER", driver, 1);
        testing::internal::CaptureStdout();
        drag(view, view.layout().header.playControl.center());
        expectHeaderAgrees(view, playingAfter);
        return testing::internal::GetCapturedStdout();
    };
    for (int retry = 0; retry < 2; ++retry)
        EXPECT_THAT(press(false, "thraskvell-no-such-driver"),
                    testing::MatchesRegex("Engine start error: [^\n]*thraskvell-no-such-driver[^\n]*\n"));
    EXPECT_EQ(press(true), "");
    // Each prepare installs fresh input storage, so an unchanged pointer means no second prepare.
    const float* storage = engine.dspBridge().inputBufferList().mBuffers[0].mData;
    engine.start();
    EXPECT_EQ(engine.dspBridge().inputBufferList().mBuffers[0].mData, storage);
    ASSERT_TRUE(device->waitForFrames(44100));
    press(false);
    engine.stop();
    EXPECT_EQ(announced, 2) << "isPlaying twice; snapshots wait in the queue";
    queue.drain();
    const auto played = device->read();
    const std::size_t firstRun = played[0].size();
    expectTheDemo(played, {});
    // The display shows the last whole tap buffer, unless a starved tap thread (a loaded machine,
    // a sanitizer) made the real-time side drop some.
    const float* lastTap = played[0].data() + (firstRun / 1024 - 1) * 1024;
    EXPECT_TRUE(engine.audioEngine().droppedTapFrames() > 0 ||
                engine.waveform() == StandaloneAudioEngine::decimateForDisplay(lastTap, 1024));

    device.emplace(); // a fresh file; the riff goes on where it stopped
    press(true);
    ASSERT_TRUE(device->waitForFrames(8192));
    view.disappear(); // the window closes
    expectHeaderAgrees(view, false);
    expectTheDemo(device->read(), {firstRun});

    // Everything the frames marked so far, then a snapshot from the tap (through the queue: the
    // waveform alone) and a drag on a main-view knob, as the window's tick marks them.
    press(true);
    store.invalidate(view.dirtyRect(0.0), kScale);
    paint(store, kScale);
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10); queue.drain() == 0;) {
        ASSERT_LT(std::chrono::steady_clock::now(), end) << "no snapshot announced in ten seconds";
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    EXPECT_EQ(view.dirtyRect(0.0), view.layout().header.waveform);
    store.invalidate(view.layout().header.waveform, kScale);
    const ui::Point face = view.mainView().knob(1).faceFrame().center();
    drag(view, {face.x + view.layout().mainView.x, face.y + view.layout().mainView.y}, {20});
    store.invalidate(view.dirtyRect(0.0), kScale);
    paint(store, kScale);
    EXPECT_TRUE(store.isUpToDate());
    paint(full, kScale);
    int differing = 0;
    for (int y = 0; y < 1275; ++y)
        for (int x = 0; x < 900; ++x)
            differing += !(pixelAt(store.image(), x, y) == pixelAt(full.image(), x, y));
    EXPECT_EQ(differing, 0);

    // The device's file may grow no further: its writes fail, and the next frame stops and says why.
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    ::getrlimit(RLIMIT_FSIZE, &old);
    const rlimit limited{64 * 1024, old.rlim_max};
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &limited), 0);
    testing::internal::CaptureStdout();
    ui::Rect dirty{};
    for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
         engine.isPlaying() && std::chrono::steady_clock::now() < end;) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        queue.drain();
        dirty = view.dirtyRect(0.0);
    }
    ::setrlimit(RLIMIT_FSIZE, &old);
    EXPECT_THAT(testing::internal::GetCapturedStdout(),
                testing::MatchesRegex("Engine error: [^\n]*disconnected[^\n]*\n"));
    EXPECT_EQ(dirty.united(view.layout().header.bar), dirty) << "the header repainted in that frame";
    expectHeaderAgrees(view, false);
    EXPECT_FALSE(engine.audioEngine().isRunning()) << "stopped, not just marked";

    paint(store, 3.0); // a new scale on the same pixels rebuilds the image for the new logical size
    EXPECT_EQ(view.size(), (ui::Size{300, 425}));
}

TEST(ContentView, PressesOnTheHeaderAndTheSheetActOnlyWhenReleasedWhereTheyBegan) {
    // Steps d(own), m(ove), u(p) on P(lay), I(nfo), D(one), A(way: the caption), S(heet), or e(scape);
    // `*`: the play button drawn pressed after it (unless the sheet covers it). Then: playing, sheet shown.
    const std::tuple<const char*, bool, bool> cases[] = {
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

// Points inked or not, as offsets from the centre of a 40-point square: the info glyph drawn 22 points
// wide there, and a waveform across it from the left edge's centre: a +1 run to a tenth from the top,
// then a -0.5 run (a stroke: no centre line, no fill). The play control's glyphs are read back above.
TEST(Glyphs, InfoIsARingAroundAnIAndTheWaveformAStrokeAtNineTenthsScale) {
    using Draw = void (*)(cairo_t*, ui::Point, double, const ui::Color&);
    const std::tuple<const char*, Draw, std::vector<ui::Point>, std::vector<ui::Point>> cases[] = {
        // inked, clear
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

// The sheet's Done is set semibold: the bright gold of its letters (the frame around them is dimmer) is
// nearer the same word set semibold on the sheet's grey than set bold.
TEST(AboutView, DoneIsSemibold) {
    const auto inked = [](const Offscreen& image, const ui::Rect& r) {
        int count = 0;
        for (double y = r.y; y < r.maxY(); ++y)
            for (double x = r.x; x < r.maxX(); ++x)
                count += image.at(x, y).r > 200 && image.at(x, y).g > 150;
        return count;
    };
    AboutView about([] {});
    Offscreen sheet(600, 850), semibold(100, 40), bold(100, 40);
    sheet.draw([&](cairo_t* cr) { about.draw(cr, {600, 850}, 1.0); });
    ui::TextCache text;
    for (auto [image, weight] :
         {std::pair{&semibold, ui::FontWeight::semibold}, {&bold, ui::FontWeight::bold}})
        image->draw([&](cairo_t* cr) {
            ui::setSourceColor(cr, ui::Color::white(0.1)), cairo_paint(cr);
            text.draw(cr, "Done", {ui::FontDesign::system, 15, weight, {0.9, 0.7, 0.3, 1}}, {10, 10});
        });
    const int done = inked(sheet, about.layout({600, 850}).done), full = inked(bold, {0, 0, 100, 40});
    EXPECT_LT(std::abs(done - inked(semibold, {0, 0, 100, 40})), std::abs(done - full)) << done;
}

// In the smallest window and a large one; the sheet's text wraps rather than being cut.
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
