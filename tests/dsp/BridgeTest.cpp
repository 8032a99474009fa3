#include "dsp/DSPBridge.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string_view>
#include <tuple>
#include <vector>

namespace thraskvell {
namespace {

constexpr float kSentinel = 0.123f;
constexpr AUAudioUnitStatus kTooMany = kAudioUnitErr_TooManyFramesToProcess;

// Hosts store addresses and identifiers with sessions and automation: this table must never change.
// Lookups are exact; the bridge starts every slot at its default and stores what it is given, unclamped.
TEST(ParameterSpec, GoldenTable) {
    // clang-format off
    const std::tuple<ParameterAddress, std::string_view, std::string_view, float> golden[] = {
        {kTrim, "trim", "Trim", 50}, {kGate, "gate", "Gate", 0}, {kVolume, "volume", "Volume", 50},
        {kTone, "tone", "Tone", 50}, {kSustain, "sustain", "Sustain", 50}, {kBlend, "blend", "Blend", 50},
        {kDryMode, "dryMode", "Drymode", 0}, {kBassBoost, "bassBoost", "Bassboost", 0},
        {kAsymmetry, "asymmetry", "Asymmetry", 0}, {kDynamicsEnable, "dynamicsEnable", "Dynamicsenable", 0},
        {kThreshold, "threshold", "Threshold", 50}, {kRatio, "ratio", "Ratio", 50}};
    // clang-format on
    DSPBridge bridge;
    for (const char* stranger : {"Trim", "TRIM", "drymode", "DryMode", "trim ", "", "volumes"}) {
        bridge.setParameter(stranger, 77.0f);
        EXPECT_TRUE(!findParameter(std::string_view(stranger)) && !defaultValue(stranger) &&
                    bridge.getParameter(stranger) == 0.0f)
            << stranger;
    }
    EXPECT_EQ(findParameter(std::uint64_t{12}), nullptr);
    ASSERT_EQ(allParameters().size(), std::size(golden));
    for (std::size_t i = 0; i < std::size(golden); ++i) {
        const ParameterSpec& p = allParameters()[i];
        const auto [address, identifier, name, value] = golden[i];
        EXPECT_TRUE(p.identifier == identifier && p.address == i && address == i) << i;
        EXPECT_TRUE(p.name == name && wordCapitalised(p.identifier) == name);
        EXPECT_TRUE(p.defaultValue == value && defaultValue(identifier) == value &&
                    bridge.getParameter(identifier) == value);
        EXPECT_TRUE(p.minValue == 0.0f && p.maxValue == 100.0f && p.units == 0u && p.flags == 0xC0000000u);
        EXPECT_FALSE(p.unitName || p.valueStrings || p.dependentParameters);
        EXPECT_TRUE(findParameter(identifier) == &p && findParameter(p.address) == &p);
        bridge.setParameter(identifier, 250.0f + float(i)); // into its own slot, unclamped
        EXPECT_TRUE(bridge.getParameter(identifier) == 250.0f + float(i) &&
                    bridge.kernel().params[i].load() == 250.0f + float(i));
    }
    EXPECT_EQ(wordCapitalised("dry mode"), "Dry Mode");
}

// Noise, different per seed.
std::vector<float> testSignal(int frames, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<float> signal(frames);
    for (float& v : signal)
        v = std::uniform_real_distribution(-0.6f, 0.6f)(rng);
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
    AudioBufferList pulled; // as handed over at the last call
    AudioUnitRenderActionFlags* flags = nullptr;
    const AudioTimeStamp* timestamp = nullptr;
    AURenderPullInputBlock block = [this](AudioUnitRenderActionFlags* f, const AudioTimeStamp* t,
                                          AUAudioFrameCount frames, NSInteger busNumber,
                                          AudioBufferList* list) -> AUAudioUnitStatus {
        ++calls, flags = f, timestamp = t, bus = busNumber, pulled = *list;
        for (std::uint32_t i = 0; i < list->mNumberBuffers; ++i)
            if (redirects)
                list->mBuffers[i].mData = source[i].data();
            else if (status == 0 && list->mBuffers[i].mData && i < source.size())
                std::copy_n(source[i].begin(), frames, list->mBuffers[i].mData);
        return status;
    };

    explicit Upstream(int frames) : source{testSignal(frames, 1), testSignal(frames, 2)} {}
};

// Each row calls a render block handed out before (re-)preparing, or processBufferList, twice: what is pulled
// and returned, and that the outputs are what the kernel driven directly gives and nothing allocates, with
// every switch off (even rows) and on (odd rows). A refused prepare first changes nothing.
TEST(DSPBridge, RenderPathsPullProcessAndRefuseAsTheKernelDrivenDirectly) {
    enum Pull { None, Ok, Fails, Empty, Redirects, List };
    const int most = std::numeric_limits<int>::max(), least = std::numeric_limits<int>::min();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    // clang-format off
    const std::tuple<int, double, int> refused[] = { // maxFrames, rate, channels; 4·maxFrames must fit 32 bits
        {-1, 44100.0, 2}, {512, 44100.0, -1}, {least, 44100.0, 1}, {1 << 30, 44100.0, 2}, {most, 44100.0, 2},
        {512, 0.0, 2}, {512, nan, 2}};
    const struct {
        int maxFrames, channels, outputs, frames; // maxFrames -1: never prepared
        Pull pull;
        AUAudioUnitStatus status;
        int pulledBuffers, processed; // output buffers the kernel processes
    } rows[] = {
        {256, 2, 1, 256, Ok, 0, 1, 1}, {256, 2, 2, 256, Ok, 0, 2, 2}, {256, 2, 3, 256, Ok, 0, 2, 2},
        {256, 2, 2, 256, None, 0, 0, 2}, {256, 2, 2, 256, Empty, 0, 0, 2}, {256, 1, 1, 256, Redirects, 0, 1, 1},
        {256, 2, 2, 256, Fails, -10863, 2, 0}, {256, 2, 2, 257, Ok, kTooMany, 0, 0},
        {256, 2, 2, 257, None, kTooMany, 0, 0}, {256, 1, 2, 256, Ok, 0, 2, 1},
        {256, 1, 2, 256, None, 0, 0, 1}, {256, 2, 0, 256, None, 0, 0, 0}, {-1, 0, 2, 4096, Ok, 0, 2, 0},
        {-1, 0, 2, 4096, None, 0, 0, 0}, {0, 0, 2, 0, Ok, 0, 2, 0}, {0, 0, 2, 1, None, kTooMany, 0, 0},
        {256, 2, 3, 1000, List, 0, 0, 2}, {256, 2, 2, 37, List, 0, 0, 2}};
    // clang-format on
    for (const auto& r : rows) {
        SCOPED_TRACE(testing::Message() << "row " << &r - rows);
        const float on = (&r - rows) % 2 ? 100.0f : 0.0f;
        DSPBridge bridge;
        ThraskVellDSPKernel direct;
        auto block = bridge.internalRenderBlock();
        ASSERT_TRUE(r.maxFrames < 0 ||
                    (bridge.prepare(1024, 48000.0, 2) && bridge.prepare(r.maxFrames, 44100.0, r.channels) &&
                     direct.prepare(44100.0, r.maxFrames, r.channels)));
        const AudioBufferList own = bridge.inputBufferList(); // null buffers until prepared
        const auto [badFrames, badRate, badChannels] = refused[(&r - rows) % std::size(refused)];
        EXPECT_FALSE(bridge.prepare(badFrames, badRate, badChannels));
        Upstream upstream(r.frames);
        upstream.status = r.pull == Fails ? -10863 : 0, upstream.redirects = r.pull == Redirects;
        if (r.frames > 7) upstream.source[1][7] = std::numeric_limits<float>::quiet_NaN();
        const AURenderPullInputBlock empty;
        const AURenderPullInputBlock* pulls[] = {nullptr, &upstream.block, &upstream.block,
                                                 &empty,  &upstream.block, nullptr};
        ChannelBuffers out(r.outputs, r.frames, kSentinel);
        std::vector<std::vector<float>> expected = out.data;
        AudioUnitRenderActionFlags flags = 0;
        AudioTimeStamp timestamp{};
        const test::AllocationScope scope;
        for (auto p : {kGate, kDryMode, kBassBoost, kAsymmetry, kDynamicsEnable})
            bridge.setParameter(allParameters()[p].identifier, on), direct.params[p].store(on);
        for (int call = 0; call < 2; ++call)
            EXPECT_EQ(r.pull == List
                          ? (bridge.processBufferList(&out.list, r.frames), 0)
                          : block(&flags, &timestamp, r.frames, 3, &out.list, nullptr, pulls[r.pull]),
                      r.status);
        EXPECT_EQ(scope.allocations(), 0u);
        EXPECT_EQ(upstream.calls, r.pulledBuffers > 0 ? 2 : 0);
        ASSERT_EQ(upstream.pulled.mNumberBuffers, std::uint32_t(r.pulledBuffers));
        for (int i = 0; i < r.pulledBuffers; ++i)
            EXPECT_TRUE(upstream.pulled.mBuffers[i].mDataByteSize == 4u * r.frames &&
                        upstream.pulled.mBuffers[i].mData == own.mBuffers[i].mData);
        EXPECT_TRUE(r.pulledBuffers == 0 ||
                    (upstream.bus == 0 && upstream.flags == &flags && upstream.timestamp == &timestamp));
        const float* in[2] = {};
        float* o[2] = {};
        for (int i = 0; i < r.processed; ++i)
            o[i] = expected[i].data(),
            in[i] = r.pull == Ok || r.pull == Redirects ? upstream.source[i].data() : o[i];
        for (int call = 0; call < 2 && r.processed > 0; ++call)
            direct.processBlock(in, o, r.processed, r.frames);
        EXPECT_TRUE(out.data == expected);
        EXPECT_EQ(upstream.source[0], testSignal(r.frames, 1)); // only read
    }
    DSPBridge bridge; // null lists are skipped
    ASSERT_TRUE(bridge.prepare(256, 44100.0, 2));
    EXPECT_EQ(bridge.internalRenderBlock()(nullptr, nullptr, 256, 0, nullptr, nullptr, nullptr), 0);
    bridge.processBufferList(nullptr, 256);
}

} // namespace
} // namespace thraskvell
