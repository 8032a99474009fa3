#include "extension/ThraskVellAudioUnit.h"
#include "tests/dsp/BridgeTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>

namespace thraskvell {
namespace {

// Four threads automate the parameters through the tree while a fifth renders and a sixth keeps
// adding and removing observers, as a host, an editor and the audio thread do at once. Each keeps
// going until every other has done its share, and all stop at the deadline.
TEST(ThraskVellAudioUnitThreads, WritersRendererAndObserverChurnTogether) {
    constexpr int kFrames = 128, kWrites = 4000, kBlocks = 200, kChurns = 200;
    auto made = ThraskVellAudioUnit::create();
    ASSERT_TRUE(made);
    const auto unit = made.value();
    ASSERT_FALSE(unit->inputBus().setFormat(AVAudioFormat::makeStandard(48000, 2)));
    ASSERT_FALSE(unit->outputBus().setFormat(AVAudioFormat::makeStandard(48000, 2)));
    ASSERT_FALSE(unit->setMaximumFramesToRender(kFrames));
    ASSERT_FALSE(unit->allocateRenderResources());
    const auto tree = unit->parameterTree();
    auto block = unit->internalRenderBlock();

    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::atomic<int> writersDone{0}, blocks{0}, churns{0};
    std::atomic<bool> failed{false};
    const auto othersBehind = [&] {
        return writersDone.load() < 4 || blocks.load() < kBlocks || churns.load() < kChurns;
    };
    const auto goOn = [&] { return !failed.load() && std::chrono::steady_clock::now() < deadline; };
    std::array<float, kParameterCount> lastWritten{};
    std::vector<std::thread> threads;
    for (int w = 0; w < 4; ++w)
        threads.emplace_back([&, w] {
            // Each writer owns three parameters, so the last value of each is known afterwards.
            for (int i = 0; (i < kWrites || blocks.load() < kBlocks || churns.load() < kChurns) && goOn();
                 ++i) {
                const auto index = std::size_t(w * 3 + i % 3);
                const float value = float((i * 37 + w * 11) % 101);
                tree->allParameters()[index]->setValue(value);
                lastWritten[index] = value;
                (void)tree->allParameters()[(index + 5) % kParameterCount]->value();
            }
            writersDone.fetch_add(1);
        });
    threads.emplace_back([&] {
        test::ChannelBuffers buffers(2, kFrames);
        AudioUnitRenderActionFlags flags = 0;
        const AudioTimeStamp timestamp{};
        const auto signal = test::testSignal(kFrames, 3);
        for (; othersBehind() && goOn(); blocks.fetch_add(1)) {
            buffers.data = {signal, signal};
            for (int c = 0; c < 2; ++c)
                buffers.list.mBuffers[c].mData = buffers.data[std::size_t(c)].data();
            bool finite = block(&flags, &timestamp, kFrames, 0, &buffers.list, nullptr, nullptr) == 0;
            for (const auto& channel : buffers.data)
                for (float sample : channel)
                    finite = finite && std::isfinite(sample);
            if (!finite) failed = true;
        }
    });
    threads.emplace_back([&] {
        for (; othersBehind() && goOn(); churns.fetch_add(1)) {
            const auto token = tree->tokenByAddingParameterObserver([](AUParameterAddress, AUValue) {});
            std::this_thread::yield();
            tree->removeParameterObserver(token);
        }
    });
    for (auto& t : threads)
        t.join();

    EXPECT_FALSE(failed.load()) << "a block failed or rendered a non-finite sample";
    EXPECT_EQ(writersDone.load(), 4);
    EXPECT_GE(blocks.load(), kBlocks) << "the deadline came first";
    EXPECT_GE(churns.load(), kChurns) << "the deadline came first";
    for (std::size_t i = 0; i < kParameterCount; ++i) {
        EXPECT_EQ(tree->allParameters()[i]->value(), lastWritten[i]) << i;
        EXPECT_EQ(unit->dspBridge().getParameter(kParameterSpecs[i].identifier), lastWritten[i]) << i;
    }
}

} // namespace
} // namespace thraskvell
