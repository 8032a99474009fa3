#include "extension/ThraskVellAudioUnit.h"
#include "tests/dsp/BridgeTestSupport.h"
#include "tests/extension/StderrCapture.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace thraskvell {
namespace {

// Four threads automate the parameters through the tree while a fifth renders and a sixth keeps
// adding and removing observers, as a host, an editor and the audio thread do at once.
TEST(ThraskVellAudioUnitThreads, WritersRendererAndObserverChurnTogether) {
    constexpr int kFrames = 128;
    constexpr int kWrites = 4000;
    auto made = ThraskVellAudioUnit::create();
    ASSERT_TRUE(made);
    const auto unit = made.value();
    ASSERT_FALSE(unit->inputBus().setFormat(AVAudioFormat::makeStandard(48000, 2)));
    ASSERT_FALSE(unit->outputBus().setFormat(AVAudioFormat::makeStandard(48000, 2)));
    ASSERT_FALSE(unit->setMaximumFramesToRender(kFrames));
    test::captureStderr([&] { ASSERT_FALSE(unit->allocateRenderResources()); });
    const auto tree = unit->parameterTree();
    auto block = unit->internalRenderBlock();

    std::atomic<int> writersDone{0};
    std::atomic<long> observed{0};
    std::array<float, kParameterCount> lastWritten{};
    std::vector<std::thread> threads;
    for (int w = 0; w < 4; ++w)
        threads.emplace_back([&, w] {
            // Each writer owns three parameters, so the last value of each is known afterwards.
            for (int i = 0; i < kWrites; ++i) {
                const auto index = std::size_t(w * 3 + i % 3);
                const float value = float((i * 37 + w * 11) % 101);
                tree->allParameters()[index]->setValue(value);
                lastWritten[index] = value;
                (void)tree->allParameters()[(index + 5) % kParameterCount]->value();
            }
            writersDone.fetch_add(1);
        });
    bool renderedFinite = true;
    threads.emplace_back([&] {
        test::ChannelBuffers buffers(2, kFrames);
        AudioUnitRenderActionFlags flags = 0;
        const AudioTimeStamp timestamp{};
        const auto signal = test::testSignal(kFrames, 3);
        while (writersDone.load() < 4) {
            for (auto& channel : buffers.data)
                channel = signal;
            for (int c = 0; c < 2; ++c)
                buffers.list.mBuffers[c].mData = buffers.data[std::size_t(c)].data();
            if (block(&flags, &timestamp, kFrames, 0, &buffers.list, nullptr, nullptr) != 0)
                renderedFinite = false;
            for (const auto& channel : buffers.data)
                for (float sample : channel)
                    renderedFinite = renderedFinite && std::isfinite(sample);
        }
    });
    threads.emplace_back([&] {
        while (writersDone.load() < 4) {
            const auto token = tree->tokenByAddingParameterObserver(
                [&](AUParameterAddress, AUValue) { observed.fetch_add(1); });
            std::this_thread::yield();
            tree->removeParameterObserver(token);
        }
    });
    for (auto& t : threads)
        t.join();

    EXPECT_TRUE(renderedFinite);
    for (std::size_t i = 0; i < kParameterCount; ++i) {
        EXPECT_EQ(tree->allParameters()[i]->value(), lastWritten[i]) << i;
        EXPECT_EQ(unit->dspBridge().getParameter(kParameterSpecs[i].identifier), lastWritten[i]) << i;
    }
    // A write after all churn reaches a fresh observer exactly once.
    long seen = 0;
    const auto token = tree->tokenByAddingParameterObserver([&](AUParameterAddress, AUValue) { ++seen; });
    tree->valueForKey("gate")->setValue(1.0f);
    tree->removeParameterObserver(token);
    EXPECT_EQ(seen, 1);
}

} // namespace
} // namespace thraskvell
