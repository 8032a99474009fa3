#include "dsp/DSPBridge.h"
#include "tests/dsp/BridgeTestSupport.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <limits>
#include <vector>

namespace thraskvell {
namespace {

using test::ChannelBuffers;
using test::testSignal;

constexpr int kFrames = 256;
constexpr float kSentinel = 0.123f;
const std::vector<float> kUntouched(kFrames, kSentinel);

// Records what the pull block was handed and fills the bridge's input buffers from a source.
struct Upstream {
    std::vector<std::vector<float>> source;
    AUAudioUnitStatus status = 0;
    int calls = 0;
    NSInteger bus = -1;
    std::vector<std::uint32_t> byteSizes;
    std::vector<float*> data;
    AudioUnitRenderActionFlags* flags = nullptr;
    const AudioTimeStamp* timestamp = nullptr;
    AURenderPullInputBlock block;

    explicit Upstream(int frames) : source{testSignal(frames, 1), testSignal(frames, 2)} {
        byteSizes.reserve(kAudioBufferListCapacity); // recording allocates nothing while rendering
        data.reserve(kAudioBufferListCapacity);
        block = [this](AudioUnitRenderActionFlags* f, const AudioTimeStamp* t, AUAudioFrameCount frames,
                       NSInteger busNumber, AudioBufferList* list) -> AUAudioUnitStatus {
            ++calls;
            flags = f;
            timestamp = t;
            bus = busNumber;
            byteSizes.clear();
            data.clear();
            for (std::uint32_t i = 0; i < list->mNumberBuffers; ++i) {
                byteSizes.push_back(list->mBuffers[i].mDataByteSize);
                data.push_back(list->mBuffers[i].mData);
                if (status == 0 && list->mBuffers[i].mData && i < source.size())
                    std::copy_n(source[i].begin(), frames, list->mBuffers[i].mData);
            }
            return status;
        };
    }
};

AUAudioUnitStatus renderWith(AUInternalRenderBlock& block, ChannelBuffers& out, int frames,
                             const AURenderPullInputBlock* pull) {
    AudioUnitRenderActionFlags flags = 0;
    AudioTimeStamp timestamp{};
    return block(&flags, &timestamp, static_cast<AUAudioFrameCount>(frames), 0, &out.list, nullptr, pull);
}

TEST(DSPBridge, ParametersReachTheirOwnSlotsByExactIdentifier) {
    DSPBridge bridge;
    EXPECT_FALSE(bridge.isPrepared());
    for (const auto& definition : allParameters()) {
        EXPECT_EQ(bridge.getParameter(definition.identifier), definition.defaultValue)
            << definition.identifier;
        bridge.setParameter(definition.identifier, 250.0f + float(definition.address)); // stored unclamped
    }
    for (const char* stranger : {"Trim", "TRIM", "drymode", "DryMode", "trim ", "", "volumes"}) {
        bridge.setParameter(stranger, 77.0f);
        EXPECT_EQ(bridge.getParameter(stranger), 0.0f) << stranger;
    }
    for (const auto& definition : allParameters()) {
        EXPECT_EQ(bridge.getParameter(definition.identifier), 250.0f + float(definition.address));
        EXPECT_EQ(bridge.kernel().params[definition.address].load(), 250.0f + float(definition.address));
    }
}

// The host-facing paths agree with the kernel driven directly, bit for bit, across blocks of varying
// size and a parameter change between blocks.
TEST(DSPBridge, RenderPathsEqualTheKernelDrivenDirectly) {
    const int blockSizes[] = {512, 1, 100, 511, 37, 512, 64};
    DSPBridge pulled, inPlace, unpulled;
    ThraskVellDSPKernel direct;
    for (DSPBridge* b : {&pulled, &inPlace, &unpulled})
        ASSERT_TRUE(b->prepare(512, 48000.0, 2));
    ASSERT_TRUE(direct.prepare(48000.0, 512, 2));
    auto pulledBlock = pulled.internalRenderBlock();
    auto unpulledBlock = unpulled.internalRenderBlock();
    for (int b = 0; b < 7; ++b) {
        const int n = blockSizes[b];
        if (b == 3) {
            for (DSPBridge* bridge : {&pulled, &inPlace, &unpulled})
                bridge->setParameter("sustain", 90.0f);
            direct.params[kSustain].store(90.0f);
        }
        Upstream upstream(n);
        upstream.source = {testSignal(n, 3u + unsigned(b)), testSignal(n, 20u + unsigned(b))};
        const auto& chunk = upstream.source;
        ChannelBuffers viaPull(2, n, kSentinel), viaList(2, n), viaBlockInPlace(2, n);
        ASSERT_EQ(renderWith(pulledBlock, viaPull, n, &upstream.block), 0);
        for (ChannelBuffers* buffers : {&viaList, &viaBlockInPlace})
            for (int c = 0; c < 2; ++c)
                buffers->data[c] = chunk[c];
        inPlace.processBufferList(&viaList.list, n);
        ASSERT_EQ(renderWith(unpulledBlock, viaBlockInPlace, n, nullptr), 0);

        std::vector<std::vector<float>> expected(2, std::vector<float>(n));
        const float* in[2] = {chunk[0].data(), chunk[1].data()};
        float* out[2] = {expected[0].data(), expected[1].data()};
        direct.processBlock(in, out, 2, n);
        for (int c = 0; c < 2; ++c) {
            EXPECT_EQ(viaPull.data[c], expected[c]) << "pull, channel " << c << ", block " << b;
            EXPECT_EQ(viaList.data[c], expected[c]) << "list, channel " << c << ", block " << b;
            EXPECT_EQ(viaBlockInPlace.data[c], expected[c]) << "in place, channel " << c << ", block " << b;
            EXPECT_NE(expected[c], chunk[c]); // the effect did something
        }
    }
}

// One render call per row: what is pulled, what is returned and which output buffers change.
TEST(DSPBridge, RenderBlockPullsProcessesAndRefusesAsDesigned) {
    enum Pull { None, Ok, Fails, Empty };
    constexpr AUAudioUnitStatus kTooMany = kAudioUnitErr_TooManyFramesToProcess;
    // clang-format off
    const struct {
        int maxFrames, channels, outputs, frames; // maxFrames -1: never prepared
        Pull pull;
        AUAudioUnitStatus status;
        int pulledBuffers, processed; // output buffers that change
    } rows[] = {
        {256, 2, 1, 256, Ok, 0, 1, 1}, {256, 2, 2, 256, Ok, 0, 2, 2}, {256, 2, 3, 256, Ok, 0, 2, 2},
        {256, 2, 2, 256, None, 0, 0, 2}, {256, 2, 2, 256, Empty, 0, 0, 2},
        {256, 2, 2, 256, Fails, -10863, 2, 0}, {256, 2, 2, 257, Ok, kTooMany, 0, 0},
        {256, 2, 2, 257, None, kTooMany, 0, 0}, {256, 1, 2, 256, Ok, 0, 2, 1},
        {256, 1, 2, 256, None, 0, 0, 1}, {256, 2, 0, 256, None, 0, 0, 0}, {-1, 0, 2, 4096, Ok, 0, 2, 0},
        {-1, 0, 2, 4096, None, 0, 0, 0}, {0, 0, 2, 0, Ok, 0, 2, 0}, {0, 0, 2, 1, None, kTooMany, 0, 0}};
    // clang-format on
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &r - rows);
        DSPBridge bridge;
        ASSERT_TRUE(r.maxFrames < 0 || bridge.prepare(r.maxFrames, 44100.0, r.channels));
        auto block = bridge.internalRenderBlock();
        Upstream upstream(r.frames);
        upstream.status = r.pull == Fails ? -10863 : 0;
        const AURenderPullInputBlock empty;
        const AURenderPullInputBlock* pull = r.pull == None    ? nullptr
                                             : r.pull == Empty ? &empty
                                                               : &upstream.block;
        ChannelBuffers out(r.outputs, r.frames, kSentinel);
        AudioUnitRenderActionFlags flags = 0;
        AudioTimeStamp timestamp{};
        EXPECT_EQ(block(&flags, &timestamp, r.frames, 3, &out.list, nullptr, pull), r.status);
        EXPECT_EQ(upstream.calls, r.pulledBuffers > 0 ? 1 : 0);
        ASSERT_EQ(upstream.data.size(), std::size_t(r.pulledBuffers));
        for (int i = 0; i < r.pulledBuffers; ++i) {
            EXPECT_EQ(upstream.byteSizes[i], 4u * r.frames);
            EXPECT_EQ(upstream.data[i], bridge.inputBufferList().mBuffers[i].mData); // null until prepared
        }
        if (r.pulledBuffers > 0) {
            EXPECT_EQ(upstream.bus, 0);
            EXPECT_TRUE(upstream.flags == &flags && upstream.timestamp == &timestamp);
        }
        for (int i = 0; i < r.outputs; ++i)
            EXPECT_EQ(out.data[i] != std::vector<float>(r.frames, kSentinel), i < r.processed)
                << "output " << i;
    }
}

TEST(DSPBridge, UpstreamsOwnBuffersAreFollowedButNotReused) {
    DSPBridge bridge;
    ASSERT_TRUE(bridge.prepare(kFrames, 44100.0, 1));
    auto block = bridge.internalRenderBlock();
    std::vector<float> upstreamStore = testSignal(kFrames, 3);
    std::vector<float*> seen;
    const AURenderPullInputBlock pull = [&](AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                            AUAudioFrameCount, NSInteger,
                                            AudioBufferList* list) -> AUAudioUnitStatus {
        seen.push_back(list->mBuffers[0].mData);
        list->mBuffers[0].mData = upstreamStore.data();
        return 0;
    };
    const std::vector<float*> own(2, bridge.inputBufferList().mBuffers[0].mData);
    ChannelBuffers out(1, kFrames, kSentinel);
    ASSERT_EQ(renderWith(block, out, kFrames, &pull), 0);
    EXPECT_NE(out.data[0], kUntouched);               // processed from the upstream's store
    EXPECT_EQ(upstreamStore, testSignal(kFrames, 3)); // which was only read
    ASSERT_EQ(renderWith(block, out, kFrames, &pull), 0);
    EXPECT_EQ(seen, own);
}

// Null lists are skipped; in-place processing works on the caller's buffers at any length.
TEST(DSPBridge, NullListsAndLongInPlaceBlocks) {
    DSPBridge bridge;
    ASSERT_TRUE(bridge.prepare(kFrames, 44100.0, 2));
    auto block = bridge.internalRenderBlock();
    EXPECT_EQ(block(nullptr, nullptr, kFrames, 0, nullptr, nullptr, nullptr), 0);
    bridge.processBufferList(nullptr, kFrames);
    ChannelBuffers big(2, 4 * kFrames, kSentinel);
    bridge.processBufferList(&big.list, 4 * kFrames);
    EXPECT_NE(big.data[1].back(), kSentinel);
}

// A render block handed out before preparing follows every new input store; a refused prepare
// changes nothing.
TEST(DSPBridge, PrepareReplacesTheInputStoreOrChangesNothing) {
    DSPBridge bridge;
    auto block = bridge.internalRenderBlock();
    for (int size : {1024, 300}) {
        ASSERT_TRUE(bridge.prepare(size, 44100.0, 1)); // one channel still gets both input buffers
        Upstream upstream(size);
        ChannelBuffers out(2, size);
        ASSERT_EQ(renderWith(block, out, size, &upstream.block), 0);
        EXPECT_EQ(bridge.maxFrames(), size);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(bridge.inputBufferList().mBuffers[i].mDataByteSize, 4u * size);
            EXPECT_EQ(upstream.data[i], bridge.inputBufferList().mBuffers[i].mData);
            EXPECT_NE(upstream.data[i], nullptr);
        }
    }
    const float* before[2] = {bridge.inputBufferList().mBuffers[0].mData,
                              bridge.inputBufferList().mBuffers[1].mData};
    const int most = std::numeric_limits<int>::max(), least = std::numeric_limits<int>::min();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const struct {
        int maxFrames;
        double rate;
        int channels;
    } refused[] = {{-1, 44100.0, 2},   {512, 44100.0, -1}, {least, 44100.0, 1}, {1 << 30, 44100.0, 2},
                   {most, 44100.0, 2}, {512, 0.0, 2},      {512, nan, 2}}; // 4·maxFrames must fit 32 bits
    for (const auto& r : refused) {
        EXPECT_FALSE(bridge.prepare(r.maxFrames, r.rate, r.channels)) << r.maxFrames << " " << r.channels;
        EXPECT_TRUE(bridge.maxFrames() == 300 && bridge.kernel().channelStates.size() == 1u);
        EXPECT_EQ(bridge.kernel().sampleRate, 44100.0f);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(bridge.inputBufferList().mBuffers[i].mData, before[i]);
            EXPECT_EQ(bridge.inputBufferList().mBuffers[i].mDataByteSize, 1200u);
        }
    }
    ChannelBuffers out(2, 301);
    EXPECT_EQ(renderWith(block, out, 301, nullptr), kAudioUnitErr_TooManyFramesToProcess);
}

// Everything the effect can do at once, on every path the audio thread takes: nothing allocates.
TEST(DSPBridgeRealTime, RenderingAllocatesNothing) {
    DSPBridge bridge;
    ASSERT_TRUE(bridge.prepare(512, 44100.0, 2));
    auto block = bridge.internalRenderBlock();
    Upstream upstream(512);
    ChannelBuffers out(2, 512), inPlace(2, 512);
    upstream.source[1][7] = std::numeric_limits<float>::quiet_NaN();
    for (float on : {0.0f, 100.0f}) {
        for (const char* id : {"gate", "dryMode", "bassBoost", "asymmetry", "dynamicsEnable"})
            bridge.setParameter(id, on);
        const test::AllocationScope scope;
        for (int round = 0; round < 10; ++round) {
            inPlace.data = upstream.source;
            EXPECT_EQ(renderWith(block, out, 512, &upstream.block), 0);
            EXPECT_EQ(renderWith(block, out, 512, nullptr), 0);
            EXPECT_EQ(renderWith(block, out, 513, &upstream.block), kAudioUnitErr_TooManyFramesToProcess);
            bridge.processBufferList(&inPlace.list, 512);
            bridge.setParameter("sustain", static_cast<float>(round));
            (void)bridge.getParameter("sustain");
        }
        EXPECT_EQ(scope.allocations(), 0u) << (on > 0.0f ? "all switches on" : "defaults");
    }
}

} // namespace
} // namespace thraskvell
