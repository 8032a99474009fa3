// A host saves and recalls its project on the main thread, and reads parameters there, while the
// audio thread plays and automates: parameter writes from two threads, reads and state text from a
// third place, all racing the render. Runs under ThreadSanitizer in CI.
#include "tests/extension/plugin/ClapHost.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>

namespace thraskvell::test {
namespace {

TEST(PluginThreads, StateSavesRecallsAndReadsWhileProcessing) {
    constexpr int kSaves = 20, kBlocks = 200;
    const PluginVariant& variant = kVariants[1];
    ClapLibrary library(variant.clapPath);
    ClapInstance instance(library, variant.clapId);
    ASSERT_NE(instance.plugin(), nullptr);
    ASSERT_TRUE(instance.activate(48000.0, 128));
    const std::string preset = instance.saveState();
    auto in = testSignal(variant.channels, 128);
    Channels out(variant.channels, std::vector<float>(128));
    float *inPointers[2] = {in[0].data(), in.back().data()},
          *outPointers[2] = {out[0].data(), out.back().data()};

    // Each side keeps going until the other has done its share too; both stop at the deadline or
    // when either has failed.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::atomic<int> saves{0}, blocks{0};
    std::atomic<bool> failed{false};
    const auto goOn = [&] {
        return (saves.load() < kSaves || blocks.load() < kBlocks) && !failed.load() &&
               std::chrono::steady_clock::now() < deadline;
    };
    std::thread audio([&] {
        for (; goOn(); blocks.fetch_add(1)) {
            instance.queueParameter(kSustain, blocks.load() % 100);
            instance.queueParameter(kVolume, blocks.load() % 100);
            bool ok = instance.process(inPointers, outPointers, variant.channels, 128);
            for (const auto& channel : out)
                ok = ok && std::ranges::all_of(channel, [](float x) { return std::isfinite(x); });
            if (!ok) failed = true;
        }
    });
    for (; goOn(); saves.fetch_add(1)) {
        const std::string state = instance.saveState();
        const double sustain = instance.parameterValue(kSustain);
        if (state.find("thraskVellVersion") == std::string::npos || sustain < 0.0 || sustain > 99.0 ||
            !instance.restoreState(saves.load() % 2 ? preset : state)) {
            ADD_FAILURE() << "save " << saves.load() << ": sustain " << sustain << " in\n" << state;
            failed = true;
        }
    }
    audio.join();
    EXPECT_FALSE(failed.load()) << "a block failed or was not finite";
    EXPECT_GE(saves.load(), kSaves) << "after " << blocks.load() << " blocks";
    EXPECT_GE(blocks.load(), kBlocks);

    // The last automated value is what the plug-in and its state hold afterwards.
    instance.queueParameter(kVolume, 42.0);
    instance.process(inPointers, outPointers, variant.channels, 128);
    EXPECT_EQ(instance.parameterValue(kVolume), 42.0f);
    EXPECT_NE(instance.saveState().find("\"volume\":42.0"), std::string::npos);
}

} // namespace
} // namespace thraskvell::test
