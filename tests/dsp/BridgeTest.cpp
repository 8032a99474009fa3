#include "dsp/DSPBridge.h"
#include "tests/dsp/BridgeTestSupport.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

namespace thraskvell {
namespace {

using test::ChannelBuffers;
using test::testSignal;

constexpr int kFrames = 256;
constexpr float kSentinel = 0.123f;

// Records what the pull block was handed and fills the bridge's input buffers from a source.
struct Upstream {
    std::vector<std::vector<float>> source;
    AUAudioUnitStatus status = 0;
    int calls = 0;
    std::uint32_t buffers = 0;
    std::vector<std::uint32_t> byteSizes;
    std::vector<float*> data;
    NSInteger bus = -1;
    AudioUnitRenderActionFlags* flags = nullptr;
    const AudioTimeStamp* timestamp = nullptr;

    AURenderPullInputBlock block() {
        return [this](AudioUnitRenderActionFlags* f, const AudioTimeStamp* t, AUAudioFrameCount frames,
                      NSInteger busNumber, AudioBufferList* list) -> AUAudioUnitStatus {
            ++calls;
            flags = f;
            timestamp = t;
            bus = busNumber;
            buffers = list->mNumberBuffers;
            byteSizes.clear();
            data.clear();
            for (std::uint32_t i = 0; i < list->mNumberBuffers; ++i) {
                byteSizes.push_back(list->mBuffers[i].mDataByteSize);
                data.push_back(list->mBuffers[i].mData);
                if (status == 0 && list->mBuffers[i].mData && i < source.size())
                    std::memcpy(list->mBuffers[i].mData, source[i].data(), frames * sizeof(float));
            }
            return status;
        };
    }
};

std::vector<std::vector<float>> signals(int channels, int frames) {
    std::vector<std::vector<float>> s;
    for (int c = 0; c < channels; ++c)
        s.push_back(testSignal(frames, static_cast<unsigned>(c + 1)));
    return s;
}

AUAudioUnitStatus renderWith(AUInternalRenderBlock& block, ChannelBuffers& out, int frames,
                             const AURenderPullInputBlock* pull) {
    AudioUnitRenderActionFlags flags = 0;
    AudioTimeStamp timestamp{};
    return block(&flags, &timestamp, static_cast<AUAudioFrameCount>(frames), 0, &out.list, nullptr, pull);
}

TEST(DSPBridge, NewBridgeHoldsTheDefaults) {
    const DSPBridge bridge;
    const struct {
        const char* identifier;
        float value;
    } expected[] = {{"trim", 50},     {"gate", 0},           {"volume", 50},    {"tone", 50},
                    {"sustain", 50},  {"blend", 50},         {"dryMode", 0},    {"bassBoost", 0},
                    {"asymmetry", 0}, {"dynamicsEnable", 0}, {"threshold", 50}, {"ratio", 50}};
    for (const auto& e : expected)
        EXPECT_EQ(bridge.getParameter(e.identifier), e.value) << e.identifier;
    EXPECT_FALSE(bridge.isPrepared());
}

TEST(DSPBridge, EachIdentifierReachesItsOwnSlotExactly) {
    DSPBridge bridge;
    for (const auto& definition : allParameters())
        bridge.setParameter(definition.identifier, 1.0f + float(definition.address));
    for (const auto& definition : allParameters()) {
        EXPECT_EQ(bridge.getParameter(definition.identifier), 1.0f + float(definition.address)) << definition.identifier;
        EXPECT_EQ(bridge.kernel().params[definition.address].load(), 1.0f + float(definition.address)) << definition.identifier;
    }
}

TEST(DSPBridge, IdentifiersAreCaseSensitiveAndUnknownOnesIgnored) {
    const char* const strangers[] = {"Trim", "TRIM", "drymode", "DryMode", "trim ", "", "foo", "volumes"};
    for (const char* stranger : strangers) {
        DSPBridge bridge;
        bridge.setParameter(stranger, 77.0f);
        EXPECT_EQ(bridge.getParameter(stranger), 0.0f) << stranger;
        for (const auto& definition : allParameters())
            EXPECT_EQ(bridge.getParameter(definition.identifier), definition.defaultValue)
                << stranger << " → " << definition.identifier;
    }
}

TEST(DSPBridge, ValuesAreStoredUnclampedAndApplied) {
    DSPBridge bridge;
    const float values[] = {250.0f, -3.0f, 100.5f, 0.25f};
    for (float v : values) {
        bridge.setParameter("volume", v);
        EXPECT_EQ(bridge.getParameter("volume"), v);
    }

    // Output volume is the last stage, so volume 250 is exactly five times volume 50.
    const auto input = testSignal(kFrames, 7);
    std::vector<float> outputs[2];
    const float volumes[] = {50.0f, 250.0f};
    for (int run = 0; run < 2; ++run) {
        DSPBridge b;
        ASSERT_TRUE(b.prepare(kFrames, 44100.0, 1));
        b.setParameter("volume", volumes[run]);
        ChannelBuffers buffers(1, kFrames);
        buffers.data[0] = input;
        b.processBufferList(&buffers.list, kFrames);
        outputs[run] = buffers.data[0];
    }
    double energy = 0.0;
    for (int i = 0; i < kFrames; ++i) {
        EXPECT_NEAR(outputs[1][i], 5.0f * outputs[0][i], 1e-5f + 1e-6f * std::fabs(outputs[1][i])) << i;
        energy += outputs[0][i] * outputs[0][i];
    }
    EXPECT_GT(energy, 1.0);
}

// The host-facing paths must agree with the kernel driven directly, bit for bit, across blocks
// of varying size and a parameter change between blocks.
TEST(DSPBridge, RenderBlockAndInPlaceProcessingEqualTheKernelDrivenDirectly) {
    constexpr int kChannels = 2;
    constexpr int kMax = 512;
    const int blockSizes[] = {512, 1, 100, 511, 37, 512, 64};
    int total = 0;
    for (int n : blockSizes)
        total += n;
    const auto input = signals(kChannels, total);

    DSPBridge pulled, inPlace, unpulled;
    ThraskVellDSPKernel direct;
    for (DSPBridge* b : {&pulled, &inPlace, &unpulled})
        ASSERT_TRUE(b->prepare(kMax, 48000.0, kChannels));
    ASSERT_TRUE(direct.prepare(48000.0, kMax, kChannels));
    auto pulledBlock = pulled.internalRenderBlock();
    auto unpulledBlock = unpulled.internalRenderBlock();

    int offset = 0;
    int blockNumber = 0;
    for (int n : blockSizes) {
        if (blockNumber++ == 3) {
            for (DSPBridge* b : {&pulled, &inPlace, &unpulled})
                b->setParameter("sustain", 90.0f);
            direct.params[kSustain].store(90.0f);
        }
        std::vector<std::vector<float>> chunk;
        for (const auto& channel : input)
            chunk.emplace_back(channel.begin() + offset, channel.begin() + offset + n);

        Upstream upstream;
        upstream.source = chunk;
        const auto pull = upstream.block();
        ChannelBuffers viaPull(kChannels, n, kSentinel);
        ASSERT_EQ(renderWith(pulledBlock, viaPull, n, &pull), 0);

        ChannelBuffers viaList(kChannels, n);
        viaList.data = chunk;
        for (int c = 0; c < kChannels; ++c)
            viaList.list.mBuffers[c].mData = viaList.data[c].data();
        inPlace.processBufferList(&viaList.list, n);

        ChannelBuffers viaBlockInPlace(kChannels, n);
        viaBlockInPlace.data = chunk;
        for (int c = 0; c < kChannels; ++c)
            viaBlockInPlace.list.mBuffers[c].mData = viaBlockInPlace.data[c].data();
        ASSERT_EQ(renderWith(unpulledBlock, viaBlockInPlace, n, nullptr), 0);

        std::vector<std::vector<float>> expected(kChannels, std::vector<float>(n));
        const float* in[2] = {chunk[0].data(), chunk[1].data()};
        float* out[2] = {expected[0].data(), expected[1].data()};
        direct.processBlock(in, out, kChannels, n);

        for (int c = 0; c < kChannels; ++c) {
            EXPECT_EQ(viaPull.data[c], expected[c]) << "pull, channel " << c << ", offset " << offset;
            EXPECT_EQ(viaList.data[c], expected[c]) << "list, channel " << c << ", offset " << offset;
            EXPECT_EQ(viaBlockInPlace.data[c], expected[c])
                << "in place, channel " << c << ", offset " << offset;
            EXPECT_NE(expected[c], chunk[c]); // the effect did something
        }
        offset += n;
    }
}

TEST(DSPBridge, PullFetchesOneBufferPerOutputChannelUpToTwo) {
    const struct {
        int outputs;
        std::uint32_t pulled;
        int processed;
    } cases[] = {{1, 1, 1}, {2, 2, 2}, {3, 2, 2}};
    for (const auto& c : cases) {
        DSPBridge bridge;
        ASSERT_TRUE(bridge.prepare(kFrames, 44100.0, 2));
        auto block = bridge.internalRenderBlock();
        Upstream upstream;
        upstream.source = signals(2, kFrames);
        const auto pull = upstream.block();
        ChannelBuffers out(c.outputs, kFrames, kSentinel);
        AudioUnitRenderActionFlags flags = 0;
        AudioTimeStamp timestamp{};
        ASSERT_EQ(block(&flags, &timestamp, kFrames, 3, &out.list, nullptr, &pull), 0);

        EXPECT_EQ(upstream.calls, 1);
        EXPECT_EQ(upstream.buffers, c.pulled) << c.outputs << " outputs";
        EXPECT_EQ(upstream.bus, 0);
        EXPECT_EQ(upstream.flags, &flags);
        EXPECT_EQ(upstream.timestamp, &timestamp);
        for (std::uint32_t i = 0; i < c.pulled; ++i) {
            EXPECT_EQ(upstream.byteSizes[i], 4u * kFrames);
            EXPECT_EQ(upstream.data[i], bridge.inputBufferList().mBuffers[i].mData);
        }
        for (int i = 0; i < c.outputs; ++i) {
            const bool processed = i < c.processed;
            EXPECT_EQ(out.data[i] == std::vector<float>(kFrames, kSentinel), !processed) << "output " << i;
        }
    }
}

TEST(DSPBridge, FailedPullIsPassedThroughWithOutputUntouched) {
    DSPBridge bridge;
    ASSERT_TRUE(bridge.prepare(kFrames, 44100.0, 2));
    auto block = bridge.internalRenderBlock();
    Upstream upstream;
    upstream.source = signals(2, kFrames);
    upstream.status = -10863;
    const auto pull = upstream.block();
    ChannelBuffers out(2, kFrames, kSentinel);
    EXPECT_EQ(renderWith(block, out, kFrames, &pull), -10863);
    for (const auto& channel : out.data)
        EXPECT_EQ(channel, std::vector<float>(kFrames, kSentinel));
}

TEST(DSPBridge, ChannelsBeyondThePreparedCountAreLeftAlone) {
    for (bool withPull : {false, true}) {
        DSPBridge bridge;
        ASSERT_TRUE(bridge.prepare(kFrames, 44100.0, 1));
        auto block = bridge.internalRenderBlock();
        Upstream upstream;
        upstream.source = signals(2, kFrames);
        const auto pull = upstream.block();
        ChannelBuffers out(2, kFrames);
        out.data = signals(2, kFrames);
        for (int c = 0; c < 2; ++c)
            out.list.mBuffers[c].mData = out.data[c].data();
        const auto hostChannel1 = out.data[1];
        ASSERT_EQ(renderWith(block, out, kFrames, withPull ? &pull : nullptr), 0);
        EXPECT_NE(out.data[0], upstream.source[0]) << "channel 0 is processed";
        EXPECT_EQ(out.data[1], hostChannel1) << (withPull ? "pull" : "in place");
    }
}

TEST(DSPBridge, PrepareInstallsFreshInputStoreEachTime) {
    DSPBridge bridge;
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(bridge.inputBufferList().mBuffers[i].mData, nullptr);
        EXPECT_EQ(bridge.inputBufferList().mBuffers[i].mDataByteSize, 0u);
    }
    EXPECT_EQ(bridge.inputBufferList().mNumberBuffers, 2u);

    auto block = bridge.internalRenderBlock(); // handed out before preparing; must follow the new store
    const int sizes[] = {128, 1024, 64};
    for (int size : sizes) {
        ASSERT_TRUE(bridge.prepare(size, 44100.0, 1)); // one channel still gets both input buffers
        EXPECT_EQ(bridge.maxFrames(), size);
        for (int i = 0; i < 2; ++i) {
            EXPECT_NE(bridge.inputBufferList().mBuffers[i].mData, nullptr);
            EXPECT_EQ(bridge.inputBufferList().mBuffers[i].mDataByteSize, 4u * size);
        }
        Upstream upstream;
        upstream.source = signals(2, size);
        const auto pull = upstream.block();
        ChannelBuffers out(2, size);
        ASSERT_EQ(renderWith(block, out, size, &pull), 0);
        EXPECT_EQ(upstream.data[0], bridge.inputBufferList().mBuffers[0].mData);
        EXPECT_EQ(upstream.data[1], bridge.inputBufferList().mBuffers[1].mData);
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
    float* const own = bridge.inputBufferList().mBuffers[0].mData;
    ChannelBuffers out(1, kFrames, kSentinel);
    ASSERT_EQ(renderWith(block, out, kFrames, &pull), 0);
    EXPECT_NE(out.data[0], std::vector<float>(kFrames, kSentinel)); // processed from the upstream's store
    EXPECT_EQ(upstreamStore, testSignal(kFrames, 3));               // which was only read
    ASSERT_EQ(renderWith(block, out, kFrames, &pull), 0);
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0], own);
    EXPECT_EQ(seen[1], own);
}

TEST(DSPBridge, OversizeRenderIsRefusedOncePrepared) {
    DSPBridge bridge;
    ASSERT_TRUE(bridge.prepare(kFrames, 44100.0, 2));
    auto block = bridge.internalRenderBlock();
    for (bool withPull : {false, true}) {
        Upstream upstream;
        upstream.source = signals(2, kFrames + 1);
        const auto pull = upstream.block();
        ChannelBuffers out(2, kFrames + 1, kSentinel);
        EXPECT_EQ(renderWith(block, out, kFrames + 1, withPull ? &pull : nullptr),
                  kAudioUnitErr_TooManyFramesToProcess);
        EXPECT_EQ(upstream.calls, 0);
        for (const auto& channel : out.data)
            EXPECT_EQ(channel, std::vector<float>(kFrames + 1, kSentinel));

        EXPECT_EQ(renderWith(block, out, kFrames, withPull ? &pull : nullptr),
                  0); // exactly maxFrames is fine
        EXPECT_NE(out.data[0][0], kSentinel);
    }
    // processBufferList works on the caller's buffers: any length.
    ChannelBuffers big(2, 4 * kFrames, 0.25f);
    bridge.processBufferList(&big.list, 4 * kFrames);
    EXPECT_NE(big.data[1].back(), 0.25f);
}

TEST(DSPBridge, UnpreparedBridgeProcessesNothingAndSucceeds) {
    DSPBridge bridge;
    auto block = bridge.internalRenderBlock();
    Upstream upstream;
    upstream.source = signals(2, 4096);
    const auto pull = upstream.block();
    ChannelBuffers out(2, 4096, kSentinel);
    EXPECT_EQ(renderWith(block, out, 4096, &pull), 0);
    EXPECT_EQ(upstream.calls, 1);
    EXPECT_EQ(upstream.data, (std::vector<float*>{nullptr, nullptr})); // an upstream may supply its own
    EXPECT_EQ(renderWith(block, out, 4096, nullptr), 0);
    bridge.processBufferList(&out.list, 4096);
    for (const auto& channel : out.data)
        EXPECT_EQ(channel, std::vector<float>(4096, kSentinel));
}

TEST(DSPBridge, DegenerateListsAreHarmless) {
    DSPBridge bridge;
    ASSERT_TRUE(bridge.prepare(kFrames, 44100.0, 2));
    auto block = bridge.internalRenderBlock();
    EXPECT_EQ(block(nullptr, nullptr, kFrames, 0, nullptr, nullptr, nullptr), 0);
    bridge.processBufferList(nullptr, kFrames);

    ChannelBuffers none(0, kFrames);
    EXPECT_EQ(renderWith(block, none, kFrames, nullptr), 0);
    bridge.processBufferList(&none.list, kFrames);

    ChannelBuffers nullData(2, kFrames, kSentinel);
    nullData.list.mBuffers[0].mData = nullptr;
    EXPECT_EQ(renderWith(block, nullData, kFrames, nullptr), 0);
    EXPECT_EQ(nullData.data[0], std::vector<float>(kFrames, kSentinel));

    ChannelBuffers negative(2, kFrames, kSentinel);
    bridge.processBufferList(&negative.list, -5);
    EXPECT_EQ(negative.data[0], std::vector<float>(kFrames, kSentinel));

    const AURenderPullInputBlock empty;
    ChannelBuffers out(2, kFrames, kSentinel);
    EXPECT_EQ(renderWith(block, out, kFrames, &empty), 0); // an empty callable counts as no upstream
    EXPECT_NE(out.data[0][kFrames - 1], kSentinel);
}

TEST(DSPBridge, RefusedPrepareChangesNothing) {
    DSPBridge bridge;
    ASSERT_TRUE(bridge.prepare(300, 44100.0, 2));
    const float* before[2] = {bridge.inputBufferList().mBuffers[0].mData,
                              bridge.inputBufferList().mBuffers[1].mData};

    const struct {
        int maxFrames;
        double rate;
        int channels;
    } refused[] = {{-1, 44100.0, 2},
                   {512, 44100.0, -1},
                   {std::numeric_limits<int>::min(), 44100.0, 1},
                   {std::numeric_limits<int>::max(), 44100.0, 2}, // 4·maxFrames does not fit 32 bits
                   {(1 << 30), 44100.0, 2},
                   {512, 0.0, 2},
                   {512, std::numeric_limits<double>::quiet_NaN(), 2}};
    for (const auto& r : refused) {
        EXPECT_FALSE(bridge.prepare(r.maxFrames, r.rate, r.channels)) << r.maxFrames << " " << r.channels;
        EXPECT_EQ(bridge.maxFrames(), 300);
        EXPECT_EQ(bridge.kernel().channelStates.size(), 2u);
        EXPECT_EQ(bridge.kernel().sampleRate, 44100.0f);
        for (int i = 0; i < 2; ++i) {
            EXPECT_EQ(bridge.inputBufferList().mBuffers[i].mData, before[i]);
            EXPECT_EQ(bridge.inputBufferList().mBuffers[i].mDataByteSize, 1200u);
        }
    }
    // Still fully usable.
    auto block = bridge.internalRenderBlock();
    ChannelBuffers out(2, 300, 0.5f);
    EXPECT_EQ(renderWith(block, out, 300, nullptr), 0);
    EXPECT_EQ(renderWith(block, out, 301, nullptr), kAudioUnitErr_TooManyFramesToProcess);
}

TEST(DSPBridge, ZeroFramesAndZeroChannelsAreValidPreparations) {
    DSPBridge bridge;
    ASSERT_TRUE(bridge.prepare(0, 44100.0, 0));
    EXPECT_TRUE(bridge.isPrepared());
    auto block = bridge.internalRenderBlock();
    ChannelBuffers out(2, 8, kSentinel);
    EXPECT_EQ(renderWith(block, out, 0, nullptr), 0);
    EXPECT_EQ(renderWith(block, out, 1, nullptr), kAudioUnitErr_TooManyFramesToProcess);
    bridge.processBufferList(&out.list, 8); // no channel records: nothing processed
    EXPECT_EQ(out.data[0], std::vector<float>(8, kSentinel));
}

} // namespace
} // namespace thraskvell
