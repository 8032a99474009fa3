#include "app/StandaloneAudioEngine.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <thread>
#include <vector>

namespace thraskvell {
namespace {

AVAudioSourceNodeRenderBlock sourceCallback(StandaloneAudioEngine& engine) {
    for (const auto& node : engine.audioEngine().attachedNodes())
        if (auto source = std::dynamic_pointer_cast<AVAudioSourceNode>(node)) return source->renderBlock();
    return nullptr;
}

TEST(StandaloneAudioEngine, TreeAndBridgeShareOneValueUntilTheEngineIsGone) {
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    EXPECT_FALSE(engine->isPlaying());
    EXPECT_EQ(engine->waveform(), std::vector<float>(256, 0.0f));
    const auto tree = engine->parameterTree();
    tree->valueForKey("volume")->setValue(250.0f); // unclamped, as the bridge keeps raw values
    EXPECT_EQ(engine->dspBridge().getParameter("volume"), 250.0f);
    engine->dspBridge().setParameter("tone", 12.0f);
    EXPECT_EQ(tree->valueForKey("tone")->value(), 12.0f);
    engine.reset();
    tree->valueForKey("trim")->setValue(90.0f); // must not reach a released bridge
    EXPECT_EQ(tree->valueForKey("trim")->value(), 0.0f);
}

// Before the first start the bridge is unprepared and passes the block through untouched, so the
// callback's output is exactly the riff: one sample per frame, in every listed buffer and no other.
// Once the bridge is prepared the callback allocates nothing.
TEST(StandaloneAudioEngine, RenderCallbackWritesTheRiffIntoTheListedBuffersWithoutAllocating) {
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    const auto render = sourceCallback(*engine);
    ASSERT_TRUE(render);
    BassRiffGenerator reference;
    std::vector<std::vector<float>> data(2);
    AudioBufferList list;
    for (const auto& [buffers, frames] :
         {std::pair{2u, 512u}, {2u, 1u}, {1u, 256u}, {0u, 64u}, {2u, 4096u}}) {
        data.assign(2, std::vector<float>(frames, 9.0f));
        list.mNumberBuffers = buffers;
        for (std::uint32_t c = 0; c < buffers; ++c)
            list.mBuffers[c] = AudioBuffer{1, frames * std::uint32_t(sizeof(float)), data[c].data()};
        bool silence = true;
        AudioTimeStamp time;
        EXPECT_EQ(render(&silence, &time, frames, &list), noErr);
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

TEST(StandaloneAudioEngine, StartAndStopOffTheMainThreadAreRefused) {
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    int refused = 0;
    std::thread([&] {
        for (auto call : {&StandaloneAudioEngine::start, &StandaloneAudioEngine::stop}) {
            try {
                ((*engine).*call)();
            } catch (const std::logic_error&) {
                ++refused;
            }
        }
    }).join();
    EXPECT_EQ(refused, 2);
    EXPECT_FALSE(engine->isPlaying());
    EXPECT_FALSE(engine->dspBridge().isPrepared());
}

} // namespace
} // namespace thraskvell
