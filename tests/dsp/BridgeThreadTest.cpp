#include "dsp/DSPBridge.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <thread>
#include <vector>

namespace thraskvell {
namespace {

// Hosts automate parameters from their own threads while the audio thread renders; the slots are
// the only shared state, so this must be free of data races and every render must stay sound.
TEST(DSPBridgeThreads, ParametersWrittenFromOtherThreadsWhileRendering) {
    constexpr int kFrames = 256, kWrites = 20000, kSlots = static_cast<int>(kParameterCount);
    DSPBridge bridge;
    ASSERT_TRUE(bridge.prepare(kFrames, 44100.0, 2));
    auto block = bridge.internalRenderBlock();
    std::atomic<bool> stop{false};
    std::atomic<int> rendered{0}; // -1 once a render failed or gave a non-finite sample
    std::thread audio([&] {
        std::vector<float> io(2 * kFrames);
        AudioBufferList out{
            2, {AudioBuffer{1, 4 * kFrames, io.data()}, AudioBuffer{1, 4 * kFrames, &io[kFrames]}}};
        while (!stop.load() && rendered.load() >= 0) {
            for (int i = 0; i < 2 * kFrames; ++i)
                io[i] = 0.6f * std::sin(0.07f * static_cast<float>(i));
            const bool sound = block(nullptr, nullptr, kFrames, 0, &out, nullptr, nullptr) == 0 &&
                               std::all_of(io.begin(), io.end(), [](float v) { return std::isfinite(v); });
            rendered.store(sound ? rendered.load() + 1 : -1); // the only writer
        }
    });
    // Until `blocks` are out, the audio thread failed or ten seconds passed.
    const auto waitFor = [&](int blocks) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
        while (rendered.load() >= 0 && rendered.load() < blocks &&
               std::chrono::steady_clock::now() < deadline)
            std::this_thread::yield();
        return rendered.load() >= blocks;
    };
    bool ok = waitFor(1); // the writes overlap rendering: they start once the first block is out
    for (int i = 0; ok && i < kWrites; ++i) {
        const auto& definition = allParameters()[i % kSlots];
        bridge.setParameter(definition.identifier, static_cast<float>(i % 101));
        (void)bridge.getParameter(definition.identifier);
    }
    ok = ok && waitFor(rendered.load() + 50);
    const int blocks = rendered.load();
    stop.store(true);
    audio.join();
    ASSERT_TRUE(ok) << (blocks < 0 ? "the audio thread failed" : "timed out");
    for (int k = 0; k < kSlots; ++k) // the last write to each slot wins
        EXPECT_EQ(bridge.getParameter(allParameters()[k].identifier),
                  static_cast<float>(((kWrites - 1 - k) / kSlots * kSlots + k) % 101));
}

} // namespace
} // namespace thraskvell
