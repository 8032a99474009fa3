// The shell's views without a device or a display: the waveform and glyphs probed in pixels, and
// the header and About sheet laid out across window sizes.
#include "app/shell/AboutView.h"
#include "app/shell/ContentView.h"
#include "app/shell/Glyphs.h"
#include "app/shell/WaveformView.h"
#include "tests/app/shell/ShellRender.h"

#include <gtest/gtest.h>

#include <vector>

using namespace thraskvell;
using thraskvell::test::isGold;
using thraskvell::test::Offscreen;

namespace {

TEST(WaveformView, PolylineSpansTheViewWithFullScaleAtATenthFromTheEdge) {
    const struct {
        std::vector<float> samples;
        std::vector<ui::Point> expected;
    } cases[] = {
        {{}, {{0, 21}}},
        {{0.5f}, {{0, 21}, {0, 21 - 0.5 * 18.9}}},
        {{1.0f, 0.0f, -1.0f}, {{0, 21}, {0, 2.1}, {50, 21}, {100, 39.9}}},
    };
    for (const auto& c : cases) {
        const auto points = waveformPolyline(c.samples, {100, 42});
        ASSERT_EQ(points.size(), c.expected.size());
        for (std::size_t i = 0; i < points.size(); ++i) {
            EXPECT_NEAR(points[i].x, c.expected[i].x, 1e-9) << c.samples.size() << " samples, point " << i;
            EXPECT_NEAR(points[i].y, c.expected[i].y, 1e-9) << c.samples.size() << " samples, point " << i;
        }
    }
}

TEST(WaveformView, DrawsOnlyTheStroke) {
    Offscreen image(120, 42);
    const std::vector<float> samples{1.0f, 1.0f, -1.0f, -1.0f};
    image.draw([&](cairo_t* cr) { drawWaveform(cr, {0, 0, 120, 42}, samples); });
    EXPECT_TRUE(isGold(image.at(20, 2.1)));   // the +1 run
    EXPECT_TRUE(isGold(image.at(100, 39.9))); // the -1 run
    EXPECT_FALSE(isGold(image.at(20, 21)));   // no centre line
    EXPECT_FALSE(isGold(image.at(20, 30)));   // no fill under the trace
}

TEST(Glyphs, PlayIsATriangleStopASquareAndInfoARingAroundAnI) {
    const ui::Color gold{0.9, 0.7, 0.3, 1.0};
    const struct {
        const char* name;
        void (*draw)(cairo_t*, ui::Point, double, const ui::Color&);
        std::vector<std::pair<ui::Point, bool>> inked; // offsets from the centre of a 22-point glyph
    } cases[] = {
        {"play", drawPlayGlyph, {{{0, 0}, true}, {{6, -6}, false}, {{8.5, 0}, true}, {{0, -16}, false}}},
        {"stop", drawStopGlyph, {{{0, 0}, true}, {{6, -6}, true}, {{8.5, 0}, false}, {{0, -16}, false}}},
        {"info",
         drawInfoCircleGlyph,
         {{{9.9, 0}, true}, {{0, -9.9}, true}, {{6, 0}, false}, {{0, 2}, true}, {{0, -4.4}, true}}},
    };
    for (const auto& c : cases) {
        Offscreen image(40, 40);
        image.draw([&](cairo_t* cr) { c.draw(cr, {20, 20}, 22, gold); });
        for (const auto& [offset, inked] : c.inked)
            EXPECT_EQ(isGold(image.at(20 + offset.x, 20 + offset.y)), inked)
                << c.name << " at " << offset.x << ", " << offset.y;
    }
}

TEST(ContentViewLayout, HeaderControlsInOrderWithinTheBarAndTheMainViewKeepsItsMinimum) {
    const ui::Size caption{190, 15};
    for (const ui::Size window : {ui::Size{550, 820}, ui::Size{600, 850}, ui::Size{1000, 900}}) {
        SCOPED_TRACE(window.width);
        const auto L = layoutContentView(window, caption);
        const auto& H = L.header;
        EXPECT_EQ(H.hairline.maxY(), H.bar.maxY());
        EXPECT_EQ(H.playControl.x, window.width - H.aboutControl.maxX()) << "margins differ";
        EXPECT_EQ(H.playControl.midY(), H.bar.midY());
        EXPECT_EQ(H.aboutControl.midY(), H.bar.midY());
        EXPECT_EQ(H.playControl.width, H.playControl.height);
        EXPECT_GT(H.caption.x, H.playControl.maxX());
        EXPECT_EQ(H.waveform.x, H.caption.x);
        EXPECT_GT(H.waveform.y, H.caption.maxY());
        EXPECT_DOUBLE_EQ((H.caption.y + H.waveform.maxY()) / 2, H.bar.midY());
        EXPECT_LT(H.waveform.maxX(), H.aboutControl.x);
        EXPECT_EQ(L.mainView.y, H.bar.maxY());
        EXPECT_GE(L.mainView.height, ui::kMainViewMinimumSize.height);
        EXPECT_EQ(L.mainView.width, window.width);
    }
}

TEST(AboutView, TheRealTextWrapsInsideTheSmallestWindow) {
    AboutView about([] {});
    for (const ui::Size window : {ui::Size{550, 820}, ui::Size{1000, 900}}) {
        const auto& L = about.layout(window);
        EXPECT_GT(L.body.height, 40.0); // several lines: the paragraph wrapped rather than cut
        EXPECT_EQ(L.sheet.midX(), window.width / 2);
        EXPECT_GE(L.sheet.y, 0.0);
        EXPECT_LE(L.sheet.maxY(), window.height);
        for (const ui::Rect& item : {L.title, L.subtitle, L.body, L.done}) {
            EXPECT_GE(item.x, L.sheet.x);
            EXPECT_LE(item.maxX(), L.sheet.maxX());
        }
        EXPECT_LT(L.title.maxY(), L.subtitle.y);
        EXPECT_LT(L.subtitle.maxY(), L.body.y);
        EXPECT_LT(L.body.maxY(), L.done.y);
        EXPECT_LT(L.done.maxY(), L.sheet.maxY());
    }
}

} // namespace
