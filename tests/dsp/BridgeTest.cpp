#include "dsp/DSPBridge.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <tuple>
#include <vector>

namespace thraskvell {
namespace {

constexpr float kSentinel = 0.123f;
constexpr AUAudioUnitStatus kTooMany = kAudioUnitErr_TooManyFramesToProcess;

// Noise, different per seed.
std::vector<float> testSignal(int frames, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<float> signal(frames);
    std::generate(signal.begin(), signal.end(),
                  [&] { return std::uniform_real_distribution(-0.6f, 0.6f)(rng); });
    return signal;
}

// Owns one vector per channel and a list pointing at them.
struct ChannelBuffers {
    std::vector<std::vector<float>> data;
    AudioBufferList list;

    ChannelBuffers(int channels, int frames, float fill = 0.0f)
        : data(channels, std::vector<float>(frames, fill)) {
        list.mNumberBuffers = channels;
        for (std::size_t i = 0; i < data.size(); ++i)
            list.mBuffers[i] = AudioBuffer{1, 4u * frames, data[i].data()};
    }
};

// Records what the pull block was handed and fills the bridge's input buffers from a source; a
// redirecting upstream points the buffers at its own source instead, as hosts may.
struct Upstream {
    std::vector<std::vector<float>> source;
    AUAudioUnitStatus status = 0;
    bool redirects = false;
    int calls = 0;
    NSInteger bus = -1;
    std::vector<AudioBuffer> pulled; // as handed over at the last call
    AudioUnitRenderActionFlags* flags = nullptr;
    const AudioTimeStamp* timestamp = nullptr;
    AURenderPullInputBlock block;

    Upstream(int frames, unsigned seed = 1, AUAudioUnitStatus fails = 0, bool redirecting = false)
        : source{testSignal(frames, seed), testSignal(frames, seed + 1)}, status(fails),
          redirects(redirecting) {
        pulled.reserve(kAudioBufferListCapacity); // recording allocates nothing while rendering
        block = [this](AudioUnitRenderActionFlags* f, const AudioTimeStamp* t, AUAudioFrameCount frames,
                       NSInteger busNumber, AudioBufferList* list) -> AUAudioUnitStatus {
            ++calls, flags = f, timestamp = t, bus = busNumber;
            pulled.assign(list->mBuffers.begin(), list->mBuffers.begin() + list->mNumberBuffers);
            for (std::uint32_t i = 0; i < list->mNumberBuffers; ++i)
                if (redirects)
                    list->mBuffers[i].mData = source[i].data();
                else if (status == 0 && list->mBuffers[i].mData && i < source.size())
                    std::copy_n(source[i].begin(), frames, list->mBuffers[i].mData);
            return status;
        };
    }
};

TEST(DSPBridge, ParametersReachTheirOwnSlotsByExactIdentifier) {
    DSPBridge bridge;
    EXPECT_FALSE(bridge.isPrepared());
    for (const auto& p : allParameters()) {
        EXPECT_EQ(bridge.getParameter(p.identifier), p.defaultValue) << p.identifier;
        bridge.setParameter(p.identifier, 250.0f + float(p.address)); // stored unclamped
    }
    for (const char* stranger : {"Trim", "TRIM", "drymode", "DryMode", "trim ", "", "volumes"}) {
        bridge.setParameter(stranger, 77.0f);
        EXPECT_EQ(bridge.getParameter(stranger), 0.0f) << stranger;
    }
    for (const auto& p : allParameters())
        EXPECT_TRUE(bridge.getParameter(p.identifier) == 250.0f + float(p.address) &&
                    bridge.kernel().params[p.address].load() == 250.0f + float(p.address))
            << p.identifier;
}

// The host-facing paths agree with the kernel driven directly, bit for bit, across blocks of varying
// size and a parameter change between blocks, and allocate nothing.
TEST(DSPBridge, RenderPathsEqualTheKernelDrivenDirectly) {
    DSPBridge pulled, inPlace, unpulled;
    ThraskVellDSPKernel direct;
    for (DSPBridge* b : {&pulled, &inPlace, &unpulled})
        ASSERT_TRUE(b->prepare(512, 48000.0, 2));
    ASSERT_TRUE(direct.prepare(48000.0, 512, 2));
    auto pulledBlock = pulled.internalRenderBlock(), unpulledBlock = unpulled.internalRenderBlock();
    for (int n : {512, 1, 100, 511, 37, 512, 64}) {
        if (n == 511) {
            for (DSPBridge* bridge : {&pulled, &inPlace, &unpulled})
                bridge->setParameter("sustain", 90.0f);
            direct.params[kSustain].store(90.0f);
        }
        Upstream upstream(n, 3u + unsigned(n));
        const auto& chunk = upstream.source;
        ChannelBuffers viaPull(2, n, kSentinel), viaList(2, n), viaBlockInPlace(2, n);
        viaList.data = viaBlockInPlace.data = chunk;
        const test::AllocationScope scope;
        ASSERT_EQ(pulledBlock(nullptr, nullptr, n, 0, &viaPull.list, nullptr, &upstream.block), 0);
        inPlace.processBufferList(&viaList.list, n);
        ASSERT_EQ(unpulledBlock(nullptr, nullptr, n, 0, &viaBlockInPlace.list, nullptr, nullptr), 0);
        EXPECT_EQ(scope.allocations(), 0u);

        std::vector<std::vector<float>> expected(2, std::vector<float>(n));
        const float* in[2] = {chunk[0].data(), chunk[1].data()};
        float* out[2] = {expected[0].data(), expected[1].data()};
        direct.processBlock(in, out, 2, n);
        EXPECT_TRUE(viaPull.data == expected && viaList.data == expected && viaBlockInPlace.data == expected)
            << n;
        EXPECT_NE(expected, chunk); // the effect did something
    }
}

// Each row calls a render block handed out before preparing twice: what is pulled and returned, which
// outputs change, and that nothing allocates, with every switch off (even rows) and on (odd rows).
TEST(DSPBridge, RenderBlockPullsProcessesAndRefusesAsDesigned) {
    enum Pull { None, Ok, Fails, Empty, Redirects };
    // clang-format off
    const struct {
        int maxFrames, channels, outputs, frames; // maxFrames -1: never prepared
        Pull pull;
        AUAudioUnitStatus status;
        int pulledBuffers, processed; // output buffers that change
    } rows[] = {
        {256, 2, 1, 256, Ok, 0, 1, 1}, {256, 2, 2, 256, Ok, 0, 2, 2}, {256, 2, 3, 256, Ok, 0, 2, 2},
        {256, 2, 2, 256, None, 0, 0, 2}, {256, 2, 2, 256, Empty, 0, 0, 2}, {256, 1, 1, 256, Redirects, 0, 1, 1},
        {256, 2, 2, 256, Fails, -10863, 2, 0}, {256, 2, 2, 257, Ok, kTooMany, 0, 0},
        {256, 2, 2, 257, None, kTooMany, 0, 0}, {256, 1, 2, 256, Ok, 0, 2, 1},
        {256, 1, 2, 256, None, 0, 0, 1}, {256, 2, 0, 256, None, 0, 0, 0}, {-1, 0, 2, 4096, Ok, 0, 2, 0},
        {-1, 0, 2, 4096, None, 0, 0, 0}, {0, 0, 2, 0, Ok, 0, 2, 0}, {0, 0, 2, 1, None, kTooMany, 0, 0}};
    // clang-format on
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &r - rows);
        DSPBridge bridge;
        auto block = bridge.internalRenderBlock();
        ASSERT_TRUE(r.maxFrames < 0 || bridge.prepare(r.maxFrames, 44100.0, r.channels));
        const AudioBufferList own = bridge.inputBufferList(); // null buffers until prepared
        Upstream upstream(r.frames, 1, r.pull == Fails ? -10863 : 0, r.pull == Redirects);
        if (r.frames > 7) upstream.source[1][7] = std::numeric_limits<float>::quiet_NaN();
        const AURenderPullInputBlock empty;
        const AURenderPullInputBlock* pulls[] = {nullptr, &upstream.block, &upstream.block, &empty,
                                                 &upstream.block};
        ChannelBuffers out(r.outputs, r.frames, kSentinel);
        AudioUnitRenderActionFlags flags = 0;
        AudioTimeStamp timestamp{};
        const test::AllocationScope scope;
        for (const char* id : {"gate", "dryMode", "bassBoost", "asymmetry", "dynamicsEnable"})
            bridge.setParameter(id, (&r - rows) % 2 ? 100.0f : 0.0f);
        for (int call = 0; call < 2; ++call)
            EXPECT_EQ(block(&flags, &timestamp, r.frames, 3, &out.list, nullptr, pulls[r.pull]), r.status);
        EXPECT_EQ(scope.allocations(), 0u);
        EXPECT_EQ(upstream.calls, r.pulledBuffers > 0 ? 2 : 0);
        ASSERT_EQ(upstream.pulled.size(), std::size_t(r.pulledBuffers));
        for (int i = 0; i < r.pulledBuffers; ++i)
            EXPECT_TRUE(upstream.pulled[i].mDataByteSize == 4u * r.frames &&
                        upstream.pulled[i].mData == own.mBuffers[i].mData);
        EXPECT_TRUE(r.pulledBuffers == 0 ||
                    (upstream.bus == 0 && upstream.flags == &flags && upstream.timestamp == &timestamp));
        for (int i = 0; i < r.outputs; ++i)
            EXPECT_EQ(out.data[i] != std::vector<float>(r.frames, kSentinel), i < r.processed)
                << "output " << i;
        EXPECT_EQ(upstream.source[0], testSignal(r.frames, 1)); // only read
    }
}

// Re-preparing replaces the input store the earlier render block pulls into; a refused prepare changes
// nothing. Null lists are skipped; in-place processing works on the caller's buffers at any length.
TEST(DSPBridge, PrepareReplacesTheInputStoreOrChangesNothing) {
    DSPBridge bridge;
    auto block = bridge.internalRenderBlock();
    ASSERT_TRUE(bridge.prepare(1024, 44100.0, 1) && bridge.prepare(300, 44100.0, 1));
    const AudioBufferList before = bridge.inputBufferList();
    const int most = std::numeric_limits<int>::max(), least = std::numeric_limits<int>::min();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const std::tuple<int, double, int> refused[] = {
        // maxFrames, rate, channels; 4·maxFrames must fit 32 bits
        {-1, 44100.0, 2},   {512, 44100.0, -1}, {least, 44100.0, 1}, {1 << 30, 44100.0, 2},
        {most, 44100.0, 2}, {512, 0.0, 2},      {512, nan, 2}};
    for (auto [maxFrames, rate, channels] : refused) {
        EXPECT_FALSE(bridge.prepare(maxFrames, rate, channels)) << maxFrames << " " << channels;
        EXPECT_TRUE(bridge.maxFrames() == 300 && bridge.kernel().channelStates.size() == 1u &&
                    bridge.kernel().sampleRate == 44100.0f);
        for (int i = 0; i < 2; ++i)
            EXPECT_TRUE(bridge.inputBufferList().mBuffers[i].mData == before.mBuffers[i].mData &&
                        bridge.inputBufferList().mBuffers[i].mDataByteSize == 1200u);
    }
    Upstream upstream(300);
    ChannelBuffers out(2, 300), longer(2, 1200, kSentinel);
    ASSERT_EQ(block(nullptr, nullptr, 300, 0, &out.list, nullptr, &upstream.block), 0);
    EXPECT_TRUE(upstream.pulled[0].mData == before.mBuffers[0].mData &&
                upstream.pulled[1].mData == before.mBuffers[1].mData);
    EXPECT_EQ(block(nullptr, nullptr, 301, 0, &out.list, nullptr, nullptr), kTooMany);
    EXPECT_EQ(block(nullptr, nullptr, 300, 0, nullptr, nullptr, nullptr), 0);
    bridge.processBufferList(nullptr, 300);
    bridge.processBufferList(&longer.list, 1200);
    EXPECT_NE(longer.data[0].back(), kSentinel);
}

} // namespace
} // namespace thraskvell
