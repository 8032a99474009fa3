#include "app/StandaloneAudioEngine.h"
#include "tests/platform/DiskAudioDevice.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <thread>

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

// Off the main thread the engine neither starts nor stops. Unstarted, its bridge is unprepared and
// passes blocks through, so the source's callback writes exactly the riff, in every listed buffer and no
// other; prepared, it allocates nothing. Released while playing, it leaves its tree and queue inert.
TEST(StandaloneAudioEngine, OnlyMainStartsItItsCallbackWritesTheRiffAndItsTreeIsTheBridgesWhileItLives) {
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    EXPECT_EQ(engine->waveform(), std::vector<float>(256, 0.0f));
    const auto tree = engine->parameterTree();
    tree->valueForKey("volume")->setValue(250.0f); // unclamped, as the bridge keeps raw values
    EXPECT_EQ(engine->dspBridge().getParameter("volume"), 250.0f);
    engine->dspBridge().setParameter("tone", 12.0f);
    EXPECT_EQ(tree->valueForKey("tone")->value(), 12.0f);
    std::thread([&] {
        EXPECT_THROW(engine->start(), std::logic_error);
        EXPECT_THROW(engine->stop(), std::logic_error);
    }).join();
    EXPECT_FALSE(engine->isPlaying() || engine->dspBridge().isPrepared());

    const auto source =
        std::dynamic_pointer_cast<AVAudioSourceNode>(engine->audioEngine().attachedNodes().at(0));
    ASSERT_TRUE(source && source->renderBlock());
    const auto& render = source->renderBlock();
    BassRiffGenerator reference;
    std::vector<std::vector<float>> data(2);
    AudioBufferList list;
    for (const auto& [buffers, frames] :
         {std::pair{2u, 512u}, {2u, 1u}, {1u, 256u}, {0u, 64u}, {2u, 4096u}}) {
        data.assign(2, std::vector<float>(frames, 9.0f));
        list.mNumberBuffers = buffers;
        for (std::uint32_t c = 0; c < buffers; ++c)
            list.mBuffers[c] = AudioBuffer{1, frames * std::uint32_t(sizeof(float)), data[c].data()};
        EXPECT_EQ(render(nullptr, nullptr, frames, &list), noErr);
        for (std::uint32_t f = 0; f < frames; ++f) {
            const float expected = reference.nextSample(); // an empty list still advances the riff
            for (std::uint32_t c = 0; c < 2; ++c)
                ASSERT_EQ(data[c][f], c < buffers ? expected : 9.0f) << buffers << " buffers, frame " << f;
        }
    }
    ASSERT_TRUE(engine->dspBridge().prepare(4096, 44100.0, 2));
    render(nullptr, nullptr, 4096, &list); // warm
    const test::AllocationScope scope;
    for (std::uint32_t frames : {512u, 4096u, 1u, 1000u})
        render(nullptr, nullptr, frames, &list);
    EXPECT_EQ(scope.allocations(), 0u);
    test::DiskAudioDevice device; // playing, so the engine goes while its snapshots wait in the queue
    engine->start();
    ASSERT_TRUE(device.waitForFrames(44100));
    engine.reset();
    EXPECT_GT(queue.drain(), 0u) << "snapshots that find no engine do nothing";
    tree->valueForKey("trim")->setValue(90.0f); // must not reach a released bridge
    EXPECT_EQ(tree->valueForKey("trim")->value(), 0.0f);
}

TEST(StandaloneAudioEngine, DisplaySnapshotDecimatesToAboutTwoHundredFiftySixValues) {
    const struct {
        std::size_t frames, values, step;
    } cases[] = {{1024, 256, 4}, {300, 300, 1}, {4800, 267, 18}, {256, 256, 1},
                 {511, 511, 1},  {512, 256, 2}, {255, 255, 1},   {0, 0, 1}};
    std::vector<float> ramp(4800);
    std::generate(ramp.begin(), ramp.end(), [i = 0.0f]() mutable { return i++; });
    for (const auto& c : cases) {
        const auto snapshot = StandaloneAudioEngine::decimateForDisplay(ramp.data(), c.frames);
        ASSERT_EQ(snapshot.size(), c.values) << c.frames << " frames";
        for (std::size_t i = 0; i < snapshot.size(); ++i)
            ASSERT_EQ(snapshot[i], float(i * c.step)) << c.frames << " frames";
    }
    EXPECT_TRUE(StandaloneAudioEngine::decimateForDisplay(nullptr, 1024).empty());
}

} // namespace
} // namespace thraskvell
