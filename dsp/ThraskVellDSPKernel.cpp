#include "dsp/ThraskVellDSPKernel.h"

#include <cmath>

namespace thraskvell {

namespace {

inline float flush(float v) {
    // Two separate additions: anything far below 1e-20 becomes exactly 0, keeping denormals out.
    v = v + 1e-20f;
    return v + -1e-20f;
}

// Below this a decaying gain or reduction only creeps through denormals towards zero; taking it to
// zero at once keeps the render cost flat on silence.
constexpr float kDenormalFloor = 1e-37f;

// The low-pass design has no stable section at or above half the rate (nor near 0 Hz, where the
// single-precision cosine reaches 1), so the pre-clip cutoff is kept inside these fractions.
constexpr float kPreClipMaxFraction = 0.49f;
constexpr float kPreClipMinFraction = 0.001f;

// Rates below this would put the fixed 1 kHz tone sections near half the rate.
constexpr double kMinSampleRate = 8000.0;

inline float step(Biquad& f, float v) {
    float y = f.b0 * v + f.b1 * f.x1 + f.b2 * f.x2 - f.a1 * f.y1 - f.a2 * f.y2;
    y = flush(y);
    f.x2 = f.x1;
    f.x1 = v;
    f.y2 = f.y1;
    f.y1 = y;
    return y;
}

inline bool finite(const Biquad& f) {
    return std::isfinite(f.b0) && std::isfinite(f.b1) && std::isfinite(f.b2) && std::isfinite(f.a1) &&
           std::isfinite(f.a2) && std::isfinite(f.x1) && std::isfinite(f.x2) && std::isfinite(f.y1) &&
           std::isfinite(f.y2);
}

inline void clearMemories(Biquad& f) {
    f.x1 = 0.0f;
    f.x2 = 0.0f;
    f.y1 = 0.0f;
    f.y2 = 0.0f;
}

// Extreme settings (a huge trim or volume, a non-finite raw value) can overflow a channel's state;
// left alone, one such block would silence the channel for good. The coefficients stay: they are
// rewritten from the settings anyway.
void clearIfPoisoned(ChannelState& s) {
    Biquad* sections[] = {&s.upsampleLowpass1,   &s.upsampleLowpass2, &s.downsampleLowpass1,
                          &s.downsampleLowpass2, &s.preClipLowpass,   &s.toneLowpass,
                          &s.toneHighpass,       &s.bassShelf};
    bool ok = std::isfinite(s.gateEnvelopeDb) && std::isfinite(s.gateGain) && std::isfinite(s.dcLastInput) &&
              std::isfinite(s.dcLastOutput) && std::isfinite(s.gainReductionDb);
    for (const Biquad* f : sections)
        ok = ok && finite(*f);
    if (ok) return;
    for (Biquad* f : sections)
        clearMemories(*f);
    s.gateEnvelopeDb = -100.0f;
    s.gateGain = 1.0f;
    s.dcLastInput = 0.0f;
    s.dcLastOutput = 0.0f;
    s.gainReductionDb = 0.0f;
}

} // namespace

ThraskVellDSPKernel::ThraskVellDSPKernel() {
    for (std::size_t i = 0; i < kParameterCount; ++i)
        params[i].store(kParameterSpecs[i].defaultValue);
}

bool ThraskVellDSPKernel::prepare(double rate, int /*maxFrames*/, int channelCount) {
    if (channelCount < 0 || !std::isfinite(rate) || rate < kMinSampleRate) return false;
    sampleRate = static_cast<float>(rate);
    channelStates.resize(static_cast<std::size_t>(channelCount));
    attackCoeff = 1.0f - std::exp(-1.0f / (0.01f * sampleRate));
    releaseCoeff = 1.0f - std::exp(-1.0f / (0.1f * sampleRate));
    reset();
    return true;
}

void ThraskVellDSPKernel::reset() {
    updateDSPParameters();
    const BiquadCoefficients oversampling = designLowpass(0.45f * sampleRate, 4.0f * sampleRate);
    const BiquadCoefficients toneLow = designLowpass(1000.0f, sampleRate);
    const BiquadCoefficients toneHigh = designHighpass(1000.0f, sampleRate);
    const BiquadCoefficients shelf = designLowShelf(100.0f, sampleRate, 6.0f);
    for (ChannelState& s : channelStates) {
        s.upsampleLowpass1.setCoefficients(oversampling);
        s.upsampleLowpass2.setCoefficients(oversampling);
        s.downsampleLowpass1.setCoefficients(oversampling);
        s.downsampleLowpass2.setCoefficients(oversampling);
        s.toneLowpass.setCoefficients(toneLow);
        s.toneHighpass.setCoefficients(toneHigh);
        s.bassShelf.setCoefficients(shelf);
        s.gateEnvelopeDb = -100.0f;
        s.gateGain = 1.0f;
        s.dcLastInput = 0.0f;
        s.dcLastOutput = 0.0f;
        s.gainReductionDb = 0.0f;
    }
}

void ThraskVellDSPKernel::updateDSPParameters() {
    const float trim = params[kTrim].load();
    const float gate = params[kGate].load();
    const float volume = params[kVolume].load();
    const float tone = params[kTone].load();
    const float sustain = params[kSustain].load();
    const float blend = params[kBlend].load();
    const float dryMode = params[kDryMode].load();
    const float bassBoost = params[kBassBoost].load();
    const float asymmetry = params[kAsymmetry].load();
    const float dynamicsEnable = params[kDynamicsEnable].load();
    const float threshold = params[kThreshold].load();
    const float ratio = params[kRatio].load();

    gateThresholdDb = -10.0f - 0.5f * gate;
    trimGain = std::pow(10.0f, (trim - 50.0f) * 0.4f / 20.0f);
    drive = 1.0f + 0.5f * sustain;
    toneAmount = tone / 100.0f;
    blendAmount = blend / 100.0f;
    dryModeOn = dryMode > 0.5f;
    bassBoostOn = bassBoost > 0.5f;
    asymmetryOn = asymmetry > 0.5f;
    dynamicsOn = dynamicsEnable > 0.5f;
    compThresholdDb = -60.0f + 0.6f * threshold;
    compRatio = 1.0f + 0.19f * ratio;
    outputGain = volume / 50.0f;

    if (channelStates.empty()) return;
    float cutoff = 500.0f + 145.0f * sustain;
    const float highest = kPreClipMaxFraction * sampleRate;
    const float lowest = kPreClipMinFraction * sampleRate;
    if (cutoff > highest) cutoff = highest;
    if (cutoff < lowest) cutoff = lowest;
    const BiquadCoefficients preClip = designLowpass(cutoff, sampleRate);
    for (ChannelState& s : channelStates)
        s.preClipLowpass.setCoefficients(preClip);
}

void ThraskVellDSPKernel::processBlock(const float* const* inputs, float* const* outputs, int channelCount,
                                       int frameCount) {
    updateDSPParameters();
    const float gate = params[kGate].load();
    if (frameCount < 1) return;
    const int records = static_cast<int>(channelStates.size());
    for (int i = 0; i < frameCount; ++i) {
        for (int k = 0; k < channelCount; ++k) {
            if (k >= records || inputs[k] == nullptr || outputs[k] == nullptr) continue;
            ChannelState& s = channelStates[static_cast<std::size_t>(k)];
            // A non-finite sample would live on in the section memories: it enters as silence.
            const float raw = inputs[k][i];
            const float x = std::isfinite(raw) ? raw : 0.0f;

            const float level = 20.0f * std::log10(std::fabs(x) + 1e-15f);
            const float q = 0.99f * s.gateEnvelopeDb + 0.01f * level;
            s.gateEnvelopeDb = level >= q ? level : q;
            float target = 0.005f;
            if (gate > 0.01f && s.gateEnvelopeDb < gateThresholdDb) target = 0.0f;
            s.gateGain = 0.995f * s.gateGain + target;
            if (s.gateGain < kDenormalFloor) s.gateGain = 0.0f;

            const float d = x * s.gateGain * trimGain;
            const float p = step(s.preClipLowpass, d);
            const float u = p * drive * 4.0f;
            float w0 = 0.0f;
            for (int j = 0; j < 4; ++j) {
                const float v = j == 0 ? u : 0.0f;
                const float i1 = step(s.upsampleLowpass1, v);
                const float i2 = step(s.upsampleLowpass2, i1);
                float sh = std::tanh(i2);
                if (asymmetryOn) sh = std::tanh(i2) + i2 * (0.1f * i2) * std::exp(-std::fabs(i2));
                const float e1 = step(s.downsampleLowpass1, sh);
                const float e2 = step(s.downsampleLowpass2, e1);
                if (j == 0) w0 = e2;
            }

            const float h = flush(w0 - s.dcLastInput + 0.99f * s.dcLastOutput);
            s.dcLastInput = w0;
            s.dcLastOutput = h;

            const float l = step(s.toneLowpass, h);
            const float g = step(s.toneHighpass, h);
            const float t = l * (1.0f - toneAmount) + g * toneAmount;
            const float z = step(s.bassShelf, t);
            const float w = bassBoostOn ? z : t;

            float m = dryModeOn ? d + 0.3f * w : d * (1.0f - blendAmount) + w * blendAmount;
            if (dynamicsOn) {
                const float lv = 20.0f * std::log10(std::fabs(m) + 1e-15f);
                const float excess = lv - compThresholdDb;
                const float over = excess > 0.0f ? excess : 0.0f;
                const float r = over * (1.0f - 1.0f / compRatio);
                const float coeff = r > s.gainReductionDb ? attackCoeff : releaseCoeff;
                s.gainReductionDb = s.gainReductionDb + (r - s.gainReductionDb) * coeff;
                m = m * std::pow(10.0f, -s.gainReductionDb / 20.0f);
            } else {
                s.gainReductionDb = s.gainReductionDb * (1.0f - releaseCoeff);
            }
            if (std::fabs(s.gainReductionDb) < kDenormalFloor) s.gainReductionDb = 0.0f;
            const float out = m * outputGain;
            outputs[k][i] = std::isfinite(out) ? out : 0.0f;
        }
    }
    const int processed = channelCount < records ? channelCount : records;
    for (int k = 0; k < processed; ++k)
        if (inputs[k] != nullptr && outputs[k] != nullptr)
            clearIfPoisoned(channelStates[static_cast<std::size_t>(k)]);
}

} // namespace thraskvell
