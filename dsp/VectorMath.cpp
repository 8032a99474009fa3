#include "dsp/VectorMath.h"

namespace thraskvell::detail {

namespace {

template <__m128 (*Vector)(__m128), float (*Scalar)(float)>
void apply(const float* in, float* out, int count) {
    int i = 0;
    // Two vectors per pass: their long dependency chains interleave.
    for (; i + 8 <= count; i += 8) {
        const __m128 a = Vector(_mm_loadu_ps(in + i));
        const __m128 b = Vector(_mm_loadu_ps(in + i + 4));
        _mm_storeu_ps(out + i, a);
        _mm_storeu_ps(out + i + 4, b);
    }
    for (; i + 4 <= count; i += 4)
        _mm_storeu_ps(out + i, Vector(_mm_loadu_ps(in + i)));
    for (; i < count; ++i)
        out[i] = Scalar(in[i]);
}

} // namespace

void tanhArray(const float* in, float* out, int count) {
    apply<tanh4, exact::tanh>(in, out, count);
}

void expArray(const float* in, float* out, int count) {
    apply<exp4, exact::exp>(in, out, count);
}

void log10Array(const float* in, float* out, int count) {
    apply<log10x4, exact::log10>(in, out, count);
}

void powerOfTenArray(const float* in, float* out, int count) {
    apply<powerOfTen4, exact::powerOfTen>(in, out, count);
}

} // namespace thraskvell::detail
