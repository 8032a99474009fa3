#include "dsp/DSPBridge.h"
#include "tests/dsp/BridgeTestSupport.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cstring>

namespace thraskvell {
namespace {

using test::AllocationScope;
using test::ChannelBuffers;

constexpr int kFrames = 512;

// Everything the effect can do at once, so every branch of the chain runs inside the scope.
void switchEverythingOn(DSPBridge& bridge) {
    for (const char* id : {"gate", "dryMode", "bassBoost", "asymmetry", "dynamicsEnable"})
        bridge.setParameter(id, 100.0f);
}

TEST(DSPBridgeRealTime, RenderBlockAndInPlaceProcessingAllocateNothing) {
    DSPBridge bridge;
    ASSERT_TRUE(bridge.prepare(kFrames, 44100.0, 2));
    auto block = bridge.internalRenderBlock();
    const auto source = test::testSignal(kFrames, 5);
    const AURenderPullInputBlock pull = [&source](AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                                  AUAudioFrameCount frames, NSInteger,
                                                  AudioBufferList* list) -> AUAudioUnitStatus {
        for (std::uint32_t i = 0; i < list->mNumberBuffers; ++i)
            std::memcpy(list->mBuffers[i].mData, source.data(), frames * sizeof(float));
        return 0;
    };
    ChannelBuffers out(2, kFrames);
    ChannelBuffers inPlace(2, kFrames);
    inPlace.data = {source, source};
    for (int c = 0; c < 2; ++c)
        inPlace.list.mBuffers[c].mData = inPlace.data[c].data();
    AudioUnitRenderActionFlags flags = 0;
    AudioTimeStamp timestamp{};

    for (bool everything : {false, true}) {
        if (everything) switchEverythingOn(bridge);
        const AllocationScope scope;
        for (int round = 0; round < 20; ++round) {
            EXPECT_EQ(block(&flags, &timestamp, kFrames, 0, &out.list, nullptr, &pull), 0);
            EXPECT_EQ(block(&flags, &timestamp, kFrames, 0, &out.list, nullptr, nullptr), 0);
            EXPECT_EQ(block(&flags, &timestamp, kFrames + 1, 0, &out.list, nullptr, &pull),
                      kAudioUnitErr_TooManyFramesToProcess);
            bridge.processBufferList(&inPlace.list, kFrames);
            bridge.setParameter("sustain", static_cast<float>(round));
            (void)bridge.getParameter("sustain");
        }
        EXPECT_EQ(scope.allocations(), 0u) << (everything ? "all switches on" : "defaults");
    }
}

TEST(DSPBridgeRealTime, RepreparingToAKnownChannelCountIsTheOnlyPlaceThatAllocates) {
    DSPBridge bridge;
    {
        const AllocationScope scope;
        ASSERT_TRUE(bridge.prepare(kFrames, 44100.0, 2));
        EXPECT_GT(scope.allocations(), 0u); // the input store, at least
    }
    {
        const AllocationScope scope;
        auto block = bridge.internalRenderBlock();
        ChannelBuffers out(2, kFrames);
        const AllocationScope renderScope;
        EXPECT_EQ(block(nullptr, nullptr, kFrames, 0, &out.list, nullptr, nullptr), 0);
        EXPECT_EQ(renderScope.allocations(), 0u);
    }
}

} // namespace
} // namespace thraskvell
