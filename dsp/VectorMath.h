// Four single-precision exp, log10, 10^y and tanh at once, bit-identical to dsp/ExactMath.h.
//
// The sound is defined by those functions; a faster approximation would change it. Each lane takes
// the scalar function's own steps in its own precision and order (exp, log10 and 10^y in double,
// two lanes per register; tanh in float), so each rounds exactly as the scalar one would. A vector
// holding an input the chain never produces (non-finite, or for log10 not positive and normal) is
// handed to the scalar functions lane by lane. tests/dsp/ExactMathTest.cpp compares both with the
// C library.
//
// Private to the DSP core. Threads: pure functions; any thread; real-time safe.
#pragma once

#include "dsp/ExactMath.h"

#include <emmintrin.h>

#include <cmath>
#include <cstdint>

namespace thraskvell::detail {

inline __m128 bitsToFloat(std::uint32_t bits) {
    return _mm_castsi128_ps(_mm_set1_epi32(static_cast<int>(bits)));
}

inline __m128 select(__m128 mask, __m128 a, __m128 b) {
    return _mm_or_ps(_mm_and_ps(mask, a), _mm_andnot_ps(mask, b));
}

inline __m128i selecti(__m128i mask, __m128i a, __m128i b) {
    return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}

// Unsigned-range tests on magnitudes: the magnitude's bit pattern is below 2^31, so a signed
// compare is exact.
inline __m128i below(__m128i magnitude, std::uint32_t bits) {
    return _mm_cmplt_epi32(magnitude, _mm_set1_epi32(static_cast<int>(bits)));
}
inline __m128i above(__m128i magnitude, std::uint32_t bits) {
    return _mm_cmpgt_epi32(magnitude, _mm_set1_epi32(static_cast<int>(bits)));
}

// exp(a) - 1 for a in [2, 44) (positive) or (-2, -2^-54] (negative): the only arguments tanh
// passes on for finite inputs it does not answer directly.
[[gnu::always_inline]] inline __m128 expm1Tanh(__m128 a) {
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 half = _mm_set1_ps(0.5f);
    const __m128 ln2Hi = bitsToFloat(0x3f317180u);
    const __m128 ln2Lo = bitsToFloat(0x3717f7d1u);
    const __m128 invLn2 = bitsToFloat(0x3fb8aa3bu);

    const __m128i bits = _mm_castps_si128(a);
    const __m128i magnitude = _mm_and_si128(bits, _mm_set1_epi32(0x7fffffff));
    const __m128 negative = _mm_cmplt_ps(a, _mm_setzero_ps());

    // Reduction a = k ln2 + r. Between 0.5 ln2 and 1.5 ln2 (negative side only here) k is -1 with a
    // two-part ln2; beyond, k is rounded away from zero by truncating a ln2 quotient plus a half.
    const __m128i reduced = above(magnitude, 0x3eb17218u);
    const __m128i nearOne = _mm_and_si128(reduced, below(magnitude, 0x3f851592u));
    const __m128 roundBias = select(negative, _mm_set1_ps(-0.5f), half);
    const __m128i kGeneral = _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(invLn2, a), roundBias));
    const __m128 kf = _mm_cvtepi32_ps(kGeneral);
    const __m128 hiGeneral = _mm_sub_ps(a, _mm_mul_ps(kf, ln2Hi));
    const __m128 loGeneral = _mm_mul_ps(kf, ln2Lo);
    const __m128 hiNear = _mm_add_ps(a, ln2Hi);
    const __m128 loNear = _mm_xor_ps(ln2Lo, _mm_set1_ps(-0.0f));
    const __m128 nearMask = _mm_castsi128_ps(nearOne);
    const __m128 hi = select(nearMask, hiNear, hiGeneral);
    const __m128 lo = select(nearMask, loNear, loGeneral);
    __m128i k = selecti(nearOne, _mm_set1_epi32(-1), kGeneral);
    k = _mm_and_si128(k, reduced);

    const __m128 reducedMask = _mm_castsi128_ps(reduced);
    const __m128 rx = _mm_sub_ps(hi, lo);
    const __m128 x = select(reducedMask, rx, a);
    const __m128 c = _mm_and_ps(reducedMask, _mm_sub_ps(_mm_sub_ps(hi, rx), lo));

    // Rational correction on the primary range.
    const __m128 hfx = _mm_mul_ps(half, x);
    const __m128 hxs = _mm_mul_ps(x, hfx);
    __m128 poly = _mm_mul_ps(hxs, bitsToFloat(0xb457edbbu));
    poly = _mm_mul_ps(hxs, _mm_add_ps(bitsToFloat(0x36867e54u), poly));
    poly = _mm_mul_ps(hxs, _mm_add_ps(bitsToFloat(0xb8a670cdu), poly));
    poly = _mm_mul_ps(hxs, _mm_add_ps(bitsToFloat(0x3ad00d01u), poly));
    poly = _mm_mul_ps(hxs, _mm_add_ps(bitsToFloat(0xbd088889u), poly));
    const __m128 r1 = _mm_add_ps(one, poly);
    const __m128 t = _mm_sub_ps(_mm_set1_ps(3.0f), _mm_mul_ps(r1, hfx));
    __m128 e =
        _mm_mul_ps(hxs, _mm_div_ps(_mm_sub_ps(r1, t), _mm_sub_ps(_mm_set1_ps(6.0f), _mm_mul_ps(x, t))));

    // k = 0: no reduction happened.
    const __m128 resultK0 = _mm_sub_ps(x, _mm_sub_ps(_mm_mul_ps(x, e), hxs));

    e = _mm_sub_ps(_mm_sub_ps(_mm_mul_ps(x, _mm_sub_ps(e, c)), c), hxs);
    // k = -1.
    const __m128 resultKm1 = _mm_sub_ps(_mm_mul_ps(half, _mm_sub_ps(x, e)), half);
    const __m128i exponentShift = _mm_slli_epi32(k, 23);
    // k <= -2 or k > 56: scale 1 - (e - x), then take the 1 off.
    const __m128 wide = _mm_sub_ps(one, _mm_sub_ps(e, x));
    const __m128 resultWide =
        _mm_sub_ps(_mm_castsi128_ps(_mm_add_epi32(_mm_castps_si128(wide), exponentShift)), one);
    // 2 <= k < 23: fold 1 - 2^-k in before scaling. Shifts by a per-lane count need SSE4/AVX2, so
    // 2^-k is built in the exponent field instead: 0x1000000 >> k has the same bits as 2^(24-k).
    const __m128i exponentOfPow = _mm_slli_epi32(_mm_sub_epi32(_mm_set1_epi32(0x7f + 24), k), 23);
    const __m128i shiftedInt = _mm_cvtps_epi32(_mm_castsi128_ps(exponentOfPow));
    const __m128 tMid = _mm_castsi128_ps(_mm_sub_epi32(_mm_set1_epi32(0x3f800000), shiftedInt));
    const __m128 mid = _mm_sub_ps(tMid, _mm_sub_ps(e, x));
    const __m128 resultMid = _mm_castsi128_ps(_mm_add_epi32(_mm_castps_si128(mid), exponentShift));
    // 23 <= k <= 56: 2^-k is tiny against 1.
    const __m128 tHigh = _mm_castsi128_ps(_mm_slli_epi32(_mm_sub_epi32(_mm_set1_epi32(0x7f), k), 23));
    const __m128 high = _mm_add_ps(_mm_sub_ps(x, _mm_add_ps(e, tHigh)), one);
    const __m128 resultHigh = _mm_castsi128_ps(_mm_add_epi32(_mm_castps_si128(high), exponentShift));

    const __m128i isK0 = _mm_cmpeq_epi32(k, _mm_setzero_si128());
    const __m128i isKm1 = _mm_cmpeq_epi32(k, _mm_set1_epi32(-1));
    const __m128i isWide =
        _mm_or_si128(_mm_cmplt_epi32(k, _mm_set1_epi32(-1)), _mm_cmpgt_epi32(k, _mm_set1_epi32(56)));
    const __m128i isMid =
        _mm_and_si128(_mm_cmpgt_epi32(k, _mm_setzero_si128()), _mm_cmplt_epi32(k, _mm_set1_epi32(23)));
    __m128 result = resultHigh;
    result = select(_mm_castsi128_ps(isMid), resultMid, result);
    result = select(_mm_castsi128_ps(isWide), resultWide, result);
    result = select(_mm_castsi128_ps(isKm1), resultKm1, result);
    result = select(_mm_castsi128_ps(isK0), resultK0, result);
    // Below 2^-25 exp(a) - 1 is a itself.
    return select(_mm_castsi128_ps(below(magnitude, 0x33000000u)), a, result);
}

inline bool anyNonFinite(__m128 x) {
    const __m128i magnitude = _mm_and_si128(_mm_castps_si128(x), _mm_set1_epi32(0x7fffffff));
    return _mm_movemask_epi8(_mm_cmpgt_epi32(magnitude, _mm_set1_epi32(0x7f7fffff))) != 0;
}

template <float (*Scalar)(float)> inline __m128 lanewise(__m128 x) {
    alignas(16) float lanes[4];
    _mm_store_ps(lanes, x);
    for (float& v : lanes)
        v = Scalar(v);
    return _mm_load_ps(lanes);
}

// Finite lanes only.
[[gnu::always_inline]] inline __m128 tanhFinite(__m128 x) {
    const __m128i bits = _mm_castps_si128(x);
    const __m128i magnitude = _mm_and_si128(bits, _mm_set1_epi32(0x7fffffff));
    const __m128 signBit = _mm_castsi128_ps(_mm_andnot_si128(_mm_set1_epi32(0x7fffffff), bits));
    const __m128 ax = _mm_castsi128_ps(magnitude);
    const __m128 one = _mm_set1_ps(1.0f);
    const __m128 two = _mm_set1_ps(2.0f);

    const __m128i large = _mm_cmpgt_epi32(magnitude, _mm_set1_epi32(0x3f7fffff)); // |x| >= 1
    const __m128 largeMask = _mm_castsi128_ps(large);
    // |x| >= 1 takes exp(2|x|) - 1 and 1 - 2/(t + 2); below 1, exp(-2|x|) - 1 and -t/(t + 2).
    const __m128 arg = _mm_xor_ps(_mm_mul_ps(two, ax), _mm_andnot_ps(largeMask, _mm_set1_ps(-0.0f)));
    const __m128 t = expm1Tanh(arg);
    const __m128 numerator = select(largeMask, two, _mm_xor_ps(t, _mm_set1_ps(-0.0f)));
    const __m128 quotient = _mm_div_ps(numerator, _mm_add_ps(t, two));
    __m128 z = select(largeMask, _mm_sub_ps(one, quotient), quotient);
    // Past 22, 1 - 1e-30 rounds to 1.
    z = select(_mm_castsi128_ps(above(magnitude, 0x41afffffu)), one, z);
    z = _mm_xor_ps(z, signBit);
    // Tiny arguments: x (1 + x); zero stays zero with its sign.
    const __m128 tiny = _mm_mul_ps(x, _mm_add_ps(one, x));
    z = select(_mm_castsi128_ps(below(magnitude, 0x24000000u)), tiny, z);
    return select(_mm_castsi128_ps(_mm_cmpeq_epi32(magnitude, _mm_setzero_si128())), x, z);
}

// Where the fuzz saturates or rests, whole vectors take no evaluation: from 0x41102cb4 (about 9.01)
// up to infinity tanhf is exactly +-1, and tanh(+-0) is the zero itself.
[[gnu::always_inline]] inline __m128 tanh4(__m128 x) {
    const __m128i magnitude = _mm_and_si128(_mm_castps_si128(x), _mm_set1_epi32(0x7fffffff));
    const __m128i saturated = _mm_andnot_si128(above(magnitude, 0x7f800000u), above(magnitude, 0x41102cb3u));
    if (_mm_movemask_ps(_mm_castsi128_ps(saturated)) == 0xf)
        return _mm_or_ps(_mm_set1_ps(1.0f), _mm_andnot_ps(_mm_castsi128_ps(magnitude), x));
    if (_mm_movemask_ps(_mm_castsi128_ps(_mm_cmpeq_epi32(magnitude, _mm_setzero_si128()))) == 0xf) return x;
    return anyNonFinite(x) ? lanewise<exact::tanh>(x) : tanhFinite(x);
}

// Lanes 0-1 and 2-3 in double, and back.
inline __m128d lowToDouble(__m128 x) {
    return _mm_cvtps_pd(x);
}
inline __m128d highToDouble(__m128 x) {
    return _mm_cvtps_pd(_mm_movehl_ps(x, x));
}
inline __m128 toFloat(__m128d low, __m128d high) {
    return _mm_movelh_ps(_mm_cvtpd_ps(low), _mm_cvtpd_ps(high));
}

inline __m128d selectd(__m128d mask, __m128d a, __m128d b) {
    return _mm_or_pd(_mm_and_pd(mask, a), _mm_andnot_pd(mask, b));
}

// 2^(k/32) times the cubic in r, for two lanes whose k sits in the low bits of ki.
[[gnu::always_inline]] inline __m128d exp2Tail(__m128i ki, __m128d r, const double (&c)[3]) {
    const int i0 = _mm_cvtsi128_si32(ki) & 31;
    const int i1 = _mm_cvtsi128_si32(_mm_unpackhi_epi64(ki, ki)) & 31;
    const __m128i table = _mm_set_epi64x(static_cast<long long>(exact::tables::exp2[i1]),
                                         static_cast<long long>(exact::tables::exp2[i0]));
    const __m128d s = _mm_castsi128_pd(_mm_add_epi64(table, _mm_slli_epi64(ki, 47)));
    const __m128d z = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(c[0]), r), _mm_set1_pd(c[1]));
    const __m128d r2 = _mm_mul_pd(r, r);
    __m128d y = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(c[2]), r), _mm_set1_pd(1.0));
    y = _mm_add_pd(_mm_mul_pd(z, r2), y);
    return _mm_mul_pd(y, s);
}

[[gnu::always_inline]] inline __m128d expHalf(__m128d x) {
    using namespace exact::constants;
    const __m128d shift = _mm_set1_pd(kShift);
    const __m128d z = _mm_mul_pd(_mm_set1_pd(kInvLn2Scaled), x);
    __m128d kd = _mm_add_pd(z, shift);
    const __m128i ki = _mm_castpd_si128(kd);
    kd = _mm_sub_pd(kd, shift);
    return exp2Tail(ki, _mm_sub_pd(z, kd), kExpPoly);
}

[[gnu::always_inline]] inline __m128 exp4(__m128 x) {
    // Far below -104 the result is exactly zero.
    if (_mm_movemask_ps(_mm_cmplt_ps(x, _mm_set1_ps(-0x1.9fe368p6f))) == 0xf) return _mm_setzero_ps();
    if (anyNonFinite(x)) return lanewise<exact::exp>(x);
    __m128 y = toFloat(expHalf(lowToDouble(x)), expHalf(highToDouble(x)));
    y = select(_mm_cmpgt_ps(x, _mm_set1_ps(0x1.62e42ep6f)), _mm_set1_ps(INFINITY), y);
    return _mm_andnot_ps(_mm_cmplt_ps(x, _mm_set1_ps(-0x1.9fe368p6f)), y);
}

// Natural logarithm of positive normal values, in double from the table.
[[gnu::always_inline]] inline __m128 logNormal4(__m128 x) {
    using namespace exact::constants;
    const __m128i ix = _mm_castps_si128(x);
    const __m128i tmp = _mm_sub_epi32(ix, _mm_set1_epi32(0x3f330000));
    alignas(16) std::int32_t index[4];
    _mm_store_si128(reinterpret_cast<__m128i*>(index),
                    _mm_and_si128(_mm_srli_epi32(tmp, 19), _mm_set1_epi32(15)));
    const __m128 k = _mm_cvtepi32_ps(_mm_srai_epi32(tmp, 23));
    const __m128 z = _mm_castsi128_ps(
        _mm_sub_epi32(ix, _mm_and_si128(tmp, _mm_set1_epi32(static_cast<int>(0xff800000u)))));
    const auto& t = exact::tables::log;
    const auto half = [&](__m128d zd, __m128d kd, int a, int b) {
        const __m128d invc = _mm_set_pd(t[index[b]].invc, t[index[a]].invc);
        const __m128d logc = _mm_set_pd(t[index[b]].logc, t[index[a]].logc);
        const __m128d r = _mm_sub_pd(_mm_mul_pd(zd, invc), _mm_set1_pd(1.0));
        const __m128d y0 = _mm_add_pd(logc, _mm_mul_pd(kd, _mm_set1_pd(kLn2)));
        const __m128d r2 = _mm_mul_pd(r, r);
        __m128d y = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(kLogPoly[1]), r), _mm_set1_pd(kLogPoly[2]));
        y = _mm_add_pd(_mm_mul_pd(_mm_set1_pd(kLogPoly[0]), r2), y);
        return _mm_add_pd(_mm_mul_pd(y, r2), _mm_add_pd(y0, r));
    };
    return toFloat(half(lowToDouble(z), lowToDouble(k), 0, 1), half(highToDouble(z), highToDouble(k), 2, 3));
}

[[gnu::always_inline]] inline __m128 log10x4(__m128 x) {
    using namespace exact::constants;
    const __m128i hx = _mm_castps_si128(x);
    const __m128i normal = _mm_and_si128(_mm_cmpgt_epi32(hx, _mm_set1_epi32(0x007fffff)),
                                         _mm_cmplt_epi32(hx, _mm_set1_epi32(0x7f800000)));
    if (_mm_movemask_epi8(normal) != 0xffff) return lanewise<exact::log10>(x);
    const __m128i k = _mm_sub_epi32(_mm_srli_epi32(hx, 23), _mm_set1_epi32(127));
    const __m128i below = _mm_cmplt_epi32(k, _mm_setzero_si128()); // -1 where k < 0
    const __m128i exponent = _mm_slli_epi32(_mm_add_epi32(_mm_set1_epi32(0x7f), below), 23);
    const __m128 mantissa =
        _mm_castsi128_ps(_mm_or_si128(_mm_and_si128(hx, _mm_set1_epi32(0x007fffff)), exponent));
    const __m128 y = _mm_cvtepi32_ps(_mm_sub_epi32(k, below));
    const __m128 z = _mm_add_ps(_mm_mul_ps(y, bitsToFloat(kLog10Of2LoBits)),
                                _mm_mul_ps(bitsToFloat(kInvLn10Bits), logNormal4(mantissa)));
    return _mm_add_ps(z, _mm_mul_ps(y, bitsToFloat(kLog10Of2HiBits)));
}

[[gnu::always_inline]] inline __m128d powerOfTenHalf(__m128d y) {
    using namespace exact::constants;
    const __m128d shift = _mm_set1_pd(kShiftScaled);
    const __m128d ylogx = _mm_mul_pd(y, _mm_set1_pd(kLog2Of10));
    __m128d kd = _mm_add_pd(ylogx, shift);
    const __m128i ki = _mm_castpd_si128(kd);
    kd = _mm_sub_pd(kd, shift);
    __m128d result = exp2Tail(ki, _mm_sub_pd(ylogx, kd), kExp2Poly);
    result = selectd(_mm_cmpgt_pd(ylogx, _mm_set1_pd(0x1.fffffffd1d571p+6)), _mm_set1_pd(INFINITY), result);
    return _mm_andnot_pd(_mm_cmple_pd(ylogx, _mm_set1_pd(-150.0)), result);
}

[[gnu::always_inline]] inline __m128 powerOfTen4(__m128 y) {
    if (anyNonFinite(y)) return lanewise<exact::powerOfTen>(y);
    const __m128 result = toFloat(powerOfTenHalf(lowToDouble(y)), powerOfTenHalf(highToDouble(y)));
    return select(_mm_cmpeq_ps(y, _mm_setzero_ps()), _mm_set1_ps(1.0f), result);
}

// out[i] = f(in[i]) for count values; in and out may be the same array.
void tanhArray(const float* in, float* out, int count);
void expArray(const float* in, float* out, int count);
void log10Array(const float* in, float* out, int count);
void powerOfTenArray(const float* in, float* out, int count);

} // namespace thraskvell::detail
