#include "app/BassRiffGenerator.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace thraskvell {
namespace {

constexpr int kStepLength = 14381;
constexpr int kCycleLength = 8 * kStepLength;

// Renders `count` samples and records, for each, the step it belongs to.
struct Rendered {
    std::vector<float> samples;
    std::vector<std::int64_t> steps;
};

Rendered render(int count) {
    BassRiffGenerator riff;
    Rendered r;
    r.samples.reserve(static_cast<std::size_t>(count));
    r.steps.reserve(static_cast<std::size_t>(count));
    for (int i = 0; i < count; ++i) {
        r.samples.push_back(riff.nextSample());
        r.steps.push_back(riff.step());
    }
    return r;
}

// 1-based sample numbers at which a new step starts.
std::vector<int> stepStarts(const Rendered& r) {
    std::vector<int> starts{1};
    for (std::size_t i = 1; i < r.steps.size(); ++i)
        if (r.steps[i] != r.steps[i - 1]) starts.push_back(static_cast<int>(i) + 1);
    return starts;
}

// The sawtooth's frequency within [first, last) (0-based), from the spacing of its downward wraps;
// the envelope is positive there, so the output's sign is the sawtooth's.
double measuredFrequency(const std::vector<float>& s, int first, int last) {
    std::vector<int> wraps;
    for (int i = first + 1; i < last; ++i)
        if (s[static_cast<std::size_t>(i) - 1] > 0.0f && s[static_cast<std::size_t>(i)] <= 0.0f)
            wraps.push_back(i);
    if (wraps.size() < 2) return 0.0;
    const double period = double(wraps.back() - wraps.front()) / double(wraps.size() - 1);
    return 44100.0 / period;
}

TEST(BassRiffGenerator, FirstSampleStartsQuietOnE1) {
    BassRiffGenerator riff;
    const float first = riff.nextSample();
    const double expected = (2.0 * (41.2 / 44100.0) - 1.0) * (1.0 / 220.5) * 0.35;
    EXPECT_NEAR(first, expected, 1e-9);
    EXPECT_NEAR(first, -0.0015843f, 1e-7);
    EXPECT_EQ(riff.step(), 1);
}

TEST(BassRiffGenerator, StepsFallOnWholeSamplesAndKeepTheirOrder) {
    const Rendered r = render(2 * kCycleLength + 10);
    const auto starts = stepStarts(r);
    ASSERT_GE(starts.size(), 17u);
    EXPECT_EQ(starts[0], 1);
    EXPECT_EQ(starts[1], 14382);
    for (std::size_t k = 2; k < starts.size(); ++k)
        EXPECT_EQ(starts[k] - starts[k - 1], kStepLength) << k;

    // Heard from construction: steps 1..7, then 0, repeating.
    const double expected[] = {41.2, 49.0, 55.0, 41.2, 41.2, 61.74, 82.41, 41.2,
                               41.2, 49.0, 55.0, 41.2, 41.2, 61.74, 82.41, 41.2};
    for (std::size_t k = 0; k < std::size(expected); ++k) {
        const int first = starts[k] - 1;
        const int last = starts[k + 1] - 2; // the step's last sample flips sign; leave it out
        EXPECT_NEAR(measuredFrequency(r.samples, first, last), expected[k], expected[k] * 0.005)
            << "step " << k;
    }
}

TEST(BassRiffGenerator, LastSampleOfEveryStepDipsBelowZeroGain) {
    const Rendered r = render(2 * kCycleLength + 10);
    const auto starts = stepStarts(r);
    for (std::size_t k = 1; k < starts.size(); ++k) {
        const auto last = static_cast<std::size_t>(starts[k]) - 2; // 0-based index of the step's last sample
        const float before = r.samples[last - 1];
        const float lastSample = r.samples[last];
        // The sawtooth hardly moves in one sample, so a sign change there is the envelope's.
        EXPECT_LT(before * lastSample, 0.0f) << "step ending at sample " << last + 1;
        EXPECT_LT(std::fabs(lastSample), 0.35f * 0.00033f * 1.1f);
        EXPECT_GT(std::fabs(lastSample), 0.0f);
    }
}

TEST(BassRiffGenerator, AttackRisesThenDecayTakesOver) {
    BassRiffGenerator riff;
    riff.nextSample();
    EXPECT_DOUBLE_EQ(riff.currentEnvelope(), 1.0 / 220.5);
    for (int k = 2; k <= 220; ++k)
        riff.nextSample();
    EXPECT_DOUBLE_EQ(riff.currentEnvelope(), 220.0 / 220.5);
    riff.nextSample();
    EXPECT_NEAR(riff.currentEnvelope(), std::exp(-2.0 * 221.0 / 44100.0), 1e-12);
}

TEST(BassRiffGenerator, PeakStaysWithinLevelOverSeveralCycles) {
    BassRiffGenerator riff;
    float peak = 0.0f;
    for (int i = 0; i < 4 * kCycleLength; ++i)
        peak = std::max(peak, std::fabs(riff.nextSample()));
    EXPECT_LE(peak, 0.35f);
    EXPECT_GT(peak, 0.3f); // the riff is actually audible
}

TEST(BassRiffGenerator, NextSampleAllocatesNothing) {
    BassRiffGenerator riff;
    float sink = 0.0f;
    const test::AllocationScope scope;
    for (int i = 0; i < kCycleLength; ++i)
        sink += riff.nextSample();
    EXPECT_EQ(scope.allocations(), 0u);
    EXPECT_TRUE(std::isfinite(sink));
}

} // namespace
} // namespace thraskvell
