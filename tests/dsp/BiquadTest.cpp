#include "dsp/Biquad.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <vector>

namespace thraskvell {
namespace {

// Level of a section's steady-state response to a sine (or DC, or the alternating sequence at half
// the rate), measured over the second half of a long rendering.
double measuredGain(const BiquadCoefficients& c, double frequency, double rate) {
    const int frames = 1 << 16;
    Biquad f;
    f.setCoefficients(c);
    double inEnergy = 0.0, outEnergy = 0.0;
    for (int i = 0; i < frames; ++i) {
        double x;
        if (frequency == 0.0)
            x = 1.0;
        else if (frequency == rate / 2.0)
            x = (i % 2) ? -1.0 : 1.0;
        else
            x = std::sin(6.283185307179586 * frequency * i / rate);
        const float v = static_cast<float>(x);
        const float y = f.b0 * v + f.b1 * f.x1 + f.b2 * f.x2 - f.a1 * f.y1 - f.a2 * f.y2;
        f.x2 = f.x1;
        f.x1 = v;
        f.y2 = f.y1;
        f.y1 = y;
        if (i >= frames / 2) {
            inEnergy += double(v) * v;
            outEnergy += double(y) * y;
        }
    }
    return std::sqrt(outEnergy / inEnergy);
}

struct Case {
    const char* name;
    std::function<BiquadCoefficients()> design;
    double rate;
    double frequency;
    double expected;
    double tolerance;
};

TEST(Biquad, DesignsMatchTextbookGains) {
    const double shelfDc = std::pow(10.0, 6.0 / 20.0);
    const Case cases[] = {
        {"lowpass DC", [] { return designLowpass(1000.0f, 48000.0f); }, 48000.0, 0.0, 1.0, 1e-3},
        {"lowpass at f", [] { return designLowpass(1000.0f, 48000.0f); }, 48000.0, 1000.0, 0.7072, 2e-3},
        {"lowpass Nyquist", [] { return designLowpass(1000.0f, 48000.0f); }, 48000.0, 24000.0, 0.0, 1e-4},
        {"lowpass 2f", [] { return designLowpass(1000.0f, 48000.0f); }, 48000.0, 2000.0, 0.243, 5e-3},
        {"pre-clip at f", [] { return designLowpass(7750.0f, 44100.0f); }, 44100.0, 7750.0, 0.7072, 2e-3},
        {"oversampling DC", [] { return designLowpass(0.45f * 44100.0f, 4.0f * 44100.0f); }, 176400.0, 0.0,
         1.0, 1e-3},
        {"oversampling at f", [] { return designLowpass(0.45f * 44100.0f, 4.0f * 44100.0f); }, 176400.0,
         19845.0, 0.7072, 2e-3},
        {"oversampling Nyquist", [] { return designLowpass(0.45f * 44100.0f, 4.0f * 44100.0f); }, 176400.0,
         88200.0, 0.0, 1e-4},
        {"highpass DC", [] { return designHighpass(1000.0f, 48000.0f); }, 48000.0, 0.0, 0.0, 1e-4},
        {"highpass at f", [] { return designHighpass(1000.0f, 48000.0f); }, 48000.0, 1000.0, 0.7072, 2e-3},
        {"highpass Nyquist", [] { return designHighpass(1000.0f, 48000.0f); }, 48000.0, 24000.0, 1.0, 1e-3},
        {"highpass 96k at f", [] { return designHighpass(1000.0f, 96000.0f); }, 96000.0, 1000.0, 0.7072,
         2e-3},
        {"shelf DC", [] { return designLowShelf(100.0f, 48000.0f, 6.0f); }, 48000.0, 0.0, shelfDc, 5e-3},
        {"shelf Nyquist", [] { return designLowShelf(100.0f, 48000.0f, 6.0f); }, 48000.0, 24000.0, 1.0, 1e-3},
        {"shelf 10 kHz", [] { return designLowShelf(100.0f, 44100.0f, 6.0f); }, 44100.0, 10000.0, 1.0, 5e-3},
        {"shelf midpoint", [] { return designLowShelf(100.0f, 44100.0f, 6.0f); }, 44100.0, 100.0,
         std::pow(10.0, 3.0 / 20.0), 0.02},
    };
    for (const Case& c : cases) {
        const BiquadCoefficients k = c.design();
        const double measured = measuredGain(k, c.frequency, c.rate);
        EXPECT_NEAR(measured, c.expected, c.tolerance) << c.name;
        // The drawing helper agrees with the rendered sines.
        EXPECT_NEAR(magnitudeAt(k, c.frequency, c.rate), measured, 1e-3 + 2e-3 * measured) << c.name;
    }
}

TEST(Biquad, AngleIsFormedInDouble) {
    // 2*pi*1000/44100 rounded once from double, not accumulated in float.
    EXPECT_EQ(designAngle(1000.0f, 44100.0f), static_cast<float>(6283.185307179586 / 44100.0));
    EXPECT_EQ(designAngle(0.45f * 48000.0f, 4.0f * 48000.0f), static_cast<float>(0.225 * 3.141592653589793));
}

TEST(Biquad, DesignsLeaveMemoriesAlone) {
    Biquad f;
    f.x1 = 0.25f;
    f.x2 = -0.5f;
    f.y1 = 0.125f;
    f.y2 = 2.0f;
    f.setCoefficients(designLowShelf(100.0f, 48000.0f, 6.0f));
    EXPECT_EQ(f.x1, 0.25f);
    EXPECT_EQ(f.x2, -0.5f);
    EXPECT_EQ(f.y1, 0.125f);
    EXPECT_EQ(f.y2, 2.0f);
    const Biquad neutral;
    EXPECT_EQ(neutral.b0, 1.0f);
    EXPECT_EQ(neutral.b1 + neutral.b2 + neutral.a1 + neutral.a2, 0.0f);
}

} // namespace
} // namespace thraskvell
