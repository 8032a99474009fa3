// The effect: gate, trim, pre-clip low-pass, 4x oversampled tanh drive, DC blocker, tone, bass
// shelf, mix, compressor and volume, per channel, in single precision.
//
// Owned by exactly one DSPBridge, which is also the only writer of `params`. Everything else is
// state of the render thread: prepare() sizes and resets it, processBlock() advances it.
//
// Threads:
//  - params: any thread stores and loads (sequentially consistent); read once per block.
//  - prepare / reset: the owner's thread, never while processBlock runs. prepare may allocate.
//  - updateDSPParameters / processBlock: the audio thread. No allocation, lock, system call or
//    exception.
//
// Where SSE2 exists (x86-64), processBlock runs up to four channels in SIMD lanes and the chain in
// pipelined stages over short chunks, in an SSE2 build or, where the CPU has AVX2, an AVX2 build of
// the same code that also shapes eight values at a time. Every lane operation is the per-sample
// chain's own single-precision operation in its own order, and every transcendental function is the
// project's own exact one (dsp/ExactMath.h, dsp/VectorMath.h), so the output is bit-identical to the
// literal chain of dsp/PortableKernel.h, and the same on every machine and C library. Elsewhere
// (aarch64 …), or when built with THRASKVELL_PORTABLE_KERNEL, processBlock is that literal chain.
//
// Robustness, on both paths: a non-finite input sample enters as 0, and a channel whose
// state would turn non-finite is cleared (memories and detectors; coefficients kept) at the end of
// the block, and a non-finite output sample is written as 0, so one bad sample or setting never
// silences a channel for good. Gate gain and compressor reduction decaying below 1e-37 are taken
// to 0 rather than crawling through denormals. prepare refuses non-finite rates and rates below
// 8 kHz; the pre-clip cutoff is kept between 0.001 and 0.49 times the rate. Ordinary finite audio
// never meets these mends.
#pragma once

#include "dsp/Biquad.h"
#include "dsp/ParameterSpec.h"

#include <array>
#include <atomic>
#include <vector>

namespace thraskvell {

// Whether processBlock runs the SIMD path (true) or the portable chain itself (false).
#ifdef THRASKVELL_PORTABLE_KERNEL
inline constexpr bool kSimdKernel = false;
#else
inline constexpr bool kSimdKernel = true;
#endif

// Below this rate the filters' fixed corner frequencies would lie above Nyquist.
inline constexpr double kMinimumSampleRate = 8000.0;

struct ChannelState {
    Biquad upsampleLowpass1;
    Biquad upsampleLowpass2;
    Biquad downsampleLowpass1;
    Biquad downsampleLowpass2;
    Biquad preClipLowpass;
    Biquad toneLowpass;
    Biquad toneHighpass;
    Biquad bassShelf;
    float gateEnvelopeDb = -100.0f;
    float gateGain = 1.0f;
    float dcLastInput = 0.0f;
    float dcLastOutput = 0.0f;
    float gainReductionDb = 0.0f;
};

class ThraskVellDSPKernel {
public:
    ThraskVellDSPKernel();

    // Owner's thread. Returns false, changing nothing, for a negative channel count.
    bool prepare(double sampleRate, int maxFrames, int channelCount);
    // Owner's thread; called by prepare.
    void reset();
    // Audio thread; called at the start of reset and of every block.
    void updateDSPParameters();
    // Audio thread. outputs[k] may equal inputs[k]; null entries and channels without a record are
    // skipped and their output left untouched.
    void processBlock(const float* const* inputs, float* const* outputs, int channelCount, int frameCount);

    std::array<std::atomic<float>, kParameterCount> params;
    // Whether the SIMD path runs its AVX2 build; set where the CPU has AVX2. Both builds give the
    // same output bit for bit. Owner's thread, between blocks.
    bool useAvx2 = false;
    std::vector<ChannelState> channelStates;

    float sampleRate = 44100.0f;
    float gateThresholdDb = 0.0f;
    float trimGain = 1.0f;
    float drive = 1.0f;
    float toneAmount = 0.5f;
    float blendAmount = 0.5f;
    bool dryModeOn = false;
    bool bassBoostOn = false;
    bool asymmetryOn = false;
    bool dynamicsOn = false;
    float compThresholdDb = 0.0f;
    float compRatio = 1.0f;
    float outputGain = 1.0f;
    float attackCoeff = 0.0f;
    float releaseCoeff = 0.0f;
};

} // namespace thraskvell
