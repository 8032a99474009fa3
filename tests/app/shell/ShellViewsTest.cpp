// The shell's views without a device or a display: waveform arithmetic, header and About sheet
// layouts, glyph shapes probed in pixels, and the About sheet's presentation.
#include "app/shell/AboutView.h"
#include "app/shell/ContentView.h"
#include "app/shell/Glyphs.h"
#include "app/shell/WaveformView.h"
#include "tests/app/shell/ShellRender.h"

#include <gtest/gtest.h>

#include <vector>

using namespace thraskvell;
using thraskvell::test::isDark;
using thraskvell::test::isGold;
using thraskvell::test::Offscreen;

namespace {

struct PolylineCase {
    const char* name;
    std::vector<float> samples;
    ui::Size size;
    std::vector<ui::Point> expected;
};

TEST(WaveformView, PolylineArithmetic) {
    const std::vector<PolylineCase> cases = {
        {"empty: only the start on the centre line", {}, {100, 42}, {{0, 21}}},
        {"one sample: a vertical stroke at x = 0", {0.5f}, {100, 42}, {{0, 21}, {0, 21 - 0.5 * 21 * 0.9}}},
        {"two samples: at the left and right edges",
         {0.0f, -1.0f},
         {100, 42},
         {{0, 21}, {0, 21}, {100, 21 + 18.9}}},
        {"+1 lies 2.1 below the top of a 42-point view", {1.0f}, {300, 42}, {{0, 21}, {0, 2.1}}},
        {"beyond 1/0.9 leaves the view, unclamped", {2.0f}, {10, 42}, {{0, 21}, {0, 21 - 37.8}}},
        {"three samples: step w / 2", {0.0f, 0.0f, 0.0f}, {50, 10}, {{0, 5}, {0, 5}, {25, 5}, {50, 5}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const auto points = waveformPolyline(c.samples, c.size);
        ASSERT_EQ(points.size(), c.expected.size());
        for (std::size_t i = 0; i < points.size(); ++i) {
            EXPECT_NEAR(points[i].x, c.expected[i].x, 1e-9) << "point " << i;
            EXPECT_NEAR(points[i].y, c.expected[i].y, 1e-9) << "point " << i;
        }
    }
}

TEST(WaveformView, TheUsualSnapshotEndsOnTheRightEdge) {
    const std::vector<float> samples(256, 0.25f);
    const auto points = waveformPolyline(samples, {510, 42});
    ASSERT_EQ(points.size(), 257u);
    EXPECT_NEAR(points[2].x - points[1].x, 2.0, 1e-12); // 510 / 255
    EXPECT_NEAR(points.back().x, 510.0, 1e-9);
}

TEST(WaveformView, DrawsTheStrokeWhereThePolylineRunsAndNothingElse) {
    Offscreen image(120, 42);
    const std::vector<float> samples{1.0f, 1.0f, -1.0f, -1.0f};
    image.draw([&](cairo_t* cr) { drawWaveform(cr, {0, 0, 120, 42}, samples); });
    EXPECT_TRUE(isGold(image.at(20, 2.1)));   // the +1 run, 2.1 from the top
    EXPECT_TRUE(isGold(image.at(100, 39.9))); // the -1 run
    EXPECT_FALSE(isGold(image.at(20, 21)));   // no centre line
    EXPECT_FALSE(isGold(image.at(20, 30)));   // no fill under the trace

    Offscreen empty(120, 42);
    empty.draw([&](cairo_t* cr) { drawWaveform(cr, {0, 0, 120, 42}, {}); });
    for (double x : {0.5, 60.0, 119.0})
        EXPECT_FALSE(isGold(empty.at(x, 21))) << x;
}

TEST(HeaderBar, LayoutAcrossWidths) {
    struct Case {
        double width;
        double waveformWidth;
    };
    const ui::Size caption{190, 15};
    for (const Case c : {Case{600, 454}, Case{550, 404}, Case{1000, 854}}) {
        SCOPED_TRACE(c.width);
        const auto L = layoutHeaderBar(c.width, caption);
        // Row: 12 + (15 + 6 + 42) + 12, taller than the 52-point play control.
        EXPECT_DOUBLE_EQ(L.bar.height, 87.0);
        EXPECT_EQ(L.hairline, (ui::Rect{0, 86, c.width, 1}));
        EXPECT_EQ(L.playControl, (ui::Rect{20, 17.5, 52, 52}));
        EXPECT_EQ(L.caption, (ui::Rect{88, 12, 190, 15}));
        EXPECT_EQ(L.waveform, (ui::Rect{88, 33, c.waveformWidth, 42}));
        EXPECT_DOUBLE_EQ(L.aboutControl.x, 88 + c.waveformWidth + 16);
        EXPECT_DOUBLE_EQ(L.aboutControl.maxX(), c.width - 20);
        EXPECT_DOUBLE_EQ(L.aboutControl.midY(), L.playControl.midY());
    }
}

TEST(ContentViewLayout, MainViewBelowTheHeaderNeverBelowItsMinimum) {
    const ui::Size caption{190, 15};
    const auto ideal = layoutContentView({600, 850}, caption);
    EXPECT_EQ(ideal.mainView, (ui::Rect{0, 87, 600, 763}));
    const auto cramped = layoutContentView({550, 820}, caption);
    EXPECT_EQ(cramped.mainView, (ui::Rect{0, 87, 550, 750}));
}

struct GlyphProbe {
    const char* name;
    PlayGlyph glyph;
    bool upperRightInked; // (+6, -6) from the centre: inside the square, above the triangle's edge
    bool tipInked;        // (+8.5, 0): the triangle's point, right of the square
};

TEST(Glyphs, PlayIsATriangleAndStopASquare) {
    const std::vector<GlyphProbe> probes = {
        {"play", PlayGlyph::play, false, true},
        {"stop", PlayGlyph::stop, true, false},
    };
    const ui::Color gold{0.9, 0.7, 0.3, 1.0};
    for (const auto& p : probes) {
        SCOPED_TRACE(p.name);
        Offscreen image(40, 40);
        image.draw([&](cairo_t* cr) {
            if (p.glyph == PlayGlyph::play)
                drawPlayGlyph(cr, {20, 20}, 22, gold);
            else
                drawStopGlyph(cr, {20, 20}, 22, gold);
        });
        EXPECT_TRUE(isGold(image.at(20, 20)));
        EXPECT_EQ(isGold(image.at(26, 14)), p.upperRightInked);
        EXPECT_EQ(isGold(image.at(28.5, 20)), p.tipInked);
        EXPECT_FALSE(isGold(image.at(20, 4))); // both stay within the 22-point em
    }
}

TEST(Glyphs, InfoCircleIsARingWithAnIInside) {
    Offscreen image(40, 40);
    image.draw([](cairo_t* cr) { drawInfoCircleGlyph(cr, {20, 20}, 22, {0.8, 0.6, 0.2, 1.0}); });
    const double r = 0.45 * 22;
    EXPECT_TRUE(isGold(image.at(20 + r, 20))); // the ring
    EXPECT_TRUE(isGold(image.at(20, 20 - r)));
    EXPECT_FALSE(isGold(image.at(20 + r * 0.6, 20))); // empty between ring and letter
    EXPECT_TRUE(isGold(image.at(20, 20 + 2)));        // the stem
    EXPECT_TRUE(isGold(image.at(20, 20 - 0.2 * 22))); // the dot
}

TEST(AboutView, LayoutStacksTheItemsAndWrapsTheBodyToTheSheet) {
    double askedWidth = -1;
    AboutViewMetrics metrics{{200, 38}, {150, 20}, {40, 20}, [&](double width) {
                                 askedWidth = width;
                                 return 100.0;
                             }};
    struct Case {
        ui::Size window;
        double sheetWidth;
    };
    for (const Case c : {Case{{600, 850}, 420}, Case{{440, 850}, 400}}) {
        const auto L = layoutAboutView(c.window, metrics);
        EXPECT_DOUBLE_EQ(L.sheet.width, c.sheetWidth);
        EXPECT_DOUBLE_EQ(askedWidth, c.sheetWidth - 64 - 32);
        EXPECT_DOUBLE_EQ(L.sheet.height, 32 + 38 + 18 + 20 + 18 + 100 + 18 + 8 + 36 + 32);
        EXPECT_DOUBLE_EQ(L.sheet.midX(), c.window.width / 2);
        EXPECT_DOUBLE_EQ(L.title.y, L.sheet.y + 32);
        EXPECT_DOUBLE_EQ(L.subtitle.y, L.title.maxY() + 18);
        EXPECT_DOUBLE_EQ(L.body.y, L.subtitle.maxY() + 18);
        EXPECT_DOUBLE_EQ(L.done.y, L.body.maxY() + 26);
        EXPECT_EQ(L.done.size(), (ui::Size{92, 36})); // 26 + 40 + 26 by 8 + 20 + 8
        EXPECT_DOUBLE_EQ(L.done.maxY() + 32, L.sheet.maxY());
    }
}

TEST(AboutView, TheRealTextFitsTheSmallestWindowUntruncated) {
    int dismissed = 0;
    AboutView about([&] { ++dismissed; });
    const auto& L = about.layout({550, 820});
    EXPECT_GT(L.body.height, 40.0); // several lines: the paragraph wrapped rather than cut
    EXPECT_GE(L.sheet.y, 0.0);
    EXPECT_LE(L.sheet.maxY(), 820.0);

    // Done fires on a release over it after a press over it, and nowhere else.
    about.pointerDown(L.done.center());
    about.pointerUp({L.done.maxX() + 30, L.done.midY()});
    EXPECT_EQ(dismissed, 0);
    about.pointerDown(L.sheet.center());
    about.pointerUp(L.done.center());
    EXPECT_EQ(dismissed, 0);
    about.pointerDown(L.done.center());
    about.pointerUp(L.done.center());
    EXPECT_EQ(dismissed, 1);
}

} // namespace
