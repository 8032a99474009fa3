#include "dsp/DSPBridge.h"
#include "tests/dsp/BridgeTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <functional>
#include <string>
#include <thread>

namespace thraskvell {
namespace {

// Waits until `done` holds; gives up, saying why, when the other side failed or after ten seconds.
std::string waitFor(const std::function<bool()>& done, const std::atomic<bool>& otherFailed) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    for (; !done(); std::this_thread::yield()) {
        if (otherFailed.load()) return "the other thread failed";
        if (std::chrono::steady_clock::now() > deadline) return "timed out";
    }
    return "";
}

// Hosts automate parameters from their own threads while the audio thread renders; the slots are
// the only shared state, so this must be free of data races and every render must stay sound.
TEST(DSPBridgeThreads, ParametersWrittenFromOtherThreadsWhileRendering) {
    constexpr int kFrames = 256, kWrites = 20000, kSlots = static_cast<int>(kParameterCount);
    DSPBridge bridge;
    ASSERT_TRUE(bridge.prepare(kFrames, 44100.0, 2));
    auto block = bridge.internalRenderBlock();
    std::atomic<bool> stop{false}, audioFailed{false};
    std::atomic<int> rendered{0};
    std::string audioError, writerError, waited;
    std::thread audio([&] {
        test::ChannelBuffers out(2, kFrames);
        const auto source = test::testSignal(kFrames, 9);
        while (!stop.load() && audioError.empty()) {
            out.data = {source, source};
            if (block(nullptr, nullptr, kFrames, 0, &out.list, nullptr, nullptr) != 0)
                audioError = "render failed";
            for (const auto& channel : out.data)
                for (float v : channel)
                    if (!std::isfinite(v)) audioError = "non-finite output";
            if (audioError.empty()) rendered.fetch_add(1);
        }
        audioFailed.store(!audioError.empty());
    });
    std::thread automation([&] {
        // The writes overlap rendering: they start once the first block is out.
        writerError = waitFor([&] { return rendered.load() > 0; }, audioFailed);
        for (int i = 0; writerError.empty() && i < kWrites; ++i) {
            const auto& definition = allParameters()[i % kSlots];
            bridge.setParameter(definition.identifier, static_cast<float>(i % 101));
            (void)bridge.getParameter(definition.identifier);
        }
    });
    automation.join();
    const int renderedByThen = rendered.load();
    waited = waitFor([&] { return rendered.load() >= renderedByThen + 50; }, audioFailed);
    stop.store(true);
    audio.join();

    ASSERT_EQ(audioError, "") << "audio thread";
    ASSERT_EQ(writerError, "") << "writer, waiting for the first block";
    ASSERT_EQ(waited, "") << "waiting for blocks after the writes";
    for (int k = 0; k < kSlots; ++k) // the last write to each slot wins
        EXPECT_EQ(bridge.getParameter(allParameters()[k].identifier),
                  static_cast<float>(((kWrites - 1 - k) / kSlots * kSlots + k) % 101));
}

} // namespace
} // namespace thraskvell
