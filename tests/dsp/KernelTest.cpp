#include "dsp/PortableKernel.h"
#include "dsp/ThraskVellDSPKernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <complex>
#include <cstdint>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <random>
#include <tuple>
#include <utility>
#include <vector>

namespace thraskvell {
namespace {

using Signal = std::vector<float>;
using Complex = std::complex<double>;
using Settings = std::initializer_list<std::pair<ParameterAddress, float>>;

constexpr double kPi = 3.141592653589793;
constexpr double kRates[] = {44100.0, 48000.0, 96000.0};
constexpr float kOn = 100.0f;
const float kNaN = std::numeric_limits<float>::quiet_NaN(), kInf = std::numeric_limits<float>::infinity();
// What sustain raw 0 / 50 / 100 means: the drive and the pre-clip corner.
constexpr std::tuple<float, double, double> kSustains[] = {{0, 1, 500}, {50, 26, 7750}, {100, 51, 15000}};
constexpr Biquad ChannelState::*kSections[] = {
    &ChannelState::upsampleLowpass1,   &ChannelState::upsampleLowpass2, &ChannelState::downsampleLowpass1,
    &ChannelState::downsampleLowpass2, &ChannelState::preClipLowpass,   &ChannelState::toneLowpass,
    &ChannelState::toneHighpass,       &ChannelState::bassShelf};

Signal sine(int frames, double frequency, double amplitude, double rate = 48000.0) {
    Signal v(frames);
    for (int i = 0; i < frames; ++i)
        v[i] = static_cast<float>(amplitude * std::sin(2.0 * kPi * frequency * i / rate));
    return v;
}

// Every sample at the same level, so the level detectors see a steady value.
Signal square(int frames, double db) {
    Signal v(frames);
    for (int i = 0; i < frames; ++i)
        v[i] = static_cast<float>((i / 50 % 2 ? -1.0 : 1.0) * std::pow(10.0, db / 20.0));
    return v;
}

void set(ThraskVellDSPKernel& k, Settings settings) {
    for (auto [address, raw] : settings)
        k.params[address].store(raw);
}

void prepared(ThraskVellDSPKernel& k, Settings settings, double rate = 48000.0, int channels = 1) {
    set(k, settings);
    ASSERT_TRUE(k.prepare(rate, 512, channels));
}

// Channel 0 through processBlock, in place, in one block.
Signal renderMono(ThraskVellDSPKernel& k, Signal signal) {
    float* io = signal.data();
    k.processBlock(&io, &io, 1, static_cast<int>(signal.size()));
    return signal;
}

template <class T> bool sameBits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

const auto db = [](double gain) { return 20.0 * std::log10(gain); };

// The complex gain of channel 0 for a sine of 1e-4, fitted by least squares over the last two thirds.
Complex gainOf(ThraskVellDSPKernel& k, double frequency, double rate, int frames) {
    const Signal y = renderMono(k, sine(frames, frequency, 1e-4, rate));
    double ss = 0.0, sc = 0.0, cc = 0.0, ys = 0.0, yc = 0.0, w = 2.0 * kPi * frequency / rate;
    for (int i = frames / 3; i < frames; ++i) {
        const double s = std::sin(w * i), c = std::cos(w * i);
        ss += s * s, sc += s * c, cc += c * c, ys += y[i] * s, yc += y[i] * c;
    }
    const double det = ss * cc - sc * sc;
    return Complex((ys * cc - yc * sc) / det, (yc * ss - ys * sc) / det) / 1e-4;
}

enum Shape { Lowpass, Highpass, LowShelf };

// The textbook section (RBJ cookbook): the analog prototype at the bilinear transform's warped
// frequency, from the intended corner and shelf gain, Butterworth Q (shelf slope 1).
Complex designed(Shape shape, double corner, double frequency, double rate, double gainDb = 0.0) {
    const double q = 1.0 / std::sqrt(2.0), a = std::pow(10.0, gainDb / 40.0);
    const Complex s(0.0, std::tan(kPi * frequency / rate) / std::tan(kPi * corner / rate));
    if (shape == Lowpass) return 1.0 / (s * s + s / q + 1.0);
    if (shape == Highpass) return s * s / (s * s + s / q + 1.0);
    return a * (s * s + std::sqrt(a) / q * s + a) / (a * s * s + std::sqrt(a) / q * s + 1.0);
}

struct Voicing {
    float tone, blend, dry, bass;
};

// The chain's design at small signals, where the shaper is linear: pre-clip low-pass, drive, the
// oversampled pair (stuffing zeros, then keeping every fourth sample, sums its response over the four
// images), DC blocker (pole 0.99), tone, shelf and mix.
Complex designedChain(const Voicing& v, double rate, double drive, double preClip, double f) {
    const double tone = v.tone / 100.0, blend = v.blend / 100.0;
    const Complex z1 = std::polar(1.0, -2.0 * kPi * f / rate);
    Complex oversampled = 0.0;
    for (double image : {f, f + rate, f + 2.0 * rate, f + 3.0 * rate})
        oversampled += std::pow(designed(Lowpass, 0.45 * rate, image, 4.0 * rate), 4.0);
    Complex wet =
        drive * designed(Lowpass, preClip, f, rate) * oversampled * (1.0 - z1) / (1.0 - 0.99 * z1) *
        ((1.0 - tone) * designed(Lowpass, 1000.0, f, rate) + tone * designed(Highpass, 1000.0, f, rate));
    if (v.bass > 0) wet *= designed(LowShelf, 100.0, f, rate, 6.0);
    return v.dry > 0 ? 1.0 + 0.3 * wet : 1.0 - blend + blend * wet;
}

// What prepare configures, heard through processBlock: every section at a quarter of, at and twice its
// corner where that is below the oversampling corner, at each rate, sustain and voicing.
TEST(KernelTruths, SmallSignalChainMeetsItsDesign) {
    // The sound is defined with the design angle rounded once from double precision.
    EXPECT_EQ(designAngle(1000.0f, 44100.0f), static_cast<float>(2000.0 * kPi / 44100.0));
    EXPECT_EQ(designAngle(0.45f * 48000.0f, 4.0f * 48000.0f), static_cast<float>(0.225 * kPi));
    const Voicing voicings[] = {{30, 100, 0, kOn}, {70, 40, 0, 0}, {50, 0, kOn, kOn}};
    for (double rate : kRates)
        for (auto [sustain, drive, preClip] : kSustains)
            for (const Voicing& v : voicings) {
                ThraskVellDSPKernel k;
                set(k, {{kTone, v.tone}, {kBlend, v.blend}, {kDryMode, v.dry}, {kBassBoost, v.bass}});
                prepared(k, {{kSustain, sustain}}, rate);
                const Biquad& c = k.channelStates[0].bassShelf;
                for (double f : {25.0, 100.0, 200.0, 250.0, 1000.0, 2000.0, preClip / 4.0, preClip,
                                 2.0 * preClip, 0.1125 * rate, 0.45 * rate}) {
                    if (f > 0.45 * rate) continue;
                    const Complex measured = gainOf(k, f, rate, int(rate * std::max(0.05, 6.0 / f)));
                    const Complex expected = designedChain(v, rate, drive, preClip, f);
                    // 0.1 dB, and a floor for where the wet path all but vanishes
                    EXPECT_LE(std::abs(measured - expected), 0.0116 * std::abs(expected) + 1e-3)
                        << f << " Hz, rate " << rate << ", sustain " << sustain << ", tone " << v.tone
                        << ": measured " << measured << ", designed " << expected;
                    // The response drawing helper.
                    EXPECT_NEAR(magnitudeAt({c.b0, c.b1, c.b2, c.a1, c.a2}, f, rate) /
                                    std::abs(designed(LowShelf, 100.0, f, rate, 6.0)),
                                1.0, 0.0116);
                }
            }
}

// Blend 0 plays the dry path alone; a square wave holds every detector on one level, so the output shows
// trim, gate, compressor curve and volume. Trim raw 0 / 100 / 150 is -20 / +20 / +40 dB; volume raw 0 / 100
// / 250 is silence, x2, x5; gate raw 50 / 100 closes below -35 / -60 dB before trim, 0.01 never, and its
// gain moves by 0.995 per sample. Hard knee on the trimmed signal, before the volume: threshold raw 0 / 20 /
// 50 / 100 is -60 / -48 / -30 / 0 dB, ratio raw 0 / 30 / 50 / 100 is 1 / 6.7 / 10.5 / 20.
TEST(KernelTruths, DryPathLevels) {
    constexpr double S = -1000.0; // silence
    const double x2 = db(2.0), x5 = db(5.0);
    // clang-format off
    const struct {
        double inDb, outDb;
        float trim = 50, volume = 50, gate = 0, dynamics = 0, threshold = 50, ratio = 50;
        int frames = 24000;
    } rows[] = {
        {-20, -20}, {-6, -26, 0}, {-26, -6, 100}, {-46, -6, 150}, {-20, S, 50, 0}, {-20, -20 + x2, 50, 100},
        {-20, -20 + x5, 50, 250}, {-34, -34, 50, 50, 50}, {-36, S, 50, 50, 50}, {-40, S, 100, 50, 50},
        {-59, -59, 50, 50, 100}, {-61, S, 50, 50, 100}, {-80, -80, 50, 50, 0.01f}, {-20, S, 50, 50, 0.02f},
        {-40, -40 + 1380 * db(0.995), 50, 50, 50, 0, 50, 50, 1380}, {-40, -40, 50, 50, 0, kOn},
        {-20, -30 + 10 / 10.5, 50, 50, 0, kOn}, {-20, -58, 50, 50, 0, kOn, 0, 100},
        {-6, -6, 50, 50, 0, kOn, 100, 100}, {-10, -10, 50, 50, 0, kOn, 50, 0},
        {-12, -48 + 36 / 6.7, 50, 50, 0, kOn, 20, 30}, {-40, -30 + 10 / 10.5 + x2, 100, 100, 0, kOn}};
    // clang-format on
    for (const auto& r : rows) {
        ThraskVellDSPKernel k;
        set(k, {{kBlend, 0.0f}, {kTrim, r.trim}, {kVolume, r.volume}, {kGate, r.gate}});
        prepared(k, {{kDynamicsEnable, r.dynamics}, {kThreshold, r.threshold}, {kRatio, r.ratio}});
        const float last = renderMono(k, square(r.frames, r.inDb)).back();
        EXPECT_NEAR(last == 0.0f ? S : db(std::fabs(last)), r.outDb, 0.02) << "row " << &r - rows;
    }
}

// The compressor attacks in 10 ms, releases in 100 ms at every rate, and switched off, lets go at once.
TEST(KernelTruths, CompressorTimes) {
    for (double rate : kRates) {
        ThraskVellDSPKernel k;
        prepared(k, {{kBlend, 0.0f}, {kDynamicsEnable, kOn}}, rate);
        const double target = 10.0 * (1.0 - 1.0 / 10.5); // -20 dB in, threshold -30 dB, ratio 10.5
        const auto reduction = [&](double seconds, double inDb) {
            return inDb - db(std::fabs(renderMono(k, square(std::max(1, int(seconds * rate)), inDb)).back()));
        };
        EXPECT_NEAR(reduction(0.01, -20.0) / target, 1.0 - std::exp(-1.0), 0.01) << rate;
        EXPECT_NEAR(reduction(1.0, -20.0), target, 0.01) << rate;
        EXPECT_NEAR(reduction(0.1, -40.0) / target, std::exp(-1.0), 0.01) << rate;
        reduction(1.0, -20.0);
        k.params[kDynamicsEnable].store(0.0f);
        EXPECT_NEAR(reduction(0.0, -20.0), 0.0, 1e-4) << rate;
    }
}

// The SIMD path against the portable chain, bit for bit, on randomised settings and signals.
TEST(KernelPaths, SimdMatchesPortableChainBitForBit) {
    if (!kSimdKernel) GTEST_SKIP() << "portable build: processBlock is the portable chain";
    std::mt19937 rng(20261206);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float specials[] = {0.0f, -0.0f, 1e30f, -3e38f, kInf, -kInf, kNaN, 1e-40f, 25.0f};
    for (int trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE(trial);
        ThraskVellDSPKernel simd, portable;
        simd.useAvx2 = simd.useAvx2 && trial % 2 == 0; // both builds of the SIMD path
        const double rate = trial % 2 ? 22050.0 + unit(rng) * 169950.0 : kRates[trial % 3];
        const int records = 1 + trial % 5, channels = records + (trial % 4 == 3), frames = 3000;
        const bool extreme = trial % 8 == 7, specialInput = trial % 4 == 1; // huge settings; NaN, inf, …
        auto randomise = [&] {
            for (std::size_t p = 0; p < kParameterCount; ++p) {
                // Now and then a value outside the published range: the kernel does not clamp.
                float v = unit(rng) < 0.1f ? -50.0f + unit(rng) * 250.0f : unit(rng) * 100.0f;
                if (p >= kDryMode && p <= kDynamicsEnable) v = unit(rng) < 0.5f ? 0.5f : 0.51f; // off, on
                if (p == kGate && unit(rng) < 0.3f) v = 0.01f; // the highest value that leaves the gate off
                if (extreme && (p == kTrim || p == kVolume)) v = unit(rng) < 0.5f ? 1e9f : 1e38f;
                simd.params[p].store(v), portable.params[p].store(v);
            }
        };
        randomise();
        ASSERT_TRUE(simd.prepare(rate, 512, records) && portable.prepare(rate, 512, records));
        if (trial % 6 == 0) // memories no chain run leaves behind: the ordinary first frame
            simd.channelStates[0].upsampleLowpass1.x2 = portable.channelStates[0].upsampleLowpass1.x2 = -0.2f;
        std::vector<Signal> in, outSimd(channels, Signal(frames, -7.0f)), outPortable = outSimd;
        for (int c = 0; c < channels; ++c) {
            in.push_back(sine(frames, 40.0 + 30.0 * c + trial, 0.05 + 0.3 * unit(rng), rate));
            for (int i = 0; i < frames; ++i) {
                float& s = in.back()[i]; // a silent stretch for the gate, occasional spikes
                s = i > 2000 && c == 1 ? 0.0f : (s + 0.1f * unit(rng) - 0.05f) * (i % 997 ? 1.0f : 8.0f);
                if ((extreme || specialInput) && i % 7 == 0) s = specials[(i / 7 + c) % 9];
            }
        }
        const bool inPlace = trial % 3 == 2; // the SIMD path writes over its input
        if (inPlace) outSimd = outPortable = in;
        std::vector<const float*> ip(channels), is(channels); // inputs of the portable and the SIMD path
        std::vector<float*> os(channels), op(channels);
        for (int start = 0, n = 0; start < frames; start += n) {
            n = std::min(frames - start, 1 + static_cast<int>(unit(rng) * 700.0f));
            if (unit(rng) < 0.2f) randomise(); // settings change between blocks
            for (int c = 0; c < channels; ++c) {
                ip[c] = in[c].data() + start, os[c] = outSimd[c].data() + start;
                op[c] = outPortable[c].data() + start, is[c] = inPlace ? os[c] : ip[c];
            }
            if (channels > 2 && unit(rng) < 0.3f) ip[2] = is[2] = nullptr; // a channel dropped for this block
            simd.processBlock(is.data(), os.data(), channels, n);
            processBlockPortable(portable, ip.data(), op.data(), channels, n);
        }
        for (int c = 0; c < channels; ++c)
            EXPECT_TRUE(sameBits(outSimd[c], outPortable[c])) << "channel " << c;
        EXPECT_TRUE(sameBits(simd.channelStates, portable.channelStates));
    }
}

// The sound bit for bit, the same from the SIMD path, the portable chain and every target: a digest (FNV-1a)
// of the output for fixed signals and settings. A deliberate change of sound updates kExpectedDigest.
TEST(KernelPaths, OutputDigest) {
    constexpr std::uint64_t kExpectedDigest = 0x8f9eb9aa4cc61928;
    Signal burst = sine(6000, 55.0, 0.8);
    std::fill(burst.begin(), burst.begin() + 3000, 0.0f);
    const Signal signals[] = {sine(6000, 55.0, 1e-3), sine(6000, 55.0, 0.1), sine(6000, 55.0, 1.0),
                              square(6000, -12.0), burst};
    const Settings settings[] = {
        {},
        {{kDynamicsEnable, kOn}, {kAsymmetry, kOn}, {kBassBoost, kOn}, {kDryMode, kOn}, {kThreshold, 30.0f}},
        {{kGate, 100.0f}, {kSustain, 100.0f}, {kTone, 0.0f}, {kBlend, 100.0f}, {kTrim, 80.0f}}};
    std::uint64_t digest = 0xcbf29ce484222325;
    for (auto [rate, channels] : {std::pair{44100.0, 2}, {96000.0, 1}})
        for (const Settings& s : settings)
            for (const Signal& signal : signals) {
                ThraskVellDSPKernel k;
                prepared(k, s, rate, channels);
                Signal left = signal, right(signal.rbegin(), signal.rend());
                float* io[] = {left.data(), right.data()};
                k.processBlock(io, io, channels, 6000);
                for (const Signal& out : {left, right})
                    for (float x : out)
                        digest = (digest ^ std::bit_cast<std::uint32_t>(x)) * 0x100000001b3;
            }
    EXPECT_EQ(digest, kExpectedDigest) << std::hex << "output digest 0x" << digest;
}

// Blend 0 passes the input bit for bit, non-finite samples as silence, while the fuzz path runs;
// silence gives exact zeros out with every stage at rest or on.
TEST(KernelBlock, ExactOutputsAndSkippedCalls) {
    Signal in = sine(4000, 73.0, 0.9), expected = in, silence(4000, 0.0f);
    in[17] = expected[17] = 1e-30f;
    in[100] = silence[100] = kNaN, in[2000] = silence[2000] = kInf, in[3000] = silence[3000] = -kInf;
    expected[100] = expected[2000] = expected[3000] = 0.0f;
    ThraskVellDSPKernel k;
    prepared(k, {{kBlend, 0.0f}});
    EXPECT_TRUE(sameBits(renderMono(k, in), expected));
    EXPECT_NE(k.channelStates[0].downsampleLowpass2.y1, 0.0f); // the fuzz path still ran
    for (float on : {0.0f, kOn}) {
        ThraskVellDSPKernel z;
        prepared(z, {{kDryMode, on}, {kBassBoost, on}, {kAsymmetry, on}, {kDynamicsEnable, on}, {kGate, on}});
        EXPECT_EQ(renderMono(z, silence), Signal(4000, 0.0f)) << on;
    }
    // Null pointers and missing arrays: nothing is processed and no state changes, but every call takes up
    // the settings. Channels without a record: KernelPaths and the bridge tests.
    Signal out(256, 3.0f);
    const float *ip[1] = {in.data()}, *nullIn[1] = {nullptr};
    float *op[1] = {out.data()}, *nullOut[1] = {nullptr};
    const std::vector<ChannelState> before = k.channelStates;
    k.processBlock(nullIn, op, 1, 256);
    k.processBlock(ip, nullOut, 1, 256);
    k.processBlock(nullptr, nullptr, 1, 256);
    EXPECT_TRUE(out == Signal(256, 3.0f) && sameBits(k.channelStates, before));
    k.params[kSustain].store(0.0f);
    for (float raw : {0.5f, 0.51f}) { // switches turn on strictly above half
        for (auto p : {kDryMode, kBassBoost, kAsymmetry, kDynamicsEnable})
            k.params[p].store(raw);
        k.processBlock(nullptr, nullptr, 1, 0);
        EXPECT_EQ((std::vector{k.dryModeOn, k.bassBoostOn, k.asymmetryOn, k.dynamicsOn}),
                  std::vector(4, raw > 0.5f));
    }
    EXPECT_NE(k.channelStates[0].preClipLowpass.b0, before[0].preClipLowpass.b0); // sustain 0 taken up
}

// Bad arguments are refused, changing nothing. Re-preparing keeps each section's memories and gives it the
// new rate's coefficients and fresh detectors; a record that comes back is a fresh one.
TEST(KernelPrepare, RefusesBadArgumentsKeepsMemoriesAndKeepsThePreClipStable) {
    ThraskVellDSPKernel k, fresh;
    prepared(k, {{kDynamicsEnable, kOn}, {kGate, 50.0f}}, 44100.0, 2);
    Signal in = sine(3000, 80.0, 0.8);
    std::fill(in.begin() + 2000, in.end(), 0.0f); // the gate closes
    renderMono(k, in);
    const std::vector<ChannelState> held = k.channelStates;
    ASSERT_TRUE(held[0].gainReductionDb != 0.0f && held[0].gateGain < 1.0f && held[0].dcLastOutput != 0.0f);
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    for (auto [rate, channels] :
         {std::pair{48000.0, -1}, {0.0, 2}, {-44100.0, 2}, {7999.0, 2}, {nan, 2}, {inf, 2}}) {
        EXPECT_FALSE(k.prepare(rate, 256, channels)) << rate << " " << channels;
        EXPECT_TRUE(k.sampleRate == 44100.0f && sameBits(k.channelStates, held));
    }
    prepared(fresh, {{kDynamicsEnable, kOn}, {kGate, 50.0f}}, 96000.0, 2);
    ChannelState expected = fresh.channelStates[0];
    for (auto s : kSections) // x1, x2, y1, y2 after b0 … a2
        std::memcpy(&(expected.*s).x1, &(held[0].*s).x1, 16);
    ASSERT_TRUE(k.prepare(96000.0, 256, 1) && k.prepare(96000.0, 256, 2));
    EXPECT_TRUE(sameBits(k.channelStates, {expected, fresh.channelStates[1]}));
    EXPECT_TRUE(k.prepare(48000.0, 256, 0) && k.channelStates.empty());
    // The pre-clip corner stays inside (0, half the rate) at any sustain and rate, so its poles stay inside
    // the unit circle: at 22050 Hz the top of the sustain range would put it above half the rate.
    for (double rate : {8000.0, 22050.0, 30000.0})
        for (float sustain : {-50.0f, 100.0f}) {
            k.params[kSustain].store(sustain);
            ASSERT_TRUE(k.prepare(rate, 256, 1));
            const Biquad& f = k.channelStates[0].preClipLowpass;
            EXPECT_TRUE(std::fabs(f.a2) < 1.0f && std::fabs(f.a1) < 1.0f + f.a2) << rate << " " << sustain;
        }
}

} // namespace
} // namespace thraskvell
