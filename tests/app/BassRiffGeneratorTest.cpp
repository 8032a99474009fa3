#include "app/BassRiffGenerator.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace thraskvell {
namespace {

// An eighth note at 92 bpm is 14380.43 samples at 44100 Hz; the countdown restarts every step, so
// each lasts the next whole number of samples. Each step's pitch is measured from the spacing of
// the sawtooth's downward wraps; the release ends a hair below zero gain, so only a step's last
// sample flips the sawtooth's sign.
TEST(BassRiffGenerator, PlaysEightNotesInWholeSampleStepsUnderAFiveMillisecondAttackAndDecay) {
    constexpr int kStep = 14381;
    BassRiffGenerator riff;
    std::vector<float> s(16 * kStep + 10);
    std::generate(s.begin(), s.end(), [&] { return riff.nextSample(); });
    const double heard[] = {41.2, 49.0, 55.0, 41.2, 41.2, 61.74, 82.41, 41.2}; // E1 G1 A1 E1 E1 B1 E2 E1
    for (std::size_t k = 0; k < 16; ++k) {
        const std::size_t first = k * kStep, last = first + kStep - 1;
        std::vector<std::size_t> wraps;
        for (std::size_t i = first + 1; i < last - 1; ++i)
            if (s[i - 1] > 0.0f && s[i] <= 0.0f) wraps.push_back(i);
        ASSERT_GE(wraps.size(), 2u) << "step " << k;
        EXPECT_NEAR(44100.0 * double(wraps.size() - 1) / double(wraps.back() - wraps.front()), heard[k % 8],
                    heard[k % 8] * 0.005)
            << "step " << k;
        EXPECT_TRUE(s[last - 1] * s[last] < 0.0f && std::fabs(s[last]) < 2e-4f) << "step " << k;
    }
    EXPECT_NEAR(s[0], -0.0015843f, 1e-7f); // from silence, on E1
    // Envelope = output / (level 0.35 × an E1 sawtooth starting at phase 0), at times in the first step.
    const std::pair<int, double> envelope[] = {{109, 110.0 / 220.5},
                                               {219, 220.0 / 220.5},
                                               {8819, std::exp(-0.4)},
                                               {13000, std::exp(-2.0 * 13001 / 44100.0)}};
    for (const auto& [sample, expected] : envelope) {
        const double phase = std::fmod((sample + 1) * 41.2 / 44100.0, 1.0);
        EXPECT_NEAR(s[std::size_t(sample)] / (0.35 * (2.0 * phase - 1.0)), expected, 1e-3) << sample;
    }
}

} // namespace
} // namespace thraskvell
