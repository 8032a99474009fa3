#include "dsp/PortableKernel.h"

#include "dsp/ExactMath.h"

#include <cmath>

namespace thraskvell {

namespace {

float flush(float v) {
    v = v + 1e-20f;
    return v + -1e-20f;
}

float step(Biquad& f, float v) {
    float y = f.b0 * v + f.b1 * f.x1 + f.b2 * f.x2 - f.a1 * f.y1 - f.a2 * f.y2;
    y = flush(y);
    f.x2 = f.x1;
    f.x1 = v;
    f.y2 = f.y1;
    f.y1 = y;
    return y;
}

bool finite(const Biquad& f) {
    for (float v : {f.b0, f.b1, f.b2, f.a1, f.a2, f.x1, f.x2, f.y1, f.y2})
        if (!std::isfinite(v)) return false;
    return true;
}

void clearIfPoisoned(ChannelState& s) {
    Biquad* sections[] = {&s.upsampleLowpass1,   &s.upsampleLowpass2, &s.downsampleLowpass1,
                          &s.downsampleLowpass2, &s.preClipLowpass,   &s.toneLowpass,
                          &s.toneHighpass,       &s.bassShelf};
    bool ok = true;
    for (float v : {s.gateEnvelopeDb, s.gateGain, s.dcLastInput, s.dcLastOutput, s.gainReductionDb})
        ok = ok && std::isfinite(v);
    for (const Biquad* f : sections)
        ok = ok && finite(*f);
    if (ok) return;
    for (Biquad* f : sections)
        f->x1 = f->x2 = f->y1 = f->y2 = 0.0f;
    s.gateEnvelopeDb = -100.0f;
    s.gateGain = 1.0f;
    s.dcLastInput = 0.0f;
    s.dcLastOutput = 0.0f;
    s.gainReductionDb = 0.0f;
}

} // namespace

void processBlockPortable(ThraskVellDSPKernel& kn, const float* const* inputs, float* const* outputs,
                          int channelCount, int frameCount) {
    kn.updateDSPParameters();
    const float gate = kn.params[kGate].load();
    if (frameCount < 1 || inputs == nullptr || outputs == nullptr) return;
    const int records = static_cast<int>(kn.channelStates.size());
    for (int i = 0; i < frameCount; ++i) {
        for (int k = 0; k < channelCount; ++k) {
            if (k >= records || inputs[k] == nullptr || outputs[k] == nullptr) continue;
            ChannelState& s = kn.channelStates[static_cast<std::size_t>(k)];
            const float raw = inputs[k][i];
            const float x = std::isfinite(raw) ? raw : 0.0f;

            const float level = 20.0f * exact::log10(std::fabs(x) + 1e-15f);
            const float q = 0.99f * s.gateEnvelopeDb + 0.01f * level;
            s.gateEnvelopeDb = level >= q ? level : q;
            float target = 0.005f;
            if (gate > 0.01f && s.gateEnvelopeDb < kn.gateThresholdDb) target = 0.0f;
            s.gateGain = 0.995f * s.gateGain + target;
            if (s.gateGain < 1e-37f) s.gateGain = 0.0f;

            const float d = x * s.gateGain * kn.trimGain;
            const float p = step(s.preClipLowpass, d);
            const float u = p * kn.drive * 4.0f;
            float w0 = 0.0f;
            for (int j = 0; j < 4; ++j) {
                const float v = j == 0 ? u : 0.0f;
                const float i1 = step(s.upsampleLowpass1, v);
                const float i2 = step(s.upsampleLowpass2, i1);
                float sh = exact::tanh(i2);
                if (kn.asymmetryOn) sh = exact::tanh(i2) + i2 * (0.1f * i2) * exact::exp(-std::fabs(i2));
                const float e1 = step(s.downsampleLowpass1, sh);
                const float e2 = step(s.downsampleLowpass2, e1);
                if (j == 0) w0 = e2;
            }

            const float h = flush(w0 - s.dcLastInput + 0.99f * s.dcLastOutput);
            s.dcLastInput = w0;
            s.dcLastOutput = h;

            const float l = step(s.toneLowpass, h);
            const float g = step(s.toneHighpass, h);
            const float t = l * (1.0f - kn.toneAmount) + g * kn.toneAmount;
            const float z = step(s.bassShelf, t);
            const float w = kn.bassBoostOn ? z : t;

            float m = kn.dryModeOn ? d + 0.3f * w : d * (1.0f - kn.blendAmount) + w * kn.blendAmount;
            if (kn.dynamicsOn) {
                const float lv = 20.0f * exact::log10(std::fabs(m) + 1e-15f);
                const float excess = lv - kn.compThresholdDb;
                const float over = excess > 0.0f ? excess : 0.0f;
                const float r = over * (1.0f - 1.0f / kn.compRatio);
                const float coeff = r > s.gainReductionDb ? kn.attackCoeff : kn.releaseCoeff;
                s.gainReductionDb = s.gainReductionDb + (r - s.gainReductionDb) * coeff;
                m = m * exact::powerOfTen(-s.gainReductionDb / 20.0f);
            } else {
                s.gainReductionDb = s.gainReductionDb * (1.0f - kn.releaseCoeff);
            }
            if (std::fabs(s.gainReductionDb) < 1e-37f) s.gainReductionDb = 0.0f;
            const float out = m * kn.outputGain;
            outputs[k][i] = std::isfinite(out) ? out : 0.0f;
        }
    }
    const int processed = channelCount < records ? channelCount : records;
    for (int k = 0; k < processed; ++k)
        if (inputs[k] != nullptr && outputs[k] != nullptr)
            clearIfPoisoned(kn.channelStates[static_cast<std::size_t>(k)]);
}

} // namespace thraskvell
