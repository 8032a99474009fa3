#include "tests/ui/Image.h"
#include "ui/BoutiqueKnob.h"
#include "ui/MetalToggle.h"
#include "ui/VellAltarView.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <numbers>

namespace thraskvell::ui {
namespace {

// Primitives drawn at scale 2 on grey, and the red of points about them (a point's pixel is centred a quarter
// point below and right of it); text measured in each design and weight; pictures decoded and fitted.
TEST(Drawing, ShapesBlendsShadowsTextAndPicturesFollowTheirDesign) {
    test::Image image({200, 200}, 2.0, 0.5);
    cairo_t* cr = image.cr();
    setSourceColor(cr, Color::white(1.0));
    pathContinuousRoundedRect(cr, {0, 0, 90, 90}, 20), cairo_fill(cr);
    pathCapsule(cr, {100, 0, 12, 24}), cairo_fill(cr);
    pathRect(cr, {0, 100, 200, 100}), cairo_fill(cr);
    setSourceColor(cr, Color::white(0.5));
    for (const auto& [mode, x] : {std::pair{BlendMode::screen, 120.0}, {BlendMode::multiply, 130.0}})
        cairo_set_operator(cr, cairoOperator(mode)), pathRect(cr, {x, 0, 10, 10}), cairo_fill(cr);
    cairo_set_operator(cr, CAIRO_OPERATOR_OVER);
    auto square = [](cairo_t* m) { pathRect(m, {0, 0, 60, 60}), cairo_fill(m); };
    image.context().shadows->draw(cr, "big", {20, 110, 60, 60}, {{0, 0, 0, 1}, 12, 3, 10}, 2.0, square);
    image.context().shadows->draw(cr, "small", {120, 110, 60, 60}, {{0, 0, 0, 1}, 4, 0, 0}, 2.0, square);
    // A continuous corner of radius 20 crosses the diagonal at 40 / 8 = 5, a circular one at 5.9; the
    // capsule's semicircular end of radius 6 crosses it at 1.76. Screen and
    // multiply of 0.5 over 0.5 give 0.75 and 0.25. A shadow is the silhouette moved by the offset and blurred
    // by a Gaussian of sigma radius / 2: an edge falls off as its integral, 0.83, 0.48, 0.15 and 0.06 dark
    // at -0.96, 0.04, 1.04 and 1.54 sigma.
    using P = test::Probe;
    EXPECT_EQ(image.misses({P{4, 4, 123, 133},     P{5.5, 5.5, 250, 255},    P{45, 0, 250, 255},
                            P{0, 45, 250, 255},    P{100, 0, 123, 133},      P{101, 1, 123, 133},
                            P{102, 2, 250, 255},   P{111.5, 23.5, 123, 133}, P{100, 12, 250, 255},
                            P{106, 12, 250, 255},  P{125, 5, 188, 194},      P{135, 5, 61, 67},
                            P{50, 150, 0, 3},      P{77, 150, 38, 48},       P{83, 150, 127, 137},
                            P{89, 150, 212, 222},  P{92, 150, 234, 244},     P{53, 180, 127, 137},
                            P{180, 140, 135, 145}, P{182, 140, 217, 227}}),
              "");
    TextCache& text = *image.context().text;
    const TextStyle mono{FontDesign::monospaced, 12, FontWeight::bold}, serif{FontDesign::serif, 30};
    EXPECT_EQ(text.measure("iiii", mono).width, text.measure("MMMM", mono).width);
    EXPECT_LT(text.measure("iiii", serif).width, text.measure("MMMM", serif).width * 0.7);
    const Size black = text.measure("THRASK VELL", {FontDesign::serif, 30, FontWeight::black});
    EXPECT_GT(black.width, text.measure("THRASK VELL", serif).width);
    EXPECT_GT(black.height, 30.0);          // a line is taller than the size
    TextStyle asGiven = knobCaptionStyle(); // knob captions show in capitals, whatever else is cached
    asGiven.uppercase = false;
    EXPECT_EQ(text.measure("Thresh", knobCaptionStyle()), text.measure("THRESH", asGiven));
    EXPECT_NE(text.measure("Thresh", asGiven), text.measure("THRESH", asGiven));
    EXPECT_EQ(upperCased("Thresh ▼"), "THRESH ▼");
    const unsigned char junk[] = {1, 2, 3, 4, 5, 6, 7, 8};
    EXPECT_EQ(decodePng(junk, sizeof junk), nullptr);
    EXPECT_EQ(decodePng(nullptr, 0), nullptr);
    const Rect wide = aspectFitRect({100, 50}, {10, 0, 220, 260}); // centred, as wide as the frame
    EXPECT_NEAR(wide.y, 75.0, 1e-9);
    EXPECT_NEAR(wide.height, 110.0, 1e-9);
}

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN(), kInf = std::numeric_limits<float>::infinity();

// What happens to a control, in order: a pointer event (a press or double-click at a height from the centre
// of its face, up < 0; a move 13 points to the side at a height; a release where the pointer is; wheel
// notches, away positive), Shift held (1) or let go (0), or its value set from outside; and the value after
// each.
enum Act { press, move, release, doubleClick, wheel, shift, setTo };
struct Step {
    Act act;
    double dy; // for setTo, the value set; wheel notches; shift on; unused for a release
    float value;
};
struct Row {
    bool knob;
    float start;
    std::vector<test::Probe> probes; // about the centre of the face
    std::vector<Step> steps = {};
};

TEST(Controls, KnobsPointAtTheirValueSwitchesStandUpWhenOnAndBothFollowThePointer) {
    // A knob's gold pointer, 17 from the centre: lower left, up, lower right, left, right. Values no angle
    // can show are drawn at an end of the sweep; a drag moves the value one unit per point (a tenth with
    // Shift) from the value it had when pressed, clamped, and a press alone writes nothing; the wheel moves
    // it 1 a notch (0.1 with Shift); a double-click restores the default, 50 here.
    const double d = 17 / std::sqrt(2.0);
    auto gold = [d](int at) {
        const Point pointer[] = {{-d, d}, {0, -17}, {d, d}, {-17, 0}, {17, 0}};
        std::vector<test::Probe> probes;
        for (int i = 0; i < 5; ++i)
            probes.push_back({pointer[i].x, pointer[i].y, i == at ? 200.0 : 0.0, i == at ? 255.0 : 199.0});
        return probes;
    };
    // A switch's red below its base's centre: pale inside the lever (on: 20 above to 4 below the centre; off:
    // the centre to 16 below), darkened by its shadow past one end.
    const std::vector<test::Probe> on{{0, -18, 150, 255}, {0, 2, 100, 255}, {0, 7, 0, 30}},
        off{{0, -2, 0, 45}, {0, 2, 150, 255}, {0, 14, 100, 255}};
    // From 40: clamped at the top, then back down; a value set from outside is where the next drag starts,
    // and a click that does not move leaves it. Shift mid-drag carries on from where the value is.
    const std::vector<Step> drags{
        {press, 0, 40},   {move, -30, 70},    {move, -80, 100},     {move, -200, 100}, {move, -10, 50},
        {release, 0, 50}, {setTo, 12, 12},    {press, 0, 12},       {move, -5, 17},    {release, 0, 17},
        {setTo, 30, 30},  {press, 0, 30},     {release, 0, 30},     {shift, 1, 30},    {press, 0, 30},
        {move, -30, 33},  {shift, 0, 33},     {move, -40, 43},      {release, 0, 43},  {wheel, 2, 45},
        {shift, 1, 45},   {wheel, -3, 44.7f}, {doubleClick, 0, 50}, {release, 0, 50},  {wheel, 600, 100}};
    for (const Row& row :
         {Row{true, 0, gold(0), {{press, 0, 0}, {move, -0.5, 0.5f}, {release, 0, 0.5f}}},
          Row{true, 40, gold(-1), drags},
          Row{true, 10, gold(-1), {{press, 0, 10}, {move, 25, 0}, {move, 5, 5}, {release, 0, 5}}},
          Row{true, 50, gold(1)}, Row{true, 100, gold(2)},
          Row{true, 150, gold(3), {{press, 0, 150}, {release, 0, 150}, {press, 0, 150}, {move, 60, 90}}},
          Row{true, -50, gold(4)}, Row{true, kNaN, gold(0), {{press, 0, kNaN}, {move, -20, 0}}},
          Row{true, kInf, gold(2)}, Row{true, -kInf, gold(0)},
          Row{false, 0, off, {{press, 0, 0}, {release, 0, 1}, {doubleClick, 0, 1}, {release, 0, 0}}},
          Row{false, 0.5f, off, {{press, 0, 0.5f}, {release, 0, 1}}},
          Row{false, 0.6f, on, {{press, 0, 0.6f}, {release, 0, 0}}},
          Row{false, 1, on, {{press, -18, 1}, {release, 0, 0}}},
          Row{false, 100, on, {{press, 0, 100}, {release, 0, 0}}}}) {
        SCOPED_TRACE(testing::Message() << (row.knob ? "knob at " : "switch at ") << row.start);
        float value = row.start;
        BoutiqueKnob knob("Trim", Binding<float>::to(value), 50);
        MetalToggle toggle("DRY", Binding<float>::to(value));
        // Alone at its natural size, drawn at scale 2; the face is the top of its stack.
        const auto check = [&](auto& control, double face) {
            test::Image image({100, 110}, 2.0);
            const Size natural = control.naturalSize(*image.context().text);
            control.setFrame({20, 20, natural.width, natural.height});
            control.draw(image.cr(), image.context());
            const Point c{control.frame().midX(), 20 + face};
            EXPECT_EQ(image.misses(row.probes, c), "");
            EXPECT_FALSE(control.needsRedraw()); // until the value changes again
            EXPECT_TRUE(control.hitTest({c.x + face - 1, c.y}));
            EXPECT_FALSE(control.hitTest({c.x, c.y + face + 14})); // the caption takes no press
            Point at = c;
            for (std::size_t i = 0; i < row.steps.size(); ++i) {
                const auto [act, dy, after] = row.steps[i];
                if (act == press) control.pointerDown(at = {c.x, c.y + dy});
                if (act == move) control.pointerMove(at = {c.x + 13, c.y + dy});
                if (act == release) control.pointerUp(at);
                if (act == doubleClick) control.pointerDoubleClick(at = {c.x, c.y + dy});
                if (act == wheel) control.scrollWheel(at, dy);
                if (act == shift) control.setFineAdjustment(dy != 0);
                if (act == setTo) value = static_cast<float>(dy);
                EXPECT_THAT(value, testing::NanSensitiveFloatEq(after)) << "step " << i;
            }
        };
        row.knob ? check(knob, 28) : check(toggle, 15);
    }
}

// Glow is sustain / 100, unclamped, and always has an end. Ease-out and ease-in-out are the cubic Béziers
// (0, 0, 0.58, 1) and (0.42, 0, 0.58, 1); bass boost moves like a damped oscillator of period 0.4 s and
// damping ratio z = 0.7, which peaks at half its damped period, overshooting by exp(-pi z / sqrt(1 - z²)).
// Drawn, sustain lights the picture, asymmetry shades it and bass boost reddens its shadow.
TEST(Altar, EachChangeAnimatesWithItsCurveFromWhereTheLookIsAndShowsInThePicture) {
    using P = std::pair<float, double>;
    for (const auto& [sustain, opacity] :
         {P{0, 0}, P{25, 0.25}, P{100, 1}, P{130, 1.3}, P{kNaN, 0}, P{kInf, 1}, P{-kInf, 0}})
        EXPECT_DOUBLE_EQ(altarGlowOpacity(sustain), opacity) << sustain;
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
    sustain.set(0), altar.update(13.0), sustain.set(100), altar.update(13.05); // reversed mid-flight, the
    const double from = altar.appearanceAt(13.05).glowOpacity; // glow turns back from where it is
    EXPECT_TRUE(from > 0 && from < 1 && altar.appearanceAt(13.06).glowOpacity >= from) << from;

    const Rect frame{70, 20, kAltarFrameSize.width, kAltarFrameSize.height};
    Rect bounds;
    auto render = [&](float sustain, float asymmetry, float bassBoost, const Rect& region) {
        test::Image image({360, 360}, 1.0, 0.5);
        VellAltarView altar(Binding<float>::owning(sustain), Binding<float>::owning(asymmetry),
                            Binding<float>::owning(bassBoost));
        altar.setFrame(frame);
        altar.draw(image.cr(), image.context()), bounds = altar.paintBounds();
        return image.mean(region);
    };
    const Rect centre = Rect::centered(frame.center(), {60, 60}),
               below{frame.midX() - 40, frame.maxY() + 2, 80, 8},
               lowerRight{frame.midX(), frame.midY(), frame.width / 2, frame.height / 2},
               upperLeft{frame.x, frame.y, frame.width / 2, frame.height / 2};
    // Screened at an opacity of sustain / 100, the glow adds in proportion to sustain.
    const double dark = render(0, 0, 0, centre).g, half = render(50, 0, 0, centre).g;
    const double full = render(100, 0, 0, centre).g;
    EXPECT_GT(full - dark, 20.0);
    EXPECT_NEAR(half - dark, (full - dark) / 2, 1.5);
    EXPECT_LT(render(0, 1, 0, lowerRight).g, render(0, 0, 0, lowerRight).g - 10);
    EXPECT_NEAR(render(0, 1, 0, upperLeft).g, render(0, 0, 0, upperLeft).g, 0.5);
    // Bass boost adds 0.03 to the picture, and its shadow turns from black to red.
    EXPECT_NEAR(render(0, 0, 1, centre).g - dark, 0.03 * 255, 1.5);
    const Color black = render(0, 0, 0, below), red = render(0, 0, 1, below);
    EXPECT_LT(black.r, 127 - 10); // darker than the grey behind
    EXPECT_NEAR(black.r, black.g, 2);
    EXPECT_GT(red.r, red.g + 10);
    // A fifth of a point off, at scale 1 and 2, the picture still lands on whole pixels: the same pixels.
    for (const double scale : {1.0, 2.0}) {
        const auto picture = [&](double offset) {
            test::Image image({360, 360}, scale, 0.5);
            VellAltarView altar(Binding<float>::owning(100), Binding<float>::owning(0),
                                Binding<float>::owning(0));
            altar.setFrame({frame.x + offset, frame.y + offset, frame.width, frame.height});
            altar.draw(image.cr(), image.context());
            return image.mean(centre);
        };
        EXPECT_EQ(picture(0.0), picture(0.2)) << scale;
    }
    const Rect& b = bounds; // all it paints, the fullest shadow included, lies inside its paint bounds
    for (const Rect& strip :
         {Rect{b.x, b.maxY(), b.width, 6}, Rect{b.x - 6, 0, 6, b.maxY()}, Rect{b.maxX(), 0, 6, b.maxY()}})
        EXPECT_NEAR(render(100, 1, 1, strip).g, render(0, 0, 0, {0, 0, 4, 4}).g, 0.01);
}

} // namespace
} // namespace thraskvell::ui
