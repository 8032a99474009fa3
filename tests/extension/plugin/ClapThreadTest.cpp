// A host saves projects while it plays: state saves and parameter reads on the main thread while
// the audio thread processes and automates. Runs under ThreadSanitizer in CI.
#include "tests/extension/plugin/ClapHost.h"
#include "tests/extension/plugin/PluginTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace thraskvell::test {
namespace {

TEST(ClapThreads, StateSavesAndParameterReadsWhileProcessing) {
    constexpr int kSaves = 20, kBlocks = 200;
    for (const PluginVariant& variant : kVariants) {
        ClapLibrary library(variant.clapPath);
        ClapInstance instance(library, variant.clapId);
        ASSERT_NE(instance.plugin(), nullptr);
        ASSERT_TRUE(instance.activate(48000.0, 128));

        // Each side keeps going until the other has done its share; both give up at the deadline
        // or when the other side has stopped.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        std::atomic<int> saves{0};
        std::atomic<bool> audioDone{false}, mainFailed{false};
        int blocks = 0;
        std::thread audio([&] {
            auto in = testSignal(variant.channels, 128);
            Channels out(variant.channels, std::vector<float>(128));
            float* inPointers[2] = {in[0].data(), in.back().data()};
            float* outPointers[2] = {out[0].data(), out.back().data()};
            for (; (blocks < kBlocks || saves.load() < kSaves) && !mainFailed.load() &&
                   std::chrono::steady_clock::now() < deadline;
                 ++blocks) {
                instance.queueParameter(kSustain, blocks % 100);
                instance.queueParameter(kVolume, blocks % 100);
                instance.process(inPointers, outPointers, variant.channels, 128);
            }
            // The last automated value, which the state must hold afterwards.
            instance.queueParameter(kVolume, 42.0);
            instance.process(inPointers, outPointers, variant.channels, 128);
            audioDone = true;
        });
        while (!audioDone.load() && std::chrono::steady_clock::now() < deadline) {
            const auto state = instance.saveState();
            const double sustain = instance.parameterValue(kSustain);
            if (state.find("thraskVellVersion") == std::string::npos || sustain < 0.0 || sustain > 99.0) {
                ADD_FAILURE() << "save " << saves.load() << ": sustain " << sustain << " in\n" << state;
                mainFailed = true;
                break;
            }
            saves.fetch_add(1);
        }
        audio.join();
        EXPECT_GE(saves.load(), kSaves) << variant.name << " after " << blocks << " blocks";
        EXPECT_GE(blocks, kBlocks) << variant.name;
        EXPECT_EQ(instance.parameterValue(kVolume), 42.0f) << variant.name;
        EXPECT_EQ(jsonNumber(instance.saveState(), "volume"), 42.0f) << variant.name;
    }
}

} // namespace
} // namespace thraskvell::test
