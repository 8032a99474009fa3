#include "dsp/ThraskVellDSPKernel.h"
#include "tests/dsp/KernelReference.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <vector>

namespace thraskvell {
namespace {

using test::referenceProcessBlock;

constexpr double kRate = 48000.0;

std::vector<float> sine(int frames, double frequency, double amplitude, double rate = kRate) {
    std::vector<float> v(static_cast<std::size_t>(frames));
    for (int i = 0; i < frames; ++i)
        v[static_cast<std::size_t>(i)] =
            static_cast<float>(amplitude * std::sin(6.283185307179586 * frequency * i / rate));
    return v;
}

// Runs one channel-set of buffers through the kernel in blocks of blockSize.
void render(ThraskVellDSPKernel& kernel, std::vector<std::vector<float>>& in,
            std::vector<std::vector<float>>& out, int blockSize, bool reference = false) {
    const int channels = static_cast<int>(in.size());
    const int frames = static_cast<int>(in[0].size());
    std::vector<const float*> ip(in.size());
    std::vector<float*> op(in.size());
    for (int start = 0; start < frames; start += blockSize) {
        const int n = std::min(blockSize, frames - start);
        for (int c = 0; c < channels; ++c) {
            ip[static_cast<std::size_t>(c)] = in[static_cast<std::size_t>(c)].data() + start;
            op[static_cast<std::size_t>(c)] = out[static_cast<std::size_t>(c)].data() + start;
        }
        if (reference)
            referenceProcessBlock(kernel, ip.data(), op.data(), channels, n);
        else
            kernel.processBlock(ip.data(), op.data(), channels, n);
    }
}

std::vector<float> renderMono(ThraskVellDSPKernel& kernel, const std::vector<float>& input,
                              int blockSize = 256) {
    std::vector<std::vector<float>> in{input};
    std::vector<std::vector<float>> out{std::vector<float>(input.size())};
    render(kernel, in, out, blockSize);
    return out[0];
}

bool sameBits(const std::vector<ChannelState>& a, const std::vector<ChannelState>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(ChannelState)) == 0;
}

bool sameBits(const std::vector<float>& a, const std::vector<float>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(float)) == 0;
}

float rms(const std::vector<float>& v, std::size_t from = 0) {
    double sum = 0.0;
    for (std::size_t i = from; i < v.size(); ++i)
        sum += double(v[i]) * v[i];
    return static_cast<float>(std::sqrt(sum / double(v.size() - from)));
}

// ---------------------------------------------------------------------------------------------
// Optimised kernel against the literal chain, bit for bit.

TEST(KernelBitIdentity, MatchesLiteralChainOnRandomisedSettings) {
    std::mt19937 rng(20261206);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const double rates[] = {22050.0, 32000.0, 44100.0, 48000.0, 88200.0, 96000.0, 176400.0, 192000.0};
    for (int trial = 0; trial < 48; ++trial) {
        SCOPED_TRACE(trial);
        ThraskVellDSPKernel fast;
        ThraskVellDSPKernel literal;
        const double rate = trial % 3 == 2 ? 22050.0 + unit(rng) * 169950.0 : rates[trial % 8];
        const int channels = 1 + trial % 5;
        auto randomise = [&] {
            for (std::size_t p = 0; p < kParameterCount; ++p) {
                // Now and then a value outside the published range: the kernel does not clamp.
                float v = unit(rng) < 0.1f ? -50.0f + unit(rng) * 250.0f : unit(rng) * 100.0f;
                if (p >= kDryMode && p <= kDynamicsEnable) v = unit(rng) < 0.5f ? 0.0f : 100.0f;
                fast.params[p].store(v);
                literal.params[p].store(v);
            }
        };
        randomise();
        ASSERT_TRUE(fast.prepare(rate, 512, channels));
        ASSERT_TRUE(literal.prepare(rate, 512, channels));
        if (trial % 6 == 0) { // memories no chain run leaves behind: the ordinary first frame
            for (auto* k : {&fast, &literal}) {
                k->channelStates[0].upsampleLowpass1.x1 = 0.3f;
                k->channelStates[0].upsampleLowpass1.x2 = -0.2f;
            }
        }

        const int frames = 3000;
        std::vector<std::vector<float>> in(static_cast<std::size_t>(channels));
        std::normal_distribution<float> noise(0.0f, 0.05f);
        for (int c = 0; c < channels; ++c) {
            in[static_cast<std::size_t>(c)] =
                sine(frames, 40.0 + 30.0 * c + trial, 0.05 + 0.3 * unit(rng), rate);
            for (int i = 0; i < frames; ++i) {
                float& s = in[static_cast<std::size_t>(c)][static_cast<std::size_t>(i)];
                s += noise(rng);
                if (i > 2000 && c == 1) s = 0.0f; // a silent stretch for the gate
                if (i % 997 == 0) s *= 8.0f;      // an occasional spike
            }
        }
        std::vector<std::vector<float>> outFast(in.size(), std::vector<float>(frames, -7.0f));
        std::vector<std::vector<float>> outLiteral = outFast;
        int start = 0;
        while (start < frames) {
            const int n = std::min(frames - start, 1 + static_cast<int>(unit(rng) * 700.0f));
            if (unit(rng) < 0.2f) randomise(); // settings change between blocks
            std::vector<const float*> ip;
            std::vector<float*> opFast, opLiteral;
            for (int c = 0; c < channels; ++c) {
                ip.push_back(in[static_cast<std::size_t>(c)].data() + start);
                opFast.push_back(outFast[static_cast<std::size_t>(c)].data() + start);
                opLiteral.push_back(outLiteral[static_cast<std::size_t>(c)].data() + start);
            }
            if (channels > 2 && unit(rng) < 0.3f) { // a channel dropped for this block
                ip[2] = nullptr;
            }
            fast.processBlock(ip.data(), opFast.data(), channels, n);
            referenceProcessBlock(literal, ip.data(), opLiteral.data(), channels, n);
            start += n;
        }
        for (int c = 0; c < channels; ++c)
            EXPECT_TRUE(
                sameBits(outFast[static_cast<std::size_t>(c)], outLiteral[static_cast<std::size_t>(c)]))
                << "channel " << c;
        EXPECT_TRUE(sameBits(fast.channelStates, literal.channelStates));
    }
}

TEST(KernelBitIdentity, MatchesLiteralChainOnExtremeInput) {
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> specials{0.0f, -0.0f,  1e30f,  -1e30f, inf,  -inf,
                                      nan,  1e-40f, -3e38f, 25.0f,  -0.7f};
    for (float trimRaw : {50.0f, 100.0f, 400.0f, 1e9f}) {
        for (float volumeRaw : {50.0f, 1e38f}) {
            ThraskVellDSPKernel fast;
            ThraskVellDSPKernel literal;
            for (auto* k : {&fast, &literal}) {
                k->params[kTrim].store(trimRaw);
                k->params[kVolume].store(volumeRaw);
                k->params[kAsymmetry].store(100.0f);
                k->params[kDynamicsEnable].store(100.0f);
                k->params[kGate].store(60.0f);
                k->prepare(44100.0, 64, 2);
            }
            std::vector<std::vector<float>> in(2, std::vector<float>(600));
            for (std::size_t i = 0; i < 600; ++i) {
                in[0][i] = specials[i % specials.size()];
                in[1][i] = specials[(i * 7 + 3) % specials.size()] * 0.5f;
            }
            std::vector<std::vector<float>> a(2, std::vector<float>(600)), b = a;
            render(fast, in, a, 64);
            render(literal, in, b, 64, true);
            EXPECT_TRUE(sameBits(a[0], b[0]) && sameBits(a[1], b[1])) << trimRaw << " " << volumeRaw;
            EXPECT_TRUE(sameBits(fast.channelStates, literal.channelStates)) << trimRaw << " " << volumeRaw;
        }
    }
}

// ---------------------------------------------------------------------------------------------
// Derived values.

TEST(KernelParameters, DerivedValuesAtDefaults) {
    ThraskVellDSPKernel k;
    ASSERT_TRUE(k.prepare(44100.0, 512, 2));
    EXPECT_FLOAT_EQ(k.gateThresholdDb, -10.0f);
    EXPECT_FLOAT_EQ(k.trimGain, 1.0f);
    EXPECT_FLOAT_EQ(k.drive, 26.0f);
    EXPECT_FLOAT_EQ(k.toneAmount, 0.5f);
    EXPECT_FLOAT_EQ(k.blendAmount, 0.5f);
    EXPECT_FALSE(k.dryModeOn || k.bassBoostOn || k.asymmetryOn || k.dynamicsOn);
    EXPECT_FLOAT_EQ(k.compThresholdDb, -30.0f);
    EXPECT_FLOAT_EQ(k.compRatio, 10.5f);
    EXPECT_FLOAT_EQ(k.outputGain, 1.0f);
    // Single precision loses a few digits to the cancellation in 1 - e^-x.
    EXPECT_NEAR(k.attackCoeff, 1.0 - std::exp(-1.0 / 441.0), 1e-4 * k.attackCoeff);
    EXPECT_NEAR(k.releaseCoeff, 1.0 - std::exp(-1.0 / 4410.0), 1e-4 * k.releaseCoeff);
    // The pre-clip section sits at 7750 Hz: -3 dB there.
    const Biquad& pre = k.channelStates[1].preClipLowpass;
    const BiquadCoefficients c{pre.b0, pre.b1, pre.b2, pre.a1, pre.a2};
    EXPECT_NEAR(magnitudeAt(c, 7750.0, 44100.0), 0.707, 1e-3);
}

TEST(KernelParameters, RawValueMappings) {
    struct Case {
        ParameterAddress address;
        float raw;
        float ThraskVellDSPKernel::*field;
        float expected;
    };
    const Case cases[] = {
        {kTrim, 150.0f, &ThraskVellDSPKernel::trimGain, 100.0f}, // +40 dB, not clamped
        {kTrim, 0.0f, &ThraskVellDSPKernel::trimGain, 0.1f},
        {kTrim, 100.0f, &ThraskVellDSPKernel::trimGain, 10.0f},
        {kGate, 100.0f, &ThraskVellDSPKernel::gateThresholdDb, -60.0f},
        {kSustain, 100.0f, &ThraskVellDSPKernel::drive, 51.0f},
        {kThreshold, 100.0f, &ThraskVellDSPKernel::compThresholdDb, 0.0f},
        {kRatio, 100.0f, &ThraskVellDSPKernel::compRatio, 20.0f},
        {kVolume, 0.0f, &ThraskVellDSPKernel::outputGain, 0.0f},
        {kVolume, 100.0f, &ThraskVellDSPKernel::outputGain, 2.0f},
    };
    for (const Case& c : cases) {
        ThraskVellDSPKernel k;
        k.params[c.address].store(c.raw);
        k.updateDSPParameters();
        EXPECT_NEAR(k.*(c.field), c.expected, std::fabs(c.expected) * 1e-5f + 1e-5f)
            << c.address << " " << c.raw;
    }
}

TEST(KernelParameters, SwitchThresholdIsStrict) {
    const ParameterAddress switches[] = {kDryMode, kBassBoost, kAsymmetry, kDynamicsEnable};
    const bool ThraskVellDSPKernel::*flags[] = {
        &ThraskVellDSPKernel::dryModeOn, &ThraskVellDSPKernel::bassBoostOn, &ThraskVellDSPKernel::asymmetryOn,
        &ThraskVellDSPKernel::dynamicsOn};
    for (int s = 0; s < 4; ++s) {
        for (auto [raw, on] : {std::pair{0.5f, false}, std::pair{0.51f, true}, std::pair{100.0f, true},
                               std::pair{0.0f, false}}) {
            ThraskVellDSPKernel k;
            k.params[switches[s]].store(raw);
            k.updateDSPParameters();
            EXPECT_EQ(k.*(flags[s]), on) << switches[s] << " " << raw;
        }
    }
}

TEST(KernelParameters, EmptyBlockStillRefreshesSettings) {
    ThraskVellDSPKernel k;
    k.prepare(kRate, 256, 1);
    k.params[kSustain].store(0.0f);
    k.params[kVolume].store(100.0f);
    const float* in[1] = {nullptr};
    float* out[1] = {nullptr};
    k.processBlock(in, out, 1, 0);
    EXPECT_FLOAT_EQ(k.outputGain, 2.0f);
    const Biquad& pre = k.channelStates[0].preClipLowpass;
    EXPECT_NEAR(magnitudeAt({pre.b0, pre.b1, pre.b2, pre.a1, pre.a2}, 500.0, kRate), 0.707, 1e-3);
}

TEST(KernelParameters, PreClipStaysStableAtLowRates) {
    // At 22050 Hz the top of the sustain range would put the cutoff above half the rate.
    for (double rate : {8000.0, 22050.0, 30000.0}) {
        ThraskVellDSPKernel k;
        k.params[kSustain].store(100.0f);
        ASSERT_TRUE(k.prepare(rate, 256, 1));
        const Biquad& f = k.channelStates[0].preClipLowpass;
        // Poles inside the unit circle: |a2| < 1 and |a1| < 1 + a2.
        EXPECT_LT(std::fabs(f.a2), 1.0f) << rate;
        EXPECT_LT(std::fabs(f.a1), 1.0f + f.a2) << rate;
        const auto out = renderMono(k, sine(20000, 55.0, 0.5, rate));
        for (float v : out)
            ASSERT_TRUE(std::isfinite(v) && std::fabs(v) < 10.0f) << rate;
    }
    // Below the limit the cutoff is untouched.
    ThraskVellDSPKernel k;
    k.params[kSustain].store(100.0f);
    k.prepare(44100.0, 256, 1);
    const Biquad& f = k.channelStates[0].preClipLowpass;
    const BiquadCoefficients expected = designLowpass(15000.0f, 44100.0f);
    EXPECT_EQ(f.b0, expected.b0);
    EXPECT_EQ(f.a1, expected.a1);
}

// ---------------------------------------------------------------------------------------------
// Prepare and reset.

TEST(KernelPrepare, RefusesNegativeChannelCountAndBadRates) {
    ThraskVellDSPKernel k;
    ASSERT_TRUE(k.prepare(48000.0, 256, 2));
    k.channelStates[0].gateGain = 0.25f;
    for (auto [rate, channels] : {std::pair{48000.0, -1}, std::pair{0.0, 2}, std::pair{-44100.0, 2},
                                  std::pair{std::numeric_limits<double>::quiet_NaN(), 2},
                                  std::pair{std::numeric_limits<double>::infinity(), 2}}) {
        EXPECT_FALSE(k.prepare(rate, 256, channels));
        EXPECT_EQ(k.channelStates.size(), 2u);
        EXPECT_EQ(k.sampleRate, 48000.0f);
        EXPECT_EQ(k.channelStates[0].gateGain, 0.25f);
    }
    EXPECT_TRUE(k.prepare(48000.0, 256, 0));
    EXPECT_TRUE(k.channelStates.empty());
}

TEST(KernelPrepare, RePrepareKeepsMemoriesAndClearsDetectors) {
    ThraskVellDSPKernel k;
    k.params[kDynamicsEnable].store(100.0f);
    k.prepare(44100.0, 256, 2);
    std::vector<std::vector<float>> in{sine(2000, 80.0, 0.8), sine(2000, 90.0, 0.8)};
    std::vector<std::vector<float>> out(2, std::vector<float>(2000));
    render(k, in, out, 256);
    const ChannelState before = k.channelStates[0];
    ASSERT_NE(before.gainReductionDb, 0.0f);
    ASSERT_NE(before.toneLowpass.y1, 0.0f);

    k.prepare(96000.0, 256, 1);
    ASSERT_EQ(k.channelStates.size(), 1u);
    const ChannelState& after = k.channelStates[0];
    const Biquad ChannelState::*sections[] = {
        &ChannelState::upsampleLowpass1,   &ChannelState::upsampleLowpass2, &ChannelState::downsampleLowpass1,
        &ChannelState::downsampleLowpass2, &ChannelState::preClipLowpass,   &ChannelState::toneLowpass,
        &ChannelState::toneHighpass,       &ChannelState::bassShelf};
    for (auto s : sections) {
        EXPECT_EQ((after.*s).x1, (before.*s).x1);
        EXPECT_EQ((after.*s).x2, (before.*s).x2);
        EXPECT_EQ((after.*s).y1, (before.*s).y1);
        EXPECT_EQ((after.*s).y2, (before.*s).y2);
    }
    EXPECT_NE(after.toneLowpass.b0, before.toneLowpass.b0); // new rate, new coefficients
    EXPECT_EQ(after.gateEnvelopeDb, -100.0f);
    EXPECT_EQ(after.gateGain, 1.0f);
    EXPECT_EQ(after.dcLastInput, 0.0f);
    EXPECT_EQ(after.dcLastOutput, 0.0f);
    EXPECT_EQ(after.gainReductionDb, 0.0f);

    k.prepare(96000.0, 256, 2); // the second record comes back fresh
    EXPECT_EQ(k.channelStates[1].toneLowpass.y1, 0.0f);
    EXPECT_EQ(k.channelStates[1].toneLowpass.b0, after.toneLowpass.b0);
}

// ---------------------------------------------------------------------------------------------
// Block-level behaviour.

TEST(KernelBlock, ZerosInGiveExactZerosOut) {
    for (bool allOn : {false, true}) {
        ThraskVellDSPKernel k;
        if (allOn)
            for (auto p : {kDryMode, kBassBoost, kAsymmetry, kDynamicsEnable, kGate})
                k.params[p].store(100.0f);
        k.prepare(kRate, 256, 2);
        std::vector<std::vector<float>> in(2, std::vector<float>(5000, 0.0f));
        std::vector<std::vector<float>> out(2, std::vector<float>(5000, 1.0f));
        render(k, in, out, 256);
        for (const auto& ch : out)
            for (float v : ch)
                ASSERT_EQ(v, 0.0f);
    }
}

TEST(KernelBlock, BlendZeroPassesInputExactly) {
    ThraskVellDSPKernel k;
    k.params[kBlend].store(0.0f);
    k.prepare(kRate, 256, 1);
    auto input = sine(4000, 73.0, 0.9);
    input[17] = 1e-30f;
    const auto out = renderMono(k, input);
    EXPECT_TRUE(sameBits(out, input));
    EXPECT_NE(k.channelStates[0].downsampleLowpass2.y1, 0.0f); // the fuzz path still ran
}

TEST(KernelBlock, InPlaceEqualsSeparateBuffers) {
    ThraskVellDSPKernel a, b;
    for (auto* k : {&a, &b}) {
        k->params[kAsymmetry].store(100.0f);
        k->params[kDynamicsEnable].store(100.0f);
        k->prepare(kRate, 256, 2);
    }
    std::vector<std::vector<float>> in{sine(3000, 55.0, 0.6), sine(3000, 82.0, 0.4)};
    std::vector<std::vector<float>> separate(2, std::vector<float>(3000));
    render(a, in, separate, 200);
    render(b, in, in, 200);
    EXPECT_TRUE(sameBits(in[0], separate[0]) && sameBits(in[1], separate[1]));
}

TEST(KernelBlock, OutputIndependentOfBlockSize) {
    const auto input = sine(5000, 61.0, 0.7);
    ThraskVellDSPKernel reference;
    reference.prepare(kRate, 4096, 1);
    const auto whole = renderMono(reference, input, 5000);
    for (int block : {1, 3, 64, 255, 1024}) {
        ThraskVellDSPKernel k;
        k.prepare(kRate, 4096, 1);
        EXPECT_TRUE(sameBits(renderMono(k, input, block), whole)) << block;
    }
}

TEST(KernelBlock, SkippedChannelsAreUntouched) {
    ThraskVellDSPKernel k;
    k.prepare(kRate, 256, 1);
    std::vector<float> in0 = sine(256, 55.0, 0.5), in1 = sine(256, 65.0, 0.5);
    std::vector<float> out0(256, 3.0f), out1(256, 3.0f);
    // Channel 1 has no record: its output keeps what it held.
    const float* ip[2] = {in0.data(), in1.data()};
    float* op[2] = {out0.data(), out1.data()};
    k.processBlock(ip, op, 2, 256);
    for (float v : out1)
        ASSERT_EQ(v, 3.0f);
    // In place, the channel without a record passes through unprocessed.
    std::vector<float> inPlace = in1;
    const float* ip2[2] = {in0.data(), inPlace.data()};
    float* op2[2] = {out0.data(), inPlace.data()};
    k.processBlock(ip2, op2, 2, 256);
    EXPECT_TRUE(sameBits(inPlace, in1));
    // Null pointers skip the channel and leave its state alone.
    const ChannelState before = k.channelStates[0];
    std::vector<float> out(256, 5.0f);
    const float* nullIn[1] = {nullptr};
    float* someOut[1] = {out.data()};
    k.processBlock(nullIn, someOut, 1, 256);
    for (float v : out)
        ASSERT_EQ(v, 5.0f);
    const float* someIn[1] = {in0.data()};
    float* nullOut[1] = {nullptr};
    k.processBlock(someIn, nullOut, 1, 256);
    EXPECT_EQ(std::memcmp(&before, &k.channelStates[0], sizeof(ChannelState)), 0);
    // Missing pointer arrays: nothing to process.
    k.processBlock(nullptr, nullptr, 2, 256);
    EXPECT_EQ(std::memcmp(&before, &k.channelStates[0], sizeof(ChannelState)), 0);
    // An unprepared kernel processes nothing.
    ThraskVellDSPKernel fresh;
    fresh.processBlock(ip, op, 2, 256);
    for (float v : out1)
        ASSERT_EQ(v, 3.0f);
}

TEST(KernelBlock, DryModeIgnoresBlend) {
    std::vector<float> outputs[2];
    int idx = 0;
    for (float blend : {0.0f, 100.0f}) {
        ThraskVellDSPKernel k;
        k.params[kDryMode].store(100.0f);
        k.params[kBlend].store(blend);
        k.prepare(kRate, 256, 1);
        outputs[idx++] = renderMono(k, sine(3000, 55.0, 0.5));
    }
    EXPECT_TRUE(sameBits(outputs[0], outputs[1]));
    // Dry mode adds 0.3 times the wet signal to the dry one: wet-only output at blend 100 recovers it.
    ThraskVellDSPKernel wet;
    wet.params[kBlend].store(100.0f);
    wet.prepare(kRate, 256, 1);
    const auto input = sine(3000, 55.0, 0.5);
    const auto w = renderMono(wet, input);
    for (std::size_t i = 0; i < input.size(); i += 37)
        EXPECT_NEAR(outputs[0][i], input[i] + 0.3f * w[i], 1e-5f);
}

TEST(KernelBlock, VolumeZeroIsSilent) {
    ThraskVellDSPKernel k;
    k.params[kVolume].store(0.0f);
    k.params[kTrim].store(100.0f);
    k.params[kAsymmetry].store(100.0f);
    k.prepare(kRate, 256, 1);
    for (float v : renderMono(k, sine(3000, 55.0, 1.0)))
        ASSERT_EQ(v, 0.0f);
}

TEST(KernelBlock, ToneNotchAndExtremes) {
    // At tone 50 the low-pass and high-pass halves cancel at 1 kHz and pass about half far from it.
    struct Case {
        float tone;
        double frequency;
        float low, high; // expected band of output/input level of the wet path
    };
    const Case cases[] = {{50.0f, 1000.0, 0.0f, 0.02f},    {50.0f, 10000.0, 0.4f, 0.6f},
                          {0.0f, 100.0, 0.95f, 1.05f},     {0.0f, 10000.0, 0.0f, 0.03f},
                          {100.0f, 10000.0, 0.95f, 1.05f}, {100.0f, 100.0, 0.0f, 0.03f}};
    for (const Case& c : cases) {
        ThraskVellDSPKernel k;
        k.prepare(kRate, 256, 1);
        k.params[kTone].store(c.tone);
        k.updateDSPParameters();
        // Drive the tone sections directly: the chain's tone stage is these two sections weighted.
        ChannelState& s = k.channelStates[0];
        const auto input = sine(20000, c.frequency, 0.5);
        std::vector<float> out(input.size());
        for (std::size_t i = 0; i < input.size(); ++i) {
            Biquad* f[2] = {&s.toneLowpass, &s.toneHighpass};
            float r[2];
            for (int j = 0; j < 2; ++j) {
                Biquad& b = *f[j];
                const float y = b.b0 * input[i] + b.b1 * b.x1 + b.b2 * b.x2 - b.a1 * b.y1 - b.a2 * b.y2;
                b.x2 = b.x1;
                b.x1 = input[i];
                b.y2 = b.y1;
                b.y1 = y;
                r[j] = y;
            }
            out[i] = r[0] * (1.0f - k.toneAmount) + r[1] * k.toneAmount;
        }
        const float ratio = rms(out, 10000) / rms(input, 10000);
        EXPECT_GE(ratio, c.low) << c.tone << " " << c.frequency;
        EXPECT_LE(ratio, c.high) << c.tone << " " << c.frequency;
    }
}

// ---------------------------------------------------------------------------------------------
// Gate and compressor.

TEST(KernelGate, ClosesOnSilenceAndReopens) {
    ThraskVellDSPKernel k;
    k.params[kGate].store(50.0f); // threshold -35 dB
    k.prepare(kRate, 256, 1);
    std::vector<float> silence(1380, 0.0f);
    const float* ip[1] = {silence.data()};
    std::vector<float> out(1380);
    float* op[1] = {out.data()};
    k.processBlock(ip, op, 1, 1);
    // The detector starts at -100 dB, below the threshold, so the gate closes from the first sample.
    EXPECT_FLOAT_EQ(k.channelStates[0].gateGain, 0.995f);
    k.processBlock(ip, op, 1, 1379);
    EXPECT_LT(k.channelStates[0].gateGain, 0.001f);
    EXPECT_GT(k.channelStates[0].gateGain, 0.0009f);
    // Loud signal: the gain climbs back with the same coefficient: 1 - 0.995^n.
    auto loud = sine(2000, 110.0, 0.5);
    ip[0] = loud.data();
    std::vector<float> out2(2000);
    op[0] = out2.data();
    k.processBlock(ip, op, 1, 2000);
    EXPECT_NEAR(k.channelStates[0].gateGain, 1.0f - std::pow(0.995f, 2000.0f), 1e-3f);
    // A gate of 0.01 or less never acts.
    ThraskVellDSPKernel open;
    open.params[kGate].store(0.01f);
    open.prepare(kRate, 256, 1);
    renderMono(open, std::vector<float>(3000, 0.0f));
    EXPECT_FLOAT_EQ(open.channelStates[0].gateGain, 1.0f);
}

TEST(KernelGate, SilentGateGainSettlesAtZero) {
    ThraskVellDSPKernel k;
    k.params[kGate].store(100.0f);
    k.prepare(kRate, 256, 1);
    renderMono(k, std::vector<float>(48000, 0.0f));
    EXPECT_EQ(k.channelStates[0].gateGain, 0.0f);
}

TEST(KernelCompressor, StaticCurveAndTimeConstants) {
    // Threshold -30 dB, ratio 10.5: a steady level L above threshold settles at a reduction of
    // (L + 30)(1 - 1/10.5). Measured on a square wave so every sample has the same level.
    ThraskVellDSPKernel k;
    k.params[kDynamicsEnable].store(100.0f);
    k.params[kBlend].store(0.0f); // dry signal only: the compressor sees the trimmed input
    k.prepare(44100.0, 256, 1);
    const float amplitude = 0.1f; // -20 dB
    std::vector<float> square(44100);
    for (std::size_t i = 0; i < square.size(); ++i)
        square[i] = (i / 50) % 2 ? amplitude : -amplitude;
    const auto out = renderMono(k, square);
    const float expectedDb = (20.0f * std::log10(amplitude) + 30.0f) * (1.0f - 1.0f / 10.5f);
    EXPECT_NEAR(k.channelStates[0].gainReductionDb, expectedDb, 0.01f);
    EXPECT_NEAR(std::fabs(out.back()), amplitude * std::pow(10.0f, -expectedDb / 20.0f), 1e-4f);
    // Attack: after 10 ms (441 samples) about 1 - 1/e of the target.
    ThraskVellDSPKernel a;
    a.params[kDynamicsEnable].store(100.0f);
    a.params[kBlend].store(0.0f);
    a.prepare(44100.0, 256, 1);
    renderMono(a, std::vector<float>(square.begin(), square.begin() + 441));
    EXPECT_NEAR(a.channelStates[0].gainReductionDb / expectedDb, 1.0f - std::exp(-1.0f), 0.01f);
    // Release with the compressor switched off: reduction decays by 1 - releaseCoeff per sample and
    // the output jumps straight back to the unreduced level.
    k.params[kDynamicsEnable].store(0.0f);
    const float start = k.channelStates[0].gainReductionDb;
    const auto released = renderMono(k, std::vector<float>(square.begin(), square.begin() + 4410));
    EXPECT_NEAR(k.channelStates[0].gainReductionDb / start, std::exp(-1.0f), 0.01f);
    EXPECT_FLOAT_EQ(std::fabs(released[0]), amplitude);
}

TEST(KernelCompressor, ChannelsAreIndependent) {
    ThraskVellDSPKernel k;
    k.params[kDynamicsEnable].store(100.0f);
    k.params[kGate].store(50.0f);
    k.prepare(kRate, 256, 2);
    std::vector<std::vector<float>> in{sine(4800, 110.0, 0.8), std::vector<float>(4800, 0.0f)};
    std::vector<std::vector<float>> out(2, std::vector<float>(4800));
    render(k, in, out, 256);
    EXPECT_GT(k.channelStates[0].gainReductionDb, 5.0f);
    EXPECT_GT(k.channelStates[0].gateGain, 0.9f);
    EXPECT_EQ(k.channelStates[1].gainReductionDb, 0.0f);
    EXPECT_LT(k.channelStates[1].gateGain, 0.001f);
}

// ---------------------------------------------------------------------------------------------
// Mends: non-finite and huge input.

TEST(KernelMends, NonFiniteInputEntersAsSilence) {
    const float inf = std::numeric_limits<float>::infinity();
    for (float bad : {std::numeric_limits<float>::quiet_NaN(), inf, -inf}) {
        ThraskVellDSPKernel clean, dirty;
        clean.prepare(kRate, 256, 1);
        dirty.prepare(kRate, 256, 1);
        auto input = sine(2000, 55.0, 0.5);
        auto zeroed = input;
        input[300] = bad;
        zeroed[300] = 0.0f;
        EXPECT_TRUE(sameBits(renderMono(dirty, input), renderMono(clean, zeroed))) << bad;
        EXPECT_TRUE(sameBits(dirty.channelStates, clean.channelStates));
    }
}

TEST(KernelMends, HugeInputAndSettingsNeverLeaveNonFiniteState) {
    struct Case {
        float trim, volume, sample;
    };
    const Case cases[] = {{50.0f, 50.0f, 1e30f},
                          {1e6f, 50.0f, 0.5f},
                          {50.0f, 1e38f, 0.5f},
                          {400.0f, 1e30f, 3e38f},
                          {std::numeric_limits<float>::quiet_NaN(), 50.0f, 0.5f},
                          {50.0f, -std::numeric_limits<float>::infinity(), 0.5f}};
    for (const Case& c : cases) {
        ThraskVellDSPKernel k;
        k.params[kTrim].store(c.trim);
        k.params[kVolume].store(c.volume);
        k.params[kDynamicsEnable].store(100.0f);
        k.prepare(kRate, 256, 1);
        auto input = sine(1024, 55.0, 0.5);
        input[100] = c.sample;
        for (float v : renderMono(k, input))
            ASSERT_TRUE(std::isfinite(v));
        const float* raw = reinterpret_cast<const float*>(&k.channelStates[0]);
        for (std::size_t i = 0; i < sizeof(ChannelState) / sizeof(float); ++i)
            ASSERT_TRUE(std::isfinite(raw[i]));
        // Back to sane settings, the channel plays again (a finite overload may leave a large
        // compressor reduction behind, which the 100 ms release takes well under 1.5 s to clear).
        k.params[kTrim].store(50.0f);
        k.params[kVolume].store(50.0f);
        ThraskVellDSPKernel fresh;
        fresh.params[kDynamicsEnable].store(100.0f);
        fresh.prepare(kRate, 256, 1);
        const float expected = rms(renderMono(fresh, sine(4800, 55.0, 0.5)), 2400);
        renderMono(k, sine(72000, 55.0, 0.5));
        EXPECT_NEAR(rms(renderMono(k, sine(4800, 55.0, 0.5)), 2400), expected, 0.1f * expected);
    }
}

// ---------------------------------------------------------------------------------------------
// Real time.

TEST(KernelRealTime, ProcessBlockAllocatesNothing) {
    ThraskVellDSPKernel k;
    for (auto p : {kDryMode, kBassBoost, kAsymmetry, kDynamicsEnable, kGate})
        k.params[p].store(100.0f);
    k.prepare(kRate, 512, 5);
    std::vector<std::vector<float>> in(5, sine(512, 55.0, 0.5));
    std::vector<std::vector<float>> out(5, std::vector<float>(512));
    std::vector<const float*> ip;
    std::vector<float*> op;
    for (int c = 0; c < 5; ++c) {
        ip.push_back(in[static_cast<std::size_t>(c)].data());
        op.push_back(out[static_cast<std::size_t>(c)].data());
    }
    in[1][7] = std::numeric_limits<float>::quiet_NaN();
    test::AllocationScope scope;
    for (int b = 0; b < 8; ++b)
        k.processBlock(ip.data(), op.data(), 5, 512);
    EXPECT_EQ(scope.allocations(), 0u);
}

} // namespace
} // namespace thraskvell
