#include "app/StandaloneAudioEngine.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <thread>

namespace thraskvell {
namespace {

// Off the main thread the engine neither starts nor stops. Unstarted, its bridge is unprepared and
// passes blocks through untouched, so the source's callback writes exactly the riff: one sample per
// frame, in every listed buffer and no other. Once the bridge is prepared it allocates nothing.
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
    engine.reset();
    tree->valueForKey("trim")->setValue(90.0f); // must not reach a released bridge
    EXPECT_EQ(tree->valueForKey("trim")->value(), 0.0f);
}

TEST(StandaloneAudioEngine, DisplaySnapshotDecimatesToAboutTwoHundredFiftySixValues) {
    const struct {
        std::size_t frames, values, step;
    } cases[] = {{1024, 256, 4}, {300, 300, 1}, {4800, 267, 18}, {256, 256, 1},
                 {511, 511, 1},  {512, 256, 2}, {255, 255, 1},   {0, 0, 1}};
    for (const auto& c : cases) {
        std::vector<float> samples(c.frames);
        for (std::size_t i = 0; i < c.frames; ++i)
            samples[i] = float(i);
        const auto snapshot = StandaloneAudioEngine::decimateForDisplay(samples.data(), c.frames);
        ASSERT_EQ(snapshot.size(), c.values) << c.frames << " frames";
        for (std::size_t i = 0; i < snapshot.size(); ++i)
            ASSERT_EQ(snapshot[i], float(i * c.step)) << c.frames << " frames";
    }
    EXPECT_TRUE(StandaloneAudioEngine::decimateForDisplay(nullptr, 1024).empty());
}

} // namespace
} // namespace thraskvell
