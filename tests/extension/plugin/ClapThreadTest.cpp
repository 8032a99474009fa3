// A host saves projects while it plays: state saves and parameter reads on the main thread while
// the audio thread processes and automates. Runs under ThreadSanitizer in CI.
#include "tests/extension/plugin/ClapHost.h"
#include "tests/extension/plugin/PluginTestSupport.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

namespace thraskvell::test {
namespace {

TEST(ClapThreadTest, StateSavesAndParameterReadsWhileProcessing) {
    for (const PluginVariant& variant : kVariants) {
        ClapLibrary library(variant.clapPath);
        ClapInstance instance(library, variant.clapId);
        ASSERT_NE(instance.plugin(), nullptr);
        ASSERT_TRUE(instance.activate(48000.0, 128));

        constexpr int kBlocks = 400;
        std::atomic<bool> done{false};
        std::thread audio([&] {
            auto in = testSignal(variant.channels, 128);
            Channels out(variant.channels, std::vector<float>(128));
            float* inPointers[2] = {in[0].data(), variant.channels > 1 ? in[1].data() : nullptr};
            float* outPointers[2] = {out[0].data(), variant.channels > 1 ? out[1].data() : nullptr};
            for (int block = 0; block < kBlocks; ++block) {
                // Automation: sustain sweeps, volume ends at 42.
                instance.queueParameter(kSustain, block % 100);
                instance.queueParameter(kVolume, block + 1 == kBlocks ? 42.0 : block % 100);
                instance.process(inPointers, outPointers, variant.channels, 128);
            }
            done = true;
        });
        int saves = 0;
        while (!done) {
            const auto state = instance.saveState();
            EXPECT_NE(std::string(state.begin(), state.end()).find("thraskVellVersion"), std::string::npos);
            const double sustain = instance.parameterValue(kSustain);
            EXPECT_TRUE(sustain >= 0.0 && sustain <= 99.0) << sustain;
            ++saves;
        }
        audio.join();
        EXPECT_GT(saves, 0);
        EXPECT_EQ(instance.parameterValue(kVolume), 42.0);
        const auto state = instance.saveState();
        // The JSON text of the full state holds the last automated value.
        EXPECT_EQ(jsonNumber(std::string(state.begin(), state.end()), "volume"), 42.0f) << variant.name;
    }
}

} // namespace
} // namespace thraskvell::test
