#include "dsp/DSPBridge.h"
#include "tests/dsp/BridgeTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

namespace thraskvell {
namespace {

// Hosts automate parameters from their own threads while the audio thread renders; the slots are
// the only shared state, so this must be free of data races and every render must stay sound.
TEST(DSPBridgeThreads, ParametersWrittenFromOtherThreadsWhileRendering) {
    constexpr int kFrames = 256;
    constexpr int kWrites = 20000;
    DSPBridge bridge;
    ASSERT_TRUE(bridge.prepare(kFrames, 44100.0, 2));
    auto block = bridge.internalRenderBlock();

    std::atomic<bool> stop{false};
    std::atomic<int> rendered{0};
    std::atomic<bool> failed{false};
    std::thread audio([&] {
        test::ChannelBuffers out(2, kFrames);
        const auto source = test::testSignal(kFrames, 9);
        while (!stop.load()) {
            out.data = {source, source};
            for (int c = 0; c < 2; ++c)
                out.list.mBuffers[c].mData = out.data[c].data();
            if (block(nullptr, nullptr, kFrames, 0, &out.list, nullptr, nullptr) != 0) {
                failed.store(true);
                break;
            }
            bool finite = true;
            for (const auto& channel : out.data)
                for (float v : channel)
                    finite = finite && std::isfinite(v);
            if (!finite) {
                failed.store(true);
                break;
            }
            rendered.fetch_add(1);
        }
    });
    std::thread automation([&] {
        for (int i = 0; i < kWrites; ++i) {
            const auto& definition = allParameters()[static_cast<std::size_t>(i) % kParameterCount];
            bridge.setParameter(definition.identifier, static_cast<float>(i % 101));
            (void)bridge.getParameter(definition.identifier);
        }
    });
    automation.join();
    while (rendered.load() < 50)
        std::this_thread::yield();
    stop.store(true);
    audio.join();

    EXPECT_FALSE(failed.load());
    EXPECT_GE(rendered.load(), 50);
    // The last write to each slot wins.
    for (int k = 0; k < static_cast<int>(kParameterCount); ++k) {
        const int lastWrite =
            (kWrites - 1 - k) / static_cast<int>(kParameterCount) * static_cast<int>(kParameterCount) + k;
        EXPECT_EQ(bridge.getParameter(allParameters()[static_cast<std::size_t>(k)].identifier),
                  static_cast<float>(lastWrite % 101));
    }
}

} // namespace
} // namespace thraskvell
