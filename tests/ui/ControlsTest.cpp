#include "tests/ui/Image.h"
#include "ui/BoutiqueKnob.h"
#include "ui/MetalToggle.h"
#include "ui/VellAltarView.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <tuple>
#include <utility>
#include <vector>

namespace thraskvell::ui {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN(), kInf = std::numeric_limits<float>::infinity();

// Draws a control alone at its natural size and returns the centre of its face (the top of its stack).
template <typename Control> Point drawAlone(Control& control, test::Image& image, double faceRadius) {
    RenderContext ctx = image.context();
    control.setFrame({20, 20, control.naturalSize(*ctx.text).width, control.naturalSize(*ctx.text).height});
    control.draw(image.cr(), ctx);
    return {control.frame().midX(), 20 + faceRadius};
}

TEST(BoutiqueKnob, ThePointerShowsTheValueTurnedFromUpright) {
    // The pointer's centre, 17 points from the face's: lower left, up, lower right, left, right.
    const double d = 17.0 / std::sqrt(2.0);
    const Point probes[] = {{-d, d}, {0, -17}, {d, d}, {-17, 0}, {17, 0}};
    // Out-of-range values are drawn unclamped; values no angle can show at an end of the sweep.
    using P = std::pair<float, int>; // value, the probe the pointer shows at
    for (const auto& [value, shown] :
         {P{0, 0}, P{50, 1}, P{100, 2}, P{150, 3}, P{-50, 4}, P{kNaN, 0}, P{kInf, 2}, P{-kInf, 0}}) {
        test::Image image({100, 110}, 2.0);
        BoutiqueKnob knob("Trim", Binding<float>::owning(value));
        const Point face = drawAlone(knob, image, 28.0);
        for (int i = 0; i < 5; ++i) { // gold (0.9, 0.7, 0.3) on the dark cap
            const test::Pixel p = image.at({face.x + probes[i].x, face.y + probes[i].y});
            EXPECT_EQ(p.r > 200 && p.g > 150 && p.b < 110, i == shown) << value << ", probe " << i;
        }
        EXPECT_FALSE(knob.needsRedraw()) << value; // until the value changes again
        EXPECT_TRUE(knob.hitTest({face.x + 27, face.y}));
        EXPECT_FALSE(knob.hitTest({face.x, face.y + 29})); // the caption takes no drag
    }
}

TEST(BoutiqueKnob, ADragMovesOneUnitPerPointOfTotalTravelAndClamps) {
    // A start, then (pointer's height relative to the press, value) at each move; up is negative.
    using Steps = std::vector<std::pair<double, float>>;
    using S = std::pair<float, Steps>;
    for (const auto& [start, steps] :
         {S{40, {{-30, 70}, {-80, 100}, {-200, 100}, {0, 40}}}, S{10, {{25, 0}, {5, 5}}},
          S{0, {{-0.5, 0.5f}}}, S{150, {{0, 100}, {60, 90}}}, S{kNaN, {{0, 0}, {-20, 0}}}}) {
        float value = start;
        BoutiqueKnob knob("Trim", Binding<float>::to(value));
        knob.onAppear();
        knob.pointerDown({50, 50});
        for (const auto& [dy, expected] : steps) {
            knob.pointerMove({63, 50 + dy}); // sideways movement is ignored
            EXPECT_FLOAT_EQ(value, expected) << start << " moved " << dy;
        }
        knob.pointerUp({63, 50});
    }
}

TEST(BoutiqueKnob, TheNextDragStartsWhereTheLastEndedOrWhereTheKnobLastAppeared) {
    float value = 40;
    BoutiqueKnob knob("Sustain", Binding<float>::to(value));
    auto drag = [&](double dy) {
        knob.pointerDown({50, 50});
        knob.pointerMove({50, 50 + dy});
        knob.pointerUp({50, 50 + dy});
        return value;
    };
    knob.onAppear();
    EXPECT_EQ(drag(-30), 70);
    EXPECT_EQ(drag(-5), 75);
    value = 12; // moved from outside: drawn at once, but the anchor only once the knob appears again
    EXPECT_EQ(drag(0), 75);
    value = 12;
    knob.onAppear();
    EXPECT_EQ(drag(-5), 17);
}

TEST(MetalToggle, TheLeverStandsUpWhenOnDropsWhenOffAndATapFlipsIt) {
    // Red of the probes below the base's centre (dy, least, most): pale inside the lever (on: 20 above
    // to 4 below the centre; off: the centre to 16 below), darkened by its shadow past one end.
    using Probes = std::vector<std::tuple<double, double, double>>;
    const Probes on{{-18, 150, 255}, {2, 100, 255}, {7, 0, 30}},
        off{{-2, 0, 45}, {2, 150, 255}, {14, 100, 255}};
    for (const float start : {0.0f, 0.5f, 0.6f, 1.0f, 100.0f}) {
        float value = start;
        MetalToggle toggle("DRY", Binding<float>::to(value));
        for (const bool isOn : {start > 0.5f, start <= 0.5f}) {
            test::Image image({80, 80}, 2.0);
            const Point base = drawAlone(toggle, image, 15.0);
            for (const auto& [dy, least, most] : isOn ? on : off) {
                const double red = image.at({base.x, base.y + dy}).r;
                EXPECT_TRUE(red >= least && red <= most)
                    << start << (isOn ? " on, " : " off, ") << dy << ": " << red;
            }
            toggle.pointerDown(base);
            toggle.pointerUp(base);
            EXPECT_EQ(value, isOn ? 0.0f : 1.0f) << start;
            EXPECT_TRUE(toggle.hitTest({base.x + 14, base.y}));
            EXPECT_FALSE(toggle.hitTest({base.x, base.y + 16})); // the caption takes no tap
        }
    }
}

TEST(Captions, KnobsShowTheirLabelInCapitals) {
    TextCache text;
    TextStyle asGiven = knobCaptionStyle();
    asGiven.uppercase = false;
    EXPECT_EQ(text.measure("Thresh", knobCaptionStyle()), text.measure("THRESH", asGiven));
    EXPECT_NE(text.measure("Thresh", asGiven), text.measure("THRESH", asGiven));
    EXPECT_EQ(upperCased("Thresh ▼"), "THRESH ▼");
}

TEST(AltarView, GlowIsSustainOverAHundredAndAlwaysHasAnEnd) {
    using P = std::pair<float, double>;
    for (const auto& [sustain, opacity] :
         {P{0, 0}, P{25, 0.25}, P{100, 1}, P{130, 1.3}, P{kNaN, 0}, P{kInf, 1}, P{-kInf, 0}})
        EXPECT_DOUBLE_EQ(altarGlowOpacity(sustain), opacity) << sustain;
}

// Ease-out and ease-in-out are the cubic Béziers (0, 0, 0.58, 1) and (0.42, 0, 0.58, 1); bass boost
// moves like a damped oscillator of period 0.4 s and damping ratio z = 0.7, which peaks at half its
// damped period, overshooting by exp(-pi z / sqrt(1 - z²)).
TEST(AltarView, EachChangeAnimatesWithItsCurveFromWhereTheLookIs) {
    auto sustain = Binding<float>::owning(0), switches = Binding<float>::owning(0.5f);
    VellAltarView altar(sustain, switches, switches);
    altar.update(10.0); // the first look is taken as it is: switches at 0.5 are off
    sustain.set(100);
    switches.set(0.51f);
    altar.update(11.0);
    const double damped = std::sqrt(1 - 0.7 * 0.7), peak = 0.2 / damped;
    using T = std::tuple<double, double, double, double>; // seconds in, glow, shade, bass boost
    for (const auto& [t, glow, shade, boost] :
         {T{0.0, 0.0, 0.0, 0.0}, T{0.025, 0.3781, 0.0076, 0.0639}, T{0.05, 0.6846, 0.0311, 0.2105},
          T{0.1, 1.0, 0.1292, 0.5614}, T{0.2, 1.0, 0.5, 0.9841}, T{0.4, 1.0, 1.0, 1.0145},
          T{1.0, 1.0, 1.0, 1.0}, T{peak, 1.0, 0.8128, 1.0 + std::exp(-std::numbers::pi * 0.7 / damped)}}) {
        const AltarAppearance a = altar.appearanceAt(11.0 + t);
        EXPECT_NEAR(a.glowOpacity, glow, 1e-3) << t;
        EXPECT_NEAR(a.shadeOpacity, shade, 1e-3) << t;
        EXPECT_NEAR(a.brightness, 0.03 * boost, 0.03 * 2e-3) << t;
        EXPECT_NEAR(a.shadow.radius, 8 + 12 * boost, 0.05) << t;
        EXPECT_NEAR(a.shadow.dy, 6 + 6 * boost, 0.05) << t;
    }
    EXPECT_TRUE(altar.isAnimating(11.5));
    EXPECT_FALSE(altar.isAnimating(12.0));
    sustain.set(0); // reversed mid-flight, the glow turns back from where it is
    altar.update(13.0);
    sustain.set(100);
    altar.update(13.05);
    const double from = altar.appearanceAt(13.05).glowOpacity;
    EXPECT_GT(from, 0.0);
    EXPECT_LT(from, 1.0);
    EXPECT_GE(altar.appearanceAt(13.06).glowOpacity, from);
}

TEST(AltarView, SustainLightsThePictureAsymmetryShadesItAndBassBoostReddensItsShadow) {
    const Rect frame{40, 20, kAltarFrameSize.width, kAltarFrameSize.height};
    auto render = [&](float sustain, float asymmetry, float bassBoost, const Rect& region) {
        test::Image image({300, 330});
        setSourceColor(image.cr(), Color::white(0.5));
        cairo_paint(image.cr());
        VellAltarView altar(Binding<float>::owning(sustain), Binding<float>::owning(asymmetry),
                            Binding<float>::owning(bassBoost));
        altar.setFrame(frame);
        RenderContext ctx = image.context();
        altar.draw(image.cr(), ctx);
        return image.mean(region);
    };
    const Rect centre = Rect::centered(frame.center(), {60, 60}),
               below{frame.midX() - 40, frame.maxY() + 2, 80, 8};
    const Rect lowerRight{frame.midX(), frame.midY(), frame.width / 2, frame.height / 2};
    const Rect upperLeft{frame.x, frame.y, frame.width / 2, frame.height / 2};

    // Screened at an opacity of sustain / 100, the glow adds in proportion to sustain.
    const double dark = render(0, 0, 0, centre).g, half = render(50, 0, 0, centre).g;
    const double full = render(100, 0, 0, centre).g;
    EXPECT_GT(full - dark, 20.0);
    EXPECT_NEAR(half - dark, (full - dark) / 2, 1.5);
    EXPECT_LT(render(0, 1, 0, lowerRight).g, render(0, 0, 0, lowerRight).g - 10);
    EXPECT_NEAR(render(0, 1, 0, upperLeft).g, render(0, 0, 0, upperLeft).g, 0.5);
    // Bass boost adds 0.03 to the picture, and its shadow turns from black to red.
    EXPECT_NEAR(render(0, 0, 1, centre).g - dark, 0.03 * 255, 1.5);
    const test::Pixel black = render(0, 0, 0, below), red = render(0, 0, 1, below);
    EXPECT_LT(black.r, 127 - 10); // darker than the grey behind
    EXPECT_NEAR(black.r, black.g, 2);
    EXPECT_GT(red.r, red.g + 10);
}

} // namespace
} // namespace thraskvell::ui
