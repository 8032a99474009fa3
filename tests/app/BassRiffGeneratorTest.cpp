#include "app/BassRiffGenerator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace thraskvell {
namespace {

// An eighth note at 92 bpm is 14380.43 samples at 44100 Hz; the countdown restarts every step, so
// each lasts the next whole number of samples.
constexpr int kStep = 14381;

std::vector<float> render(int count) {
    BassRiffGenerator riff;
    std::vector<float> samples(static_cast<std::size_t>(count));
    for (float& s : samples)
        s = riff.nextSample();
    return samples;
}

// The sawtooth's frequency within [first, last), from the spacing of its downward wraps.
double measuredFrequency(const std::vector<float>& s, int first, int last) {
    std::vector<int> wraps;
    for (int i = first + 1; i < last; ++i)
        if (s[std::size_t(i) - 1] > 0.0f && s[std::size_t(i)] <= 0.0f) wraps.push_back(i);
    if (wraps.size() < 2) return 0.0;
    return 44100.0 * double(wraps.size() - 1) / double(wraps.back() - wraps.front());
}

TEST(BassRiffGenerator, PlaysEightNotesInWholeSampleStepsEachEndingInASignFlip) {
    const auto s = render(16 * kStep + 10);
    const double heard[] = {41.2, 49.0, 55.0, 41.2, 41.2, 61.74, 82.41, 41.2}; // E1 G1 A1 E1 E1 B1 E2 E1
    for (int k = 0; k < 16; ++k) {
        const int first = k * kStep, last = first + kStep - 1;
        EXPECT_NEAR(measuredFrequency(s, first, last - 1), heard[k % 8], heard[k % 8] * 0.005)
            << "step " << k;
        // The release ends a hair below zero gain: only the step's last sample flips the sawtooth's sign.
        EXPECT_LT(s[std::size_t(last) - 1] * s[std::size_t(last)], 0.0f) << "step " << k;
        EXPECT_LT(std::fabs(s[std::size_t(last)]), 2e-4f) << "step " << k;
    }
}

TEST(BassRiffGenerator, EnvelopeRisesForFiveMillisecondsThenDecays) {
    const auto s = render(kStep);
    EXPECT_NEAR(s[0], -0.0015843f, 1e-7f); // from silence, on E1
    // Envelope = output / (level 0.35 × an E1 sawtooth starting at phase 0), at times in the first step.
    const struct {
        int sample;
        double envelope;
    } cases[] = {{109, 110.0 / 220.5},
                 {219, 220.0 / 220.5},
                 {8819, std::exp(-0.4)},
                 {13000, std::exp(-2.0 * 13001 / 44100.0)}};
    for (const auto& c : cases) {
        const double phase = std::fmod((c.sample + 1) * 41.2 / 44100.0, 1.0);
        EXPECT_NEAR(s[std::size_t(c.sample)] / (0.35 * (2.0 * phase - 1.0)), c.envelope, 1e-3) << c.sample;
    }
}

} // namespace
} // namespace thraskvell
