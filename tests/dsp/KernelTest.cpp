#include "dsp/PortableKernel.h"
#include "dsp/ThraskVellDSPKernel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <cstring>
#include <initializer_list>
#include <limits>
#include <random>
#include <utility>
#include <vector>

namespace thraskvell {
namespace {

using Signal = std::vector<float>;
using Channels = std::vector<Signal>;
using Complex = std::complex<double>;
using Settings = std::initializer_list<std::pair<ParameterAddress, float>>;

constexpr double kPi = 3.141592653589793;
constexpr double kRates[] = {44100.0, 48000.0, 96000.0};
constexpr float kOn = 100.0f;
const float kNaN = std::numeric_limits<float>::quiet_NaN();
const float kInf = std::numeric_limits<float>::infinity();

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

// Channel 0 through processBlock in blocks of blockSize.
Signal renderMono(ThraskVellDSPKernel& k, const Signal& input, int blockSize = 256) {
    Signal out(input.size());
    for (std::size_t start = 0; start < input.size(); start += blockSize) {
        const float* in = input.data() + start;
        float* o = out.data() + start;
        k.processBlock(&in, &o, 1, static_cast<int>(std::min<std::size_t>(blockSize, input.size() - start)));
    }
    return out;
}

template <class T> bool sameBits(const std::vector<T>& a, const std::vector<T>& b) {
    return a.size() == b.size() && std::memcmp(a.data(), b.data(), a.size() * sizeof(T)) == 0;
}

double db(double gain) {
    return 20.0 * std::log10(gain);
}

// The complex gain of a steady sine in y (input amplitude·sin), fitted by least squares from `from`.
Complex fittedGain(const Signal& y, double frequency, double rate, double amplitude, int from) {
    double ss = 0.0, sc = 0.0, cc = 0.0, ys = 0.0, yc = 0.0;
    for (int i = from; i < static_cast<int>(y.size()); ++i) {
        const double s = std::sin(2.0 * kPi * frequency * i / rate),
                     c = std::cos(2.0 * kPi * frequency * i / rate);
        ss += s * s;
        sc += s * c;
        cc += c * c;
        ys += y[i] * s;
        yc += y[i] * c;
    }
    const double det = ss * cc - sc * sc;
    return Complex((ys * cc - yc * sc) / det, (yc * ss - ys * sc) / det) / amplitude;
}

enum class Shape { Lowpass, Highpass, LowShelf };

// The textbook section (RBJ cookbook): the analog prototype at the bilinear transform's warped
// frequency, from the intended corner and shelf gain, Butterworth Q (shelf slope 1).
Complex designed(Shape shape, double corner, double frequency, double rate, double gainDb = 0.0) {
    const double q = 1.0 / std::sqrt(2.0);
    const Complex s(0.0, std::tan(kPi * frequency / rate) / std::tan(kPi * corner / rate));
    if (shape == Shape::Lowpass) return 1.0 / (s * s + s / q + 1.0);
    if (shape == Shape::Highpass) return s * s / (s * s + s / q + 1.0);
    const double a = std::pow(10.0, gainDb / 40.0);
    return a * (s * s + std::sqrt(a) / q * s + a) / (a * s * s + std::sqrt(a) / q * s + 1.0);
}

// ---------------------------------------------------------------------------------------------
// Truths: what prepare configures and the chain does, against the intended designs.

TEST(KernelTruths, SectionsMeetTheirDesigns) {
    struct Row {
        const char* name;
        Biquad ChannelState::*section;
        Shape shape;
        double corner;
        bool oversampled;
        double gainDb;
    };
    for (double rate : kRates) {
        // sustain raw 0 / 50 / 100 puts the pre-clip corner at 500 / 7750 / 15000 Hz
        for (auto [sustain, preClip] : {std::pair{0.0f, 500.0}, {50.0f, 7750.0}, {100.0f, 15000.0}}) {
            ThraskVellDSPKernel k;
            prepared(k, {{kSustain, sustain}}, rate);
            const Row rows[] = {
                {"upsample 1", &ChannelState::upsampleLowpass1, Shape::Lowpass, 0.45 * rate, true, 0.0},
                {"upsample 2", &ChannelState::upsampleLowpass2, Shape::Lowpass, 0.45 * rate, true, 0.0},
                {"downsample 1", &ChannelState::downsampleLowpass1, Shape::Lowpass, 0.45 * rate, true, 0.0},
                {"downsample 2", &ChannelState::downsampleLowpass2, Shape::Lowpass, 0.45 * rate, true, 0.0},
                {"pre-clip", &ChannelState::preClipLowpass, Shape::Lowpass, preClip, false, 0.0},
                {"tone low", &ChannelState::toneLowpass, Shape::Lowpass, 1000.0, false, 0.0},
                {"tone high", &ChannelState::toneHighpass, Shape::Highpass, 1000.0, false, 0.0},
                {"bass shelf", &ChannelState::bassShelf, Shape::LowShelf, 100.0, false, 6.0}};
            for (const Row& r : rows) {
                const double runRate = r.oversampled ? 4.0 * rate : rate;
                for (double frequency : {0.25 * r.corner, r.corner, 2.0 * r.corner}) {
                    if (frequency > 0.45 * runRate) continue;
                    Biquad f = k.channelStates[0].*r.section;
                    f.x1 = f.x2 = f.y1 = f.y2 = 0.0f;
                    Signal y = sine(1 << 15, frequency, 1.0, runRate);
                    for (float& v : y) {
                        const float out = f.b0 * v + f.b1 * f.x1 + f.b2 * f.x2 - f.a1 * f.y1 - f.a2 * f.y2;
                        f.x2 = f.x1;
                        f.x1 = v;
                        f.y2 = f.y1;
                        f.y1 = out;
                        v = out;
                    }
                    const double measured = std::abs(fittedGain(y, frequency, runRate, 1.0, 1 << 13));
                    EXPECT_NEAR(db(measured),
                                db(std::abs(designed(r.shape, r.corner, frequency, runRate, r.gainDb))), 0.1)
                        << r.name << " at " << frequency << " Hz, rate " << rate << ", sustain " << sustain;
                    // The response drawing helper agrees with the rendered sines.
                    const Biquad& c = k.channelStates[0].*r.section;
                    EXPECT_NEAR(magnitudeAt({c.b0, c.b1, c.b2, c.a1, c.a2}, frequency, runRate), measured,
                                1e-3 * measured);
                }
            }
        }
    }
}

// The sound is defined with the design angle rounded once from double precision.
TEST(KernelTruths, DesignAngleIsRoundedOnceFromDouble) {
    EXPECT_EQ(designAngle(1000.0f, 44100.0f), static_cast<float>(6283.185307179586 / 44100.0));
    EXPECT_EQ(designAngle(0.45f * 48000.0f, 4.0f * 48000.0f), static_cast<float>(0.225 * kPi));
}

// Small enough that the shaper is linear: the whole chain is then its sections, drive, DC blocker
// (pole 0.99) and mix, so a wrong weight, factor or wiring anywhere shows as a wrong complex gain.
TEST(KernelTruths, SmallSignalChainMeetsItsDesign) {
    struct Row {
        double rate;
        float sustain;
        double drive, preClip; // what that sustain means
        float tone, blend;
        bool dryMode, bassBoost;
        double frequency;
    };
    const Row rows[] = {{44100.0, 50.0f, 26.0, 7750.0, 50.0f, 100.0f, false, false, 20.0},
                        {48000.0, 0.0f, 1.0, 500.0, 0.0f, 100.0f, false, false, 10.0},
                        {96000.0, 100.0f, 51.0, 15000.0, 100.0f, 100.0f, false, false, 3000.0},
                        {48000.0, 50.0f, 26.0, 7750.0, 0.0f, 100.0f, false, true, 60.0},
                        {48000.0, 50.0f, 26.0, 7750.0, 50.0f, 100.0f, false, false, 1000.0},
                        {44100.0, 0.0f, 1.0, 500.0, 30.0f, 40.0f, false, true, 300.0},
                        {96000.0, 50.0f, 26.0, 7750.0, 50.0f, 0.0f, true, false, 150.0},
                        {96000.0, 50.0f, 26.0, 7750.0, 50.0f, 100.0f, true, false, 150.0}};
    for (const Row& r : rows) {
        ThraskVellDSPKernel k;
        const float dryMode = r.dryMode ? kOn : 0.0f, bassBoost = r.bassBoost ? kOn : 0.0f;
        set(k, {{kDryMode, dryMode}, {kBassBoost, bassBoost}});
        prepared(k, {{kSustain, r.sustain}, {kTone, r.tone}, {kBlend, r.blend}}, r.rate);
        const double amplitude = 1e-4, f = r.frequency, rate = r.rate, tone = r.tone / 100.0;
        const int frames = static_cast<int>(0.75 * rate);
        const Signal out = renderMono(k, sine(frames, f, amplitude, rate), 512);
        const Complex measured = fittedGain(out, f, rate, amplitude, frames / 3);

        const Complex z1 = std::polar(1.0, -2.0 * kPi * f / rate);
        const Complex oversampling = designed(Shape::Lowpass, 0.45 * rate, f, 4.0 * rate);
        Complex wet = r.drive * designed(Shape::Lowpass, r.preClip, f, rate) * std::pow(oversampling, 4.0) *
                      (1.0 - z1) / (1.0 - 0.99 * z1) *
                      ((1.0 - tone) * designed(Shape::Lowpass, 1000.0, f, rate) +
                       tone * designed(Shape::Highpass, 1000.0, f, rate));
        if (r.bassBoost) wet *= designed(Shape::LowShelf, 100.0, f, rate, 6.0);
        const Complex expected =
            r.dryMode ? 1.0 + 0.3 * wet : (1.0 - r.blend / 100.0) + r.blend / 100.0 * wet;
        // 0.1 dB, and a floor for the notch
        EXPECT_LE(std::abs(measured - expected), 0.0116 * std::abs(expected) + 1e-3)
            << "row at " << f << " Hz, rate " << rate << ": measured " << measured << ", designed "
            << expected;
    }
}

// Blend 0 plays the dry path alone; a square wave keeps every detector on one level, so the steady
// output level shows trim, gate, the compressor's static curve and volume as designed. Trim raw
// 0 / 100 / 150 is -20 / +20 / +40 dB; volume raw 0 / 100 / 250 is silence, x2, x5; gate raw 50 / 100
// closes below -35 / -60 dB on the input before trim, 0.01 and below never acts. The compressor is a
// hard knee: threshold raw 0 / 20 / 50 / 100 is -60 / -48 / -30 / 0 dB, ratio raw 0 / 30 / 50 / 100
// is 1 / 6.7 / 10.5 / 20; it sees the trimmed signal and the volume comes after it.
TEST(KernelTruths, DryPathLevels) {
    constexpr double S = -1000.0; // silence
    const double x2 = db(2.0), x5 = db(5.0);
    // clang-format off
    const struct {
        float trim, volume, gate, dynamics, threshold, ratio;
        double inDb, outDb;
    } rows[] = {
        {50, 50, 0, 0, 50, 50, -20, -20}, {0, 50, 0, 0, 50, 50, -6, -26}, {100, 50, 0, 0, 50, 50, -26, -6},
        {150, 50, 0, 0, 50, 50, -46, -6}, {50, 0, 0, 0, 50, 50, -20, S},
        {50, 100, 0, 0, 50, 50, -20, -20 + x2}, {50, 250, 0, 0, 50, 50, -20, -20 + x5},
        {50, 50, 50, 0, 50, 50, -30, -30}, {50, 50, 50, 0, 50, 50, -40, S}, {100, 50, 50, 0, 50, 50, -40, S},
        {50, 50, 100, 0, 50, 50, -55, -55}, {50, 50, 100, 0, 50, 50, -65, S},
        {50, 50, 0.01f, 0, 50, 50, -80, -80}, {50, 50, 0.02f, 0, 50, 50, -20, S},
        {50, 50, 0, kOn, 50, 50, -40, -40}, {50, 50, 0, kOn, 50, 50, -20, -30 + 10 / 10.5},
        {50, 50, 0, kOn, 0, 100, -20, -58}, {50, 50, 0, kOn, 100, 100, -6, -6},
        {50, 50, 0, kOn, 50, 0, -10, -10}, {50, 50, 0, kOn, 20, 30, -12, -48 + 36 / 6.7},
        {100, 100, 0, kOn, 50, 50, -40, -30 + 10 / 10.5 + x2}};
    // clang-format on
    for (const auto& r : rows) {
        ThraskVellDSPKernel k;
        set(k, {{kBlend, 0.0f}, {kTrim, r.trim}, {kVolume, r.volume}, {kGate, r.gate}});
        prepared(k, {{kDynamicsEnable, r.dynamics}, {kThreshold, r.threshold}, {kRatio, r.ratio}});
        const Signal out = renderMono(k, square(24000, r.inDb));
        const double level = out.back() == 0.0f ? S : db(std::fabs(out.back()));
        EXPECT_NEAR(level, r.outDb, 0.02)
            << "trim " << r.trim << ", volume " << r.volume << ", gate " << r.gate << ", dynamics "
            << r.dynamics << ", threshold " << r.threshold << ", ratio " << r.ratio << ", input " << r.inDb
            << " dB";
    }
}

// The gate gain moves by 0.995 per sample (below 0.001 after 1380 samples, back to 1 - 1/e after
// 200); the compressor attacks with 10 ms and releases with 100 ms at every rate, and switching it
// off gives back the unreduced level at once.
TEST(KernelTruths, TimeConstants) {
    ThraskVellDSPKernel gate;
    prepared(gate, {{kBlend, 0.0f}, {kGate, 50.0f}});
    EXPECT_NEAR(std::fabs(renderMono(gate, square(1380, -40.0)).back()) / square(1, -40.0)[0], 0.00095,
                0.00005);
    EXPECT_NEAR(std::fabs(renderMono(gate, square(200, -20.0)).back()) / square(1, -20.0)[0],
                1.0 - std::exp(-1.0), 0.01);
    for (double rate : kRates) {
        ThraskVellDSPKernel k;
        prepared(k, {{kBlend, 0.0f}, {kDynamicsEnable, kOn}}, rate);
        const double target = 10.0 * (1.0 - 1.0 / 10.5); // -20 dB in, threshold -30 dB, ratio 10.5
        const auto reduction = [&](int frames, double inDb) {
            return inDb - db(std::fabs(renderMono(k, square(frames, inDb)).back()));
        };
        EXPECT_NEAR(reduction(static_cast<int>(0.01 * rate), -20.0) / target, 1.0 - std::exp(-1.0), 0.01)
            << rate;
        EXPECT_NEAR(reduction(static_cast<int>(rate), -20.0), target, 0.01) << rate;
        EXPECT_NEAR(reduction(static_cast<int>(0.1 * rate), -40.0) / target, std::exp(-1.0), 0.01) << rate;
        renderMono(k, square(static_cast<int>(rate), -20.0));
        k.params[kDynamicsEnable].store(0.0f);
        EXPECT_NEAR(reduction(1, -20.0), 0.0, 1e-4) << rate;
    }
}

// ---------------------------------------------------------------------------------------------
// The SIMD path against the portable chain, bit for bit, on randomised settings and signals.

TEST(KernelPaths, SimdMatchesPortableChainBitForBit) {
    if (!kSimdKernel) GTEST_SKIP() << "portable build: processBlock is the portable chain";
    std::mt19937 rng(20261206);
    std::uniform_real_distribution<float> unit(0.0f, 1.0f);
    const float specials[] = {0.0f, -0.0f, 1e30f, -3e38f, kInf, -kInf, kNaN, 1e-40f, 25.0f};
    for (int trial = 0; trial < 40; ++trial) {
        SCOPED_TRACE(trial);
        ThraskVellDSPKernel simd, portable;
        const double rate = trial % 2 ? 22050.0 + unit(rng) * 169950.0 : kRates[trial % 3];
        const int records = 1 + trial % 5, frames = 3000;
        const int channels = records + (trial % 4 == 3); // now and then one more than the records
        const bool extreme = trial % 8 == 7, specialInput = trial % 4 == 1; // huge settings; NaN, inf, …
        auto randomise = [&] {
            for (std::size_t p = 0; p < kParameterCount; ++p) {
                // Now and then a value outside the published range: the kernel does not clamp.
                float v = unit(rng) < 0.1f ? -50.0f + unit(rng) * 250.0f : unit(rng) * 100.0f;
                if (p >= kDryMode && p <= kDynamicsEnable)
                    v = unit(rng) < 0.5f ? 0.5f : 0.51f;       // just off, on
                if (p == kGate && unit(rng) < 0.3f) v = 0.01f; // the highest value that leaves the gate off
                if (extreme && (p == kTrim || p == kVolume)) v = unit(rng) < 0.5f ? 1e9f : 1e38f;
                simd.params[p].store(v);
                portable.params[p].store(v);
            }
        };
        randomise();
        ASSERT_TRUE(simd.prepare(rate, 512, records) && portable.prepare(rate, 512, records));
        if (trial % 6 == 0) // memories no chain run leaves behind: the ordinary first frame
            for (auto* k : {&simd, &portable})
                k->channelStates[0].upsampleLowpass1.x2 = -0.2f;
        Channels in;
        for (int c = 0; c < channels; ++c) {
            in.push_back(sine(frames, 40.0 + 30.0 * c + trial, 0.05 + 0.3 * unit(rng), rate));
            for (int i = 0; i < frames; ++i) {
                float& s = in.back()[i];
                s += 0.1f * unit(rng) - 0.05f;
                if (i > 2000 && c == 1) s = 0.0f; // a silent stretch for the gate
                if (i % 997 == 0) s *= 8.0f;      // an occasional spike
                if ((extreme || specialInput) && i % 7 == 0) s = specials[(i / 7 + c) % 9];
            }
        }
        Channels outSimd(in.size(), Signal(frames, -7.0f)), outPortable = outSimd;
        const bool inPlace = trial % 3 == 2; // the SIMD path writes over its input
        if (inPlace) outSimd = outPortable = in;
        for (int start = 0, n = 0; start < frames; start += n) {
            n = std::min(frames - start, 1 + static_cast<int>(unit(rng) * 700.0f));
            if (unit(rng) < 0.2f) randomise(); // settings change between blocks
            std::vector<const float*> ip, is;  // inputs of the portable and the SIMD path
            std::vector<float*> os, op;
            for (int c = 0; c < channels; ++c) {
                ip.push_back(in[c].data() + start);
                os.push_back(outSimd[c].data() + start);
                op.push_back(outPortable[c].data() + start);
                is.push_back(inPlace ? os.back() : ip.back());
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

// ---------------------------------------------------------------------------------------------
// Block contract.

TEST(KernelBlock, ZerosInGiveExactZerosOut) {
    for (float on : {0.0f, kOn}) {
        ThraskVellDSPKernel k;
        prepared(k, {{kDryMode, on}, {kBassBoost, on}, {kAsymmetry, on}, {kDynamicsEnable, on}, {kGate, on}});
        EXPECT_EQ(renderMono(k, Signal(5000, 0.0f)), Signal(5000, 0.0f)) << on;
    }
}

TEST(KernelBlock, BlendZeroPassesInputExactly) {
    ThraskVellDSPKernel k;
    prepared(k, {{kBlend, 0.0f}});
    Signal input = sine(4000, 73.0, 0.9);
    input[17] = 1e-30f;
    EXPECT_TRUE(sameBits(renderMono(k, input), input));
    EXPECT_NE(k.channelStates[0].downsampleLowpass2.y1, 0.0f); // the fuzz path still ran
}

// A channel without a record, null pointers, missing arrays and an unprepared kernel: nothing is
// processed and no state changes, but every call takes up the settings.
TEST(KernelBlock, SkippedChannelsAndEmptyCallsChangeNothing) {
    ThraskVellDSPKernel k, unprepared, atZero;
    prepared(k, {});
    prepared(atZero, {{kSustain, 0.0f}});
    const Signal in0 = sine(256, 55.0, 0.5), in1 = sine(256, 65.0, 0.5), held(256, 3.0f);
    Signal out0(256), out1 = held;
    const float* ip[2] = {in0.data(), in1.data()};
    float* op[2] = {out0.data(), out1.data()};
    k.processBlock(ip, op, 2, 256);
    EXPECT_EQ(out1, held);
    const std::vector<ChannelState> before = k.channelStates;
    out0 = held;
    const float* nullIn[1] = {nullptr};
    float* nullOut[1] = {nullptr};
    k.processBlock(nullIn, op, 1, 256);
    k.processBlock(ip, nullOut, 1, 256);
    k.processBlock(nullptr, nullptr, 2, 256);
    unprepared.processBlock(ip, op, 2, 256);
    EXPECT_TRUE(out0 == held && out1 == held);
    EXPECT_TRUE(sameBits(k.channelStates, before));
    k.params[kSustain].store(0.0f);
    k.params[kVolume].store(100.0f);
    k.processBlock(nullptr, nullptr, 1, 0);
    EXPECT_EQ(k.outputGain, 2.0f);
    EXPECT_EQ(std::memcmp(&k.channelStates[0].preClipLowpass, &atZero.channelStates[0].preClipLowpass, 20),
              0);
}

TEST(KernelBlock, SwitchesTurnOnStrictlyAboveHalf) {
    for (auto [raw, on] : {std::pair{0.5f, false}, {0.51f, true}}) {
        ThraskVellDSPKernel k;
        for (auto p : {kDryMode, kBassBoost, kAsymmetry, kDynamicsEnable})
            k.params[p].store(raw);
        k.updateDSPParameters();
        EXPECT_EQ((std::vector{k.dryModeOn, k.bassBoostOn, k.asymmetryOn, k.dynamicsOn}), std::vector(4, on));
    }
}

// ---------------------------------------------------------------------------------------------
// Prepare.

TEST(KernelPrepare, RefusesBadArgumentsChangingNothing) {
    ThraskVellDSPKernel k;
    prepared(k, {}, 48000.0, 2);
    k.channelStates[0].gateGain = 0.25f;
    const double nan = std::numeric_limits<double>::quiet_NaN(),
                 inf = std::numeric_limits<double>::infinity();
    for (auto [rate, channels] :
         {std::pair{48000.0, -1}, {0.0, 2}, {-44100.0, 2}, {7999.0, 2}, {nan, 2}, {inf, 2}}) {
        EXPECT_FALSE(k.prepare(rate, 256, channels)) << rate << " " << channels;
        EXPECT_TRUE(k.channelStates.size() == 2 && k.sampleRate == 48000.0f &&
                    k.channelStates[0].gateGain == 0.25f);
    }
    EXPECT_TRUE(k.prepare(48000.0, 256, 0) && k.channelStates.empty());
}

// Re-preparing keeps each surviving section's memories and gives it the new rate's coefficients and
// fresh detectors; a record that comes back is a fresh one.
TEST(KernelPrepare, RePrepareKeepsMemoriesAndClearsDetectors) {
    ThraskVellDSPKernel k, fresh;
    prepared(k, {{kDynamicsEnable, kOn}, {kGate, 50.0f}}, 44100.0, 2);
    Signal in = sine(3000, 80.0, 0.8);
    std::fill(in.begin() + 2000, in.end(), 0.0f); // the gate closes
    renderMono(k, in);
    const ChannelState before = k.channelStates[0];
    ASSERT_TRUE(before.gainReductionDb != 0.0f && before.gateGain < 1.0f && before.dcLastOutput != 0.0f);
    ASSERT_TRUE(k.prepare(96000.0, 256, 1));
    prepared(fresh, {{kDynamicsEnable, kOn}, {kGate, 50.0f}}, 96000.0);
    const ChannelState &after = k.channelStates[0], &clean = fresh.channelStates[0];
    for (auto s :
         {&ChannelState::upsampleLowpass1, &ChannelState::upsampleLowpass2, &ChannelState::downsampleLowpass1,
          &ChannelState::downsampleLowpass2, &ChannelState::preClipLowpass, &ChannelState::toneLowpass,
          &ChannelState::toneHighpass, &ChannelState::bassShelf}) {
        EXPECT_EQ(std::memcmp(&(after.*s).x1, &(before.*s).x1, 16), 0); // x1, x2, y1, y2
        EXPECT_EQ(std::memcmp(&(after.*s).b0, &(clean.*s).b0, 20), 0);  // b0 … a2
    }
    EXPECT_EQ(std::memcmp(&after.gateEnvelopeDb, &clean.gateEnvelopeDb, 20), 0); // the five detectors
    ASSERT_TRUE(k.prepare(96000.0, 256, 2));
    EXPECT_EQ(std::memcmp(&k.channelStates[1], &clean, sizeof(ChannelState)), 0);
}

TEST(KernelPrepare, PreClipStaysStableAtLowRates) {
    // At 22050 Hz the top of the sustain range would put the cutoff above half the rate.
    for (double rate : {8000.0, 22050.0, 30000.0}) {
        ThraskVellDSPKernel k;
        prepared(k, {{kSustain, 100.0f}}, rate);
        const Biquad& f = k.channelStates[0].preClipLowpass;
        EXPECT_TRUE(std::fabs(f.a2) < 1.0f && std::fabs(f.a1) < 1.0f + f.a2) << rate; // poles inside
        for (float v : renderMono(k, sine(20000, 55.0, 0.5, rate)))
            ASSERT_TRUE(std::isfinite(v) && std::fabs(v) < 10.0f) << rate;
    }
}

} // namespace
} // namespace thraskvell
