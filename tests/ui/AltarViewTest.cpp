#include "ui/VellAltarView.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <numbers>
#include <utility>

namespace thraskvell::ui {
namespace {

TEST(AltarView, GlowOpacityIsSustainOverHundred) {
    for (const auto& [sustain, opacity] : {std::pair{0.0f, 0.0}, {25.0f, 0.25}, {50.0f, 0.5}, {100.0f, 1.0}})
        EXPECT_DOUBLE_EQ(altarGlowOpacity(sustain), opacity) << sustain;
    EXPECT_DOUBLE_EQ(altarGlowOpacity(130.0f), 1.3); // no clamping of finite values
    EXPECT_DOUBLE_EQ(altarGlowOpacity(std::numeric_limits<float>::quiet_NaN()), 0.0);
    EXPECT_DOUBLE_EQ(altarGlowOpacity(std::numeric_limits<float>::infinity()), 1.0);
}

TEST(AltarView, SwitchThresholdsForShadeBrightnessAndShadow) {
    struct Case {
        float value;
        bool on;
    };
    for (const Case c :
         {Case{0.0f, false}, Case{0.5f, false}, Case{0.51f, true}, Case{1.0f, true}, Case{100.0f, true}}) {
        EXPECT_EQ(altarShadeOpacity(c.value), c.on ? 1.0 : 0.0) << c.value;
        EXPECT_EQ(altarBrightness(c.value), c.on ? 0.03 : 0.0) << c.value;
        const Shadow s = altarShadow(c.value);
        EXPECT_EQ(s.radius, c.on ? 20.0 : 8.0) << c.value;
        EXPECT_EQ(s.dy, c.on ? 12.0 : 6.0) << c.value;
        EXPECT_EQ(s.dx, 0.0);
        EXPECT_EQ(s.color, (c.on ? Color{0.8, 0.1, 0.1, 0.3} : Color{0.0, 0.0, 0.0, 0.7})) << c.value;
    }
}

TEST(AltarView, AnimationCurvesAtSampleTimes) {
    struct Case {
        AnimationCurve curve;
        double t;
        double progress;
        double tolerance;
    };
    // Ease-out and ease-in-out are the standard cubic Béziers (0, 0, 0.58, 1) and (0.42, 0, 0.58, 1).
    for (const Case c : {
             Case{altarSustainCurve(), 0.0, 0.0, 1e-9},
             Case{altarSustainCurve(), 0.025, 0.3781, 1e-3},
             Case{altarSustainCurve(), 0.05, 0.6846, 1e-3},
             Case{altarSustainCurve(), 0.1, 1.0, 1e-9},
             Case{altarAsymmetryCurve(), 0.1, 0.1292, 1e-3},
             Case{altarAsymmetryCurve(), 0.2, 0.5, 1e-6},
             Case{altarAsymmetryCurve(), 0.3, 0.8708, 1e-3},
             Case{altarAsymmetryCurve(), 0.4, 1.0, 1e-9},
             Case{altarBassBoostCurve(), 0.0, 0.0, 1e-9},
         })
        EXPECT_NEAR(animationProgress(c.curve, c.t), c.progress, c.tolerance) << c.t;
}

TEST(AltarView, SpringOvershootsOnceAndSettles) {
    // A damped oscillator with period 0.4 s and damping ratio 0.7 overshoots by exp(-pi z / sqrt(1-z^2))
    // at half its damped period.
    const double zeta = 0.7;
    const double omegaD = 2.0 * std::numbers::pi / 0.4 * std::sqrt(1 - zeta * zeta);
    const double peakTime = std::numbers::pi / omegaD;
    const double overshoot = std::exp(-std::numbers::pi * zeta / std::sqrt(1 - zeta * zeta));
    const AnimationCurve spring = altarBassBoostCurve();
    EXPECT_NEAR(animationProgress(spring, peakTime), 1.0 + overshoot, 1e-6);
    EXPECT_LT(animationProgress(spring, peakTime - 0.02), 1.0 + overshoot);
    EXPECT_LT(animationProgress(spring, peakTime + 0.02), 1.0 + overshoot);
    EXPECT_NEAR(animationProgress(spring, 1.0), 1.0, 1e-3);
    EXPECT_LT(animationSettleTime(spring), 1.0);
}

TEST(AltarView, ChangesAnimateWithTheirOwnCurves) {
    auto sustain = Binding<float>::owning(0.0f);
    auto asym = Binding<float>::owning(0.0f);
    auto bass = Binding<float>::owning(0.0f);
    VellAltarView altar(sustain, asym, bass);
    altar.update(10.0); // first look: no animation
    EXPECT_FALSE(altar.isAnimating(10.0));
    EXPECT_EQ(altar.appearanceAt(10.0).glowOpacity, 0.0);

    sustain.set(100.0f);
    asym.set(1.0f);
    bass.set(1.0f);
    altar.update(11.0);
    const AltarAppearance mid = altar.appearanceAt(11.05);
    EXPECT_NEAR(mid.glowOpacity, 0.6846, 1e-3);
    EXPECT_NEAR(mid.shadeOpacity, animationProgress(altarAsymmetryCurve(), 0.05), 1e-9);
    EXPECT_GT(mid.brightness, 0.0);
    EXPECT_LT(mid.brightness, 0.03);
    EXPECT_GT(mid.shadow.radius, 8.0);
    EXPECT_LT(mid.shadow.radius, 20.0);
    EXPECT_TRUE(altar.isAnimating(11.05));

    const AltarAppearance end = altar.appearanceAt(12.5);
    EXPECT_EQ(end.glowOpacity, 1.0);
    EXPECT_EQ(end.shadeOpacity, 1.0);
    EXPECT_EQ(end.brightness, 0.03);
    EXPECT_EQ(end.shadow.radius, 20.0);
    EXPECT_EQ(end.shadow.dy, 12.0);
    EXPECT_FALSE(altar.isAnimating(12.5));

    // Reversing mid-flight starts from where the glow is, not from its target.
    sustain.set(0.0f);
    altar.update(13.0);
    sustain.set(100.0f);
    altar.update(13.05);
    const double from = altar.appearanceAt(13.05).glowOpacity;
    EXPECT_GT(from, 0.0);
    EXPECT_LT(from, 1.0);
    EXPECT_GE(altar.appearanceAt(13.06).glowOpacity, from);
}

TEST(AltarView, ThePictureIsEmbedded) {
    VellAltarView altar(Binding<float>::owning(50.0f), Binding<float>::owning(0.0f),
                        Binding<float>::owning(0.0f));
    EXPECT_TRUE(altar.hasPicture());
}

} // namespace
} // namespace thraskvell::ui
