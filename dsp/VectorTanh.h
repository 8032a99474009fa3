// Four single-precision hyperbolic tangents at once, bit-identical to the C library's tanhf.
//
// The kernel's sound is defined by tanhf; a faster approximation would change it. This evaluates
// the same single-precision steps the C library takes (exp(2|x|) - 1 by argument reduction and a
// rational correction, then 1 - 2/(t + 2) or -t/(t + 2)), four lanes per call with SSE2, and hands
// any non-finite lane to tanhf itself. tests/dsp/VectorTanhTest.cpp compares it with tanhf densely
// around every range boundary and by a stride over all 2^32 inputs; a full sweep of all inputs
// matched too, but takes minutes.
//
// Private to the DSP core. Threads: pure function; any thread; real-time safe.
#pragma once

#include <emmintrin.h>

namespace thraskvell::detail {

__m128 tanh4(__m128 x);

// out[i] = tanhf(in[i]) for count values; in and out may be the same array.
void tanhArray(const float* in, float* out, int count);

} // namespace thraskvell::detail
