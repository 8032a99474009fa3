#include "dsp/Biquad.h"

#include "dsp/ExactMath.h"

#include <cmath>
#include <complex>

namespace thraskvell {

float designAngle(float frequency, float rate) {
    return static_cast<float>(6.283185307179586 * static_cast<double>(frequency) / static_cast<double>(rate));
}

BiquadCoefficients designLowpass(float frequency, float rate) {
    const float w = designAngle(frequency, rate);
    const float s = exact::sin(w);
    const float c = exact::cos(w);
    // 1.414, not sqrt(2): the sound is defined with this constant.
    const float alpha = s / 1.414f;
    const float n = 1.0f + alpha;
    BiquadCoefficients k;
    k.b0 = (1.0f - c) * 0.5f / n;
    k.b1 = (1.0f - c) / n;
    k.b2 = k.b0;
    k.a1 = -2.0f * c / n;
    k.a2 = (1.0f - alpha) / n;
    return k;
}

BiquadCoefficients designHighpass(float frequency, float rate) {
    const float w = designAngle(frequency, rate);
    const float s = exact::sin(w);
    const float c = exact::cos(w);
    const float alpha = s / 1.414f;
    const float n = 1.0f + alpha;
    BiquadCoefficients k;
    k.b0 = (1.0f + c) * 0.5f / n;
    k.b1 = -(1.0f + c) / n;
    k.b2 = k.b0;
    k.a1 = -2.0f * c / n;
    k.a2 = (1.0f - alpha) / n;
    return k;
}

BiquadCoefficients designLowShelf(float frequency, float rate, float gainDb) {
    const float w = designAngle(frequency, rate);
    const float s = exact::sin(w);
    const float c = exact::cos(w);
    const float a = exact::powerOfTen(gainDb / 40.0f);
    const float r = std::sqrt(a);
    const float alpha = s / 1.4142135f;
    const float a0 = (a + 1.0f) + (a - 1.0f) * c + 2.0f * r * alpha;
    BiquadCoefficients k;
    k.b0 = a * ((a + 1.0f) - (a - 1.0f) * c + 2.0f * r * alpha) / a0;
    k.b1 = 2.0f * a * ((a - 1.0f) - (a + 1.0f) * c) / a0;
    k.b2 = a * ((a + 1.0f) - (a - 1.0f) * c - 2.0f * r * alpha) / a0;
    k.a1 = -2.0f * ((a - 1.0f) + (a + 1.0f) * c) / a0;
    k.a2 = ((a + 1.0f) + (a - 1.0f) * c - 2.0f * r * alpha) / a0;
    return k;
}

double magnitudeAt(const BiquadCoefficients& c, double frequency, double rate) {
    const double w = 6.283185307179586 * frequency / rate;
    const std::complex<double> z1 = std::polar(1.0, -w);
    const std::complex<double> z2 = z1 * z1;
    const std::complex<double> num = double(c.b0) + double(c.b1) * z1 + double(c.b2) * z2;
    const std::complex<double> den = 1.0 + double(c.a1) * z1 + double(c.a2) * z2;
    return std::abs(num / den);
}

} // namespace thraskvell
