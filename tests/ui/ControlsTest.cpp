#include "ui/BoutiqueKnob.h"
#include "ui/MetalToggle.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <vector>

namespace thraskvell::ui {
namespace {

// Places a control the way a view would and returns the centre of its face.
template <typename Control> Point place(Control& control, TextCache& text) {
    const Size size = control.naturalSize(text);
    control.setFrame({100, 100, size.width, size.height});
    return control.frame().width > 0 ? Point{control.frame().midX(), control.frame().y + 28.0} : Point{};
}

TEST(BoutiqueKnob, AngleSweepsFromLowerLeftThroughUprightToLowerRight) {
    struct Case {
        float value;
        double degrees;
        double pointerDx; // pointer centre relative to the face centre, on screen
        double pointerDy;
    };
    const double d = 17.0 / std::sqrt(2.0);
    for (const Case c :
         {Case{0.0f, -135.0, -d, d}, Case{50.0f, 0.0, 0.0, -17.0}, Case{100.0f, 135.0, d, d}}) {
        EXPECT_DOUBLE_EQ(knobAngleDegrees(c.value), c.degrees) << c.value;
        const Point p = knobPointerCenter({0, 0}, c.value);
        EXPECT_NEAR(p.x, c.pointerDx, 1e-9) << c.value;
        EXPECT_NEAR(p.y, c.pointerDy, 1e-9) << c.value;
    }
    EXPECT_DOUBLE_EQ(knobAngleDegrees(150.0f), 270.0); // out-of-range values are drawn unclamped
    EXPECT_DOUBLE_EQ(knobAngleDegrees(-10.0f), -162.0);
    // Values no angle can show must not poison the drawing context.
    EXPECT_DOUBLE_EQ(knobAngleDegrees(std::numeric_limits<float>::quiet_NaN()), -135.0);
    EXPECT_DOUBLE_EQ(knobAngleDegrees(std::numeric_limits<float>::infinity()), 135.0);
    EXPECT_DOUBLE_EQ(knobAngleDegrees(-std::numeric_limits<float>::infinity()), -135.0);
}

TEST(BoutiqueKnob, DragFollowsTheTotalDistanceAndClamps) {
    struct Step {
        double pointerY; // relative to where the drag began; up is negative
        float expected;
    };
    struct Sequence {
        float start;
        std::vector<Step> steps;
    };
    TextCache text;
    for (const auto& seq : {Sequence{40.0f, {{-30, 70.0f}, {-80, 100.0f}, {-200, 100.0f}, {0, 40.0f}}},
                            Sequence{10.0f, {{25, 0.0f}, {5, 5.0f}}}, Sequence{0.0f, {{-0.5, 0.5f}}},
                            Sequence{150.0f, {{0, 100.0f}, {60, 90.0f}}},
                            Sequence{std::numeric_limits<float>::quiet_NaN(), {{0, 0.0f}, {-20, 0.0f}}}}) {
        float value = seq.start;
        BoutiqueKnob knob("Trim", Binding<float>::to(value));
        const Point face = place(knob, text);
        knob.onAppear();
        knob.pointerDown(face);
        EXPECT_FALSE(std::isnan(value));
        for (const Step& step : seq.steps) {
            knob.pointerMove({face.x + 13.0, face.y + step.pointerY}); // sideways movement is ignored
            EXPECT_FLOAT_EQ(value, step.expected) << seq.start << " moved " << step.pointerY;
        }
        knob.pointerUp(face);
    }
}

TEST(BoutiqueKnob, TheAnchorMovesOnlyWhenADragEndsOrTheKnobAppears) {
    TextCache text;
    float value = 40.0f;
    BoutiqueKnob knob("Sustain", Binding<float>::to(value));
    const Point face = place(knob, text);
    EXPECT_EQ(knob.dragLastValue(), 0.0f);
    knob.onAppear();
    EXPECT_EQ(knob.dragLastValue(), 40.0f);

    knob.pointerDown(face);
    knob.pointerMove({face.x, face.y - 30});
    EXPECT_EQ(knob.dragLastValue(), 40.0f); // unchanged while the drag runs
    knob.pointerUp({face.x, face.y - 30});
    EXPECT_EQ(knob.dragLastValue(), 70.0f);

    knob.pointerDown(face);
    knob.pointerMove({face.x, face.y - 5});
    EXPECT_EQ(value, 75.0f); // the next drag starts from 70
    knob.pointerUp({face.x, face.y - 5});

    value = 12.0f; // an outside change is not the anchor until the knob appears again
    EXPECT_EQ(knob.dragLastValue(), 75.0f);
    knob.onAppear();
    EXPECT_EQ(knob.dragLastValue(), 12.0f);
}

TEST(BoutiqueKnob, OnlyTheFaceTakesTheDrag) {
    TextCache text;
    float value = 50.0f;
    BoutiqueKnob knob("Tone", Binding<float>::to(value));
    const Point face = place(knob, text);
    EXPECT_TRUE(knob.hitTest(face));
    EXPECT_TRUE(knob.hitTest({face.x + 27.0, face.y}));
    EXPECT_FALSE(knob.hitTest({face.x + 29.0, face.y}));
    EXPECT_FALSE(knob.hitTest({face.x, knob.frame().maxY() - 2.0})); // the caption
}

TEST(MetalToggle, TapFlipsBetweenZeroAndOneAndTheLeverFollows) {
    struct Case {
        float start;
        bool onBefore;
        float afterTap;
    };
    TextCache text;
    for (const Case c : {Case{0.0f, false, 1.0f}, Case{1.0f, true, 0.0f}, Case{0.6f, true, 0.0f},
                         Case{0.5f, false, 1.0f}, Case{100.0f, true, 0.0f}}) {
        float value = c.start;
        MetalToggle toggle("DRY", Binding<float>::to(value));
        place(toggle, text);
        const Point base = toggle.baseFrame().center();
        const Rect lever = toggle.leverFrame();
        EXPECT_EQ(lever.height, c.onBefore ? 24.0 : 16.0) << c.start;
        EXPECT_EQ(lever.width, 12.0);
        EXPECT_EQ(lever.midY() - base.y, c.onBefore ? -8.0 : 8.0) << c.start;

        toggle.pointerDown(base);
        toggle.pointerUp(base);
        EXPECT_EQ(value, c.afterTap) << c.start;
        EXPECT_EQ(toggle.leverFrame().height, c.afterTap > 0.5f ? 24.0 : 16.0);
        toggle.pointerDown(base);
        toggle.pointerUp(base);
        EXPECT_EQ(value, c.afterTap == 1.0f ? 0.0f : 1.0f) << c.start << ", second tap";
    }
}

TEST(MetalToggle, OnlyAFullTapOnTheBodyCounts) {
    TextCache text;
    float value = 0.0f;
    MetalToggle toggle("COMP", Binding<float>::to(value));
    place(toggle, text);
    const Point base = toggle.baseFrame().center();
    const Point caption{toggle.frame().midX(), toggle.frame().maxY() - 2.0};
    toggle.pointerDown(caption);
    toggle.pointerUp(caption);
    EXPECT_EQ(value, 0.0f);
    toggle.pointerDown(base);
    toggle.pointerUp({base.x + 40.0, base.y}); // released off the switch
    EXPECT_EQ(value, 0.0f);
    toggle.pointerDown(base);
    toggle.pointerUp(base);
    EXPECT_EQ(value, 1.0f);
}

TEST(MetalToggle, LeverShadowDependsOnTheState) {
    EXPECT_EQ(leverGeometry(true).shadow.dy, 4.0);
    EXPECT_EQ(leverGeometry(false).shadow.dy, -2.0);
    EXPECT_EQ(leverGeometry(true).shadow.radius, 3.0);
    EXPECT_EQ(leverGeometry(true).shadow.color.a, 0.6);
}

TEST(Captions, KnobsShowUpperCaseAndSwitchesShowTheLabelAsGiven) {
    TextCache text;
    TextStyle plainKnob = knobCaptionStyle();
    plainKnob.uppercase = false;
    struct Case {
        const char* label;
        const char* shown;
    };
    for (const Case c : {Case{"Trim", "TRIM"}, Case{"Thresh", "THRESH"}, Case{"Volume", "VOLUME"}}) {
        EXPECT_EQ(upperCased(c.label), c.shown);
        EXPECT_EQ(text.measure(c.label, knobCaptionStyle()), text.measure(c.shown, plainKnob)) << c.label;
        EXPECT_NE(text.measure(c.label, plainKnob), text.measure(c.shown, plainKnob)) << c.label;
    }
    // A switch caption keeps its case: "Dry" and "DRY" lay out differently in a proportional face.
    TextStyle proportional = toggleCaptionStyle();
    proportional.design = FontDesign::serif;
    EXPECT_NE(text.measure("Dry", proportional), text.measure("DRY", proportional));
    EXPECT_FALSE(toggleCaptionStyle().uppercase);
    float value = 0.0f;
    EXPECT_EQ(MetalToggle("DRY", Binding<float>::to(value)).label(), "DRY");
}

} // namespace
} // namespace thraskvell::ui
