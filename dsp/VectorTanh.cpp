#include "dsp/VectorTanh.h"

#include <cmath>
#include <cstdint>

namespace thraskvell::detail {

void tanhArray(const float* in, float* out, int count) {
    int i = 0;
    // Two vectors per pass: their long dependency chains interleave.
    for (; i + 8 <= count; i += 8) {
        const __m128 a = _mm_loadu_ps(in + i);
        const __m128 b = _mm_loadu_ps(in + i + 4);
        if (anyNonFinite(_mm_or_ps(a, b))) {
            _mm_storeu_ps(out + i, tanh4(a));
            _mm_storeu_ps(out + i + 4, tanh4(b));
        } else {
            const __m128 ta = tanhFinite(a);
            const __m128 tb = tanhFinite(b);
            _mm_storeu_ps(out + i, ta);
            _mm_storeu_ps(out + i + 4, tb);
        }
    }
    for (; i + 4 <= count; i += 4)
        _mm_storeu_ps(out + i, tanh4(_mm_loadu_ps(in + i)));
    for (; i < count; ++i)
        out[i] = std::tanh(in[i]);
}

} // namespace thraskvell::detail
