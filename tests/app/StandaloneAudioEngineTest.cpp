#include "app/StandaloneAudioEngine.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <vector>

using thraskvell::BassRiffGenerator;
using thraskvell::MainThreadQueue;
using thraskvell::StandaloneAudioEngine;

namespace {

AVAudioSourceNodeRenderBlock sourceCallback(StandaloneAudioEngine& engine) {
    for (const auto& node : engine.audioEngine().attachedNodes())
        if (auto source = std::dynamic_pointer_cast<AVAudioSourceNode>(node)) return source->renderBlock();
    return nullptr;
}

struct Channels {
    std::vector<std::vector<float>> data;
    AudioBufferList list;
    Channels(std::uint32_t buffers, std::uint32_t frames, float fill)
        : data(2, std::vector<float>(frames, fill)) { // always two behind the list, to see what is untouched
        list.mNumberBuffers = buffers;
        for (std::uint32_t i = 0; i < buffers; ++i)
            list.mBuffers[i] =
                AudioBuffer{1, frames * static_cast<std::uint32_t>(sizeof(float)), data[i].data()};
    }
};

TEST(StandaloneAudioEngine, StartsStoppedWithFlatWaveformAndDefaultParametersReadThroughTheBridge) {
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    EXPECT_FALSE(engine->isPlaying());
    EXPECT_EQ(engine->waveform(), std::vector<float>(256, 0.0f));

    auto tree = engine->parameterTree();
    ASSERT_NE(tree, nullptr);
    const std::vector<std::string> identifiers{"trim",      "gate",           "volume",    "tone",
                                               "sustain",   "blend",          "dryMode",   "bassBoost",
                                               "asymmetry", "dynamicsEnable", "threshold", "ratio"};
    const std::vector<float> defaults{50, 0, 50, 50, 50, 50, 0, 0, 0, 0, 50, 50};
    ASSERT_EQ(tree->allParameters().size(), 12u);
    for (std::size_t address = 0; address < 12; ++address) {
        const auto& parameter = tree->allParameters()[address];
        EXPECT_EQ(parameter->address(), address);
        EXPECT_EQ(parameter->identifier(), identifiers[address]);
        EXPECT_EQ(parameter->value(), defaults[address]) << identifiers[address];
        EXPECT_EQ(engine->dspBridge().getParameter(identifiers[address]), defaults[address]);
    }
}

TEST(StandaloneAudioEngine, TreeWritesReachTheBridgeAndReadsComeFromIt) {
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    auto sustain = engine->parameterTree()->valueForKey("sustain");
    ASSERT_NE(sustain, nullptr);
    sustain->setValue(73.0f);
    EXPECT_EQ(engine->dspBridge().getParameter("sustain"), 73.0f);
    engine->dspBridge().setParameter("tone", 12.0f);
    EXPECT_EQ(engine->parameterTree()->valueForKey("tone")->value(), 12.0f);
    // Unclamped, as the bridge keeps raw values.
    engine->parameterTree()->valueForKey("volume")->setValue(250.0f);
    EXPECT_EQ(engine->dspBridge().getParameter("volume"), 250.0f);
}

TEST(StandaloneAudioEngine, TreeCallbacksOutlivingTheEngineDoNothing) {
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    auto tree = engine->parameterTree();
    auto trim = tree->valueForKey("trim");
    engine.reset();
    trim->setValue(90.0f); // must not reach a released bridge
    EXPECT_EQ(trim->value(), 0.0f);
}

// Before the first start the bridge is unprepared and processes nothing, so the callback's output is
// exactly what it wrote: the riff, in both channels.
TEST(StandaloneAudioEngine, RenderCallbackWritesTheRiffIntoBothChannelsOneSamplePerFrame) {
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    auto render = sourceCallback(*engine);
    ASSERT_TRUE(render);

    BassRiffGenerator reference;
    for (std::uint32_t frames : {512u, 1u, 4096u, 77u}) {
        Channels out(2, frames, 9.0f);
        bool silence = false;
        AudioTimeStamp time;
        EXPECT_EQ(render(&silence, &time, frames, &out.list), noErr);
        EXPECT_FALSE(silence);
        for (std::uint32_t f = 0; f < frames; ++f) {
            const float expected = reference.nextSample(); // N frames, N generator calls, no more
            ASSERT_EQ(out.data[0][f], expected) << "frame " << f;
            ASSERT_EQ(out.data[1][f], expected) << "frame " << f;
        }
    }
}

TEST(StandaloneAudioEngine, RenderCallbackFillsOnlyTheBuffersInTheList) {
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    auto render = sourceCallback(*engine);
    BassRiffGenerator reference;

    Channels single(1, 256, 9.0f);
    EXPECT_EQ(render(nullptr, nullptr, 256, &single.list), noErr);
    for (std::uint32_t f = 0; f < 256; ++f) {
        ASSERT_EQ(single.data[0][f], reference.nextSample());
        ASSERT_EQ(single.data[1][f], 9.0f);
    }

    // An empty list still advances the riff: the stream is tied to time, not to listeners.
    Channels none(0, 64, 9.0f);
    EXPECT_EQ(render(nullptr, nullptr, 64, &none.list), noErr);
    for (int i = 0; i < 64; ++i)
        reference.nextSample();
    EXPECT_EQ(none.data[0][0], 9.0f);

    Channels next(1, 1, 0.0f);
    render(nullptr, nullptr, 1, &next.list);
    EXPECT_EQ(next.data[0][0], reference.nextSample());
}

TEST(StandaloneAudioEngine, RenderCallbackAllocatesNothingOnceTheBridgeIsPrepared) {
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    ASSERT_TRUE(engine->dspBridge().prepare(4096, 44100.0, 2));
    auto render = sourceCallback(*engine);
    Channels out(2, 4096, 0.0f);
    render(nullptr, nullptr, 4096, &out.list); // warm

    thraskvell::test::AllocationScope scope;
    for (std::uint32_t frames : {512u, 4096u, 1u, 1000u})
        render(nullptr, nullptr, frames, &out.list);
    EXPECT_EQ(scope.allocations(), 0u);
}

TEST(StandaloneAudioEngine, DisplaySnapshotDecimatesToAboutTwoHundredFiftySixValues) {
    struct Case {
        std::size_t frames;
        std::size_t values;
        std::size_t step;
    };
    const Case cases[] = {{1024, 256, 4}, {300, 300, 1}, {4800, 267, 18}, {256, 256, 1},
                          {511, 511, 1},  {512, 256, 2}, {255, 255, 1},   {0, 0, 1}};
    for (const Case& c : cases) {
        std::vector<float> samples(c.frames);
        for (std::size_t i = 0; i < c.frames; ++i)
            samples[i] = static_cast<float>(i);
        const auto snapshot = StandaloneAudioEngine::decimateForDisplay(samples.data(), c.frames);
        ASSERT_EQ(snapshot.size(), c.values) << c.frames << " frames";
        for (std::size_t i = 0; i < snapshot.size(); ++i)
            ASSERT_EQ(snapshot[i], static_cast<float>(i * c.step));
    }
    EXPECT_TRUE(StandaloneAudioEngine::decimateForDisplay(nullptr, 1024).empty());
}

TEST(StandaloneAudioEngine, StartAndStopOffTheMainThreadAreRefused) {
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    bool startRefused = false, stopRefused = false;
    std::thread other([&] {
        try {
            engine->start();
        } catch (const std::logic_error&) {
            startRefused = true;
        }
        try {
            engine->stop();
        } catch (const std::logic_error&) {
            stopRefused = true;
        }
    });
    other.join();
    EXPECT_TRUE(startRefused);
    EXPECT_TRUE(stopRefused);
    EXPECT_FALSE(engine->isPlaying());
    EXPECT_FALSE(engine->dspBridge().isPrepared());
}

} // namespace
