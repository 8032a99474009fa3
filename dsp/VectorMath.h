// Single-precision exp, log10, 10^y and tanh four or eight lanes at a time, bit-identical to
// dsp/ExactMath.h.
//
// The sound is defined by those functions; a faster approximation would change it. Each lane takes
// the scalar function's own steps in its own precision and order (exp, log10 and 10^y in double,
// tanh in float), so each rounds exactly as the scalar one would. A vector holding an input the
// chain never produces (non-finite, or for log10 not positive and normal) is handed to the scalar
// functions lane by lane. tests/dsp/ExactMathTest.cpp compares both with the C library.
//
// Private to the DSP core. Threads: pure functions; any thread; real-time safe.
#pragma once

#include "dsp/ExactMath.h"

#include <bit>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include <immintrin.h> // declares the AVX builtins

namespace thraskvell::detail {

// W single-precision lanes (4: one SSE2 register, 8: one AVX2 register) and their companions, as
// the compiler's generic vectors: the same source serves both widths, and each operator is the
// lane's own IEEE operation.
template <int W> struct Lanes {
    using F [[gnu::vector_size(4 * W)]] = float;
    using I [[gnu::vector_size(4 * W)]] = std::int32_t;
    using D [[gnu::vector_size(8 * W)]] = double;
    using L [[gnu::vector_size(8 * W)]] = std::int64_t;
};

// Never a call, so no vector crosses a function boundary whose calling convention would depend on
// the instruction set (std::bit_cast is an ordinary function).
template <class To, class From> [[gnu::always_inline]] inline To bitCast(const From& v) {
    return __builtin_bit_cast(To, v);
}

// Integer lane arithmetic on bit patterns that wraps, as the scalar code's unsigned arithmetic does:
// lanes whose result is later discarded may overflow.
template <class V> [[gnu::always_inline]] inline V wrappingAdd(V a, V b) {
    using Element = std::make_unsigned_t<std::remove_cvref_t<decltype(a[0])>>;
    using Unsigned [[gnu::vector_size(sizeof(V))]] = Element;
    return bitCast<V>(bitCast<Unsigned>(a) + bitCast<Unsigned>(b));
}

template <class V> [[gnu::always_inline]] inline V wrappingSub(V a, V b) {
    using Element = std::make_unsigned_t<std::remove_cvref_t<decltype(a[0])>>;
    using Unsigned [[gnu::vector_size(sizeof(V))]] = Element;
    return bitCast<V>(bitCast<Unsigned>(a) - bitCast<Unsigned>(b));
}

template <class V> [[gnu::always_inline]] inline V wrappingShiftLeft(V a, int bits) {
    using Element = std::make_unsigned_t<std::remove_cvref_t<decltype(a[0])>>;
    using Unsigned [[gnu::vector_size(sizeof(V))]] = Element;
    return bitCast<V>(bitCast<Unsigned>(a) << bits);
}

// One bit per lane of a comparison's result (each lane all ones or all zeros), lane l in bit l: one
// sign-bit extraction, where reducing the vector in its own registers would take five instructions.
template <class V> [[gnu::always_inline]] inline int laneBits(V mask) {
    constexpr int lanes = sizeof(V) / 4;
    using Signs = typename Lanes<lanes>::F;
#if defined(__GNUC__) && !defined(__clang__)
    // GCC checks a builtin's instruction set where it is expanded, after inlining: the eight-lane
    // form only ever lands in AVX2 code.
    if constexpr (lanes == 8)
        return __builtin_ia32_movmskps256(bitCast<Signs>(mask));
    else
        return __builtin_ia32_movmskps(bitCast<Signs>(mask));
#else
    // Clang checks it in the function that names it; the generic form serves its builds.
    const auto words = bitCast<typename Lanes<lanes>::I>(bitCast<Signs>(mask));
    int bits = 0;
    for (int l = 0; l < lanes; ++l)
        bits |= (words[l] < 0 ? 1 : 0) << l;
    return bits;
#endif
}

template <class V> [[gnu::always_inline]] inline bool anyLane(V mask) {
    return laneBits(mask) != 0;
}

// By reference: a vector argument's passing would depend on the caller's instruction set.
template <int W, float (*Scalar)(float)> void eachLane(typename Lanes<W>::F& x) {
    for (int l = 0; l < W; ++l)
        x[l] = Scalar(x[l]);
}

template <int W> [[gnu::always_inline]] inline bool anyNonFinite(typename Lanes<W>::F x) {
    using I = typename Lanes<W>::I;
    return anyLane((bitCast<I>(x) & 0x7f800000) == 0x7f800000);
}

// Which arguments a vector of tanh holds, so that expm1 evaluates only the cases they reach.
enum class TanhRange {
    any,
    belowOne, // |x| < 1: expm1 of (-2, 0], k from 0 down to -3
    fromOne,  // |x| >= 1: expm1 of [2, 44), k from 3 up (above 26 only where tanh is exactly +-1)
};

// exp(a) - 1 for a in [2, 44) (positive) or (-2, -2^-54] (negative): the only arguments tanh
// passes on for finite inputs it does not answer directly.
template <int W, TanhRange R>
[[gnu::always_inline]] inline typename Lanes<W>::F expm1Tanh(typename Lanes<W>::F a) {
    using F = typename Lanes<W>::F;
    using I = typename Lanes<W>::I;
    const auto real = [](std::uint32_t bits) { return bitCast<float>(bits); };
    const auto asFloat = [](I v) { return bitCast<F>(v); };
    const auto asInt = [](F v) { return bitCast<I>(v); };
    const float ln2Hi = real(0x3f317180u), ln2Lo = real(0x3717f7d1u), invLn2 = real(0x3fb8aa3bu);
    const F zero = F{}, one = zero + 1.0f, half = zero + 0.5f;
    const I magnitude = asInt(a) & 0x7fffffff;

    // Reduction a = k ln2 + r. Between 0.5 ln2 and 1.5 ln2 (negative side only here) k is -1 with a
    // two-part ln2; beyond, k is rounded away from zero by truncating a ln2 quotient plus a half.
    I k;
    F x, c;
    if constexpr (R == TanhRange::fromOne) {
        k = __builtin_convertvector(invLn2 * a + half, I);
        const F kf = __builtin_convertvector(k, F);
        const F hi = a - kf * ln2Hi, lo = kf * ln2Lo;
        x = hi - lo;
        c = (hi - x) - lo;
    } else {
        const I reduced = magnitude > 0x3eb17218;
        const I nearOne = reduced & (magnitude < 0x3f851592);
        const F roundBias = R == TanhRange::belowOne ? zero - 0.5f : (a < zero ? zero - 0.5f : half);
        const I kGeneral = __builtin_convertvector(invLn2 * a + roundBias, I);
        const F kf = __builtin_convertvector(kGeneral, F);
        const F hi = nearOne ? a + ln2Hi : a - kf * ln2Hi;
        const F lo = nearOne ? zero - ln2Lo : kf * ln2Lo;
        k = (nearOne ? I{} - 1 : kGeneral) & reduced;
        const F rx = hi - lo;
        x = reduced ? rx : a;
        c = reduced ? (hi - rx) - lo : zero;
    }

    // Rational correction on the primary range.
    const F hfx = half * x;
    const F hxs = x * hfx;
    F poly = hxs * real(0xb457edbbu);
    poly = hxs * (real(0x36867e54u) + poly);
    poly = hxs * (real(0xb8a670cdu) + poly);
    poly = hxs * (real(0x3ad00d01u) + poly);
    poly = hxs * (real(0xbd088889u) + poly);
    const F r1 = one + poly;
    const F t = (zero + 3.0f) - r1 * hfx;
    F e = hxs * ((r1 - t) / ((zero + 6.0f) - x * t));

    // k = 0: no reduction happened.
    const F resultK0 = x - (x * e - hxs);
    e = (x * (e - c) - c) - hxs;
    const I exponentShift = wrappingShiftLeft(k, 23);
    F result;
    if constexpr (R != TanhRange::belowOne) {
        // 2 <= k < 23: fold 1 - 2^-k in before scaling; 2^-k built in the exponent field.
        const I shiftedInt =
            __builtin_convertvector(asFloat(wrappingShiftLeft(wrappingSub(I{} + (0x7f + 24), k), 23)), I);
        const F resultMid = asFloat(
            wrappingAdd(asInt(asFloat(wrappingSub(I{} + 0x3f800000, shiftedInt)) - (e - x)), exponentShift));
        // 23 <= k <= 56: 2^-k is tiny against 1.
        const F resultHigh = asFloat(
            wrappingAdd(asInt((x - (e + asFloat(wrappingShiftLeft(wrappingSub(I{} + 0x7f, k), 23)))) + one),
                        exponentShift));
        result = k < 23 ? resultMid : resultHigh;
        if constexpr (R == TanhRange::fromOne) return result;
    }
    // k = -1.
    const F resultKm1 = half * (x - e) - half;
    // k <= -2 or k > 56: scale 1 - (e - x), then take the 1 off.
    const F resultWide = asFloat(wrappingAdd(asInt(one - (e - x)), exponentShift)) - one;
    result = R == TanhRange::belowOne ? resultWide : (((k < -1) | (k > 56)) ? resultWide : result);
    result = k == -1 ? resultKm1 : result;
    result = k == 0 ? resultK0 : result;
    // Below 2^-25 exp(a) - 1 is a itself.
    return magnitude < 0x33000000 ? a : result;
}

// Finite lanes only.
template <int W, TanhRange R>
[[gnu::always_inline]] inline typename Lanes<W>::F tanhFinite(typename Lanes<W>::F x) {
    using F = typename Lanes<W>::F;
    using I = typename Lanes<W>::I;
    const I bits = bitCast<I>(x);
    const I magnitude = bits & 0x7fffffff;
    const I sign = bits & INT32_MIN;
    const F zero = F{}, one = zero + 1.0f, two = zero + 2.0f;
    const F ax = bitCast<F>(magnitude);

    // |x| >= 1 takes exp(2|x|) - 1 and 1 - 2/(t + 2); below 1, exp(-2|x|) - 1 and -t/(t + 2).
    if constexpr (R == TanhRange::fromOne) {
        const F t = expm1Tanh<W, R>(two * ax);
        // From 9.01 on the result is exactly 1, where expm1 took no care.
        const F z = magnitude > 0x41102cb3 ? one : one - two / (t + two);
        return bitCast<F>(bitCast<I>(z) ^ sign);
    }
    F z;
    if constexpr (R == TanhRange::belowOne) {
        const F t = expm1Tanh<W, R>(-(two * ax));
        z = -t / (t + two);
    } else {
        const I large = magnitude > 0x3f7fffff;
        const F arg = bitCast<F>(bitCast<I>(two * ax) ^ (large ? I{} : I{} + INT32_MIN));
        const F t = expm1Tanh<W, R>(arg);
        const F quotient = (large ? two : -t) / (t + two);
        z = large ? one - quotient : quotient;
        // Past 22, 1 - 1e-30 rounds to 1.
        z = magnitude > 0x41afffff ? one : z;
    }
    z = bitCast<F>(bitCast<I>(z) ^ sign);
    // Tiny arguments: x (1 + x); zero stays zero with its sign.
    z = magnitude < 0x24000000 ? x * (one + x) : z;
    return magnitude == 0 ? x : z;
}

// Where the fuzz saturates, whole vectors need no evaluation: from 0x41102cb4 (about 9.01) up to
// infinity tanhf is exactly +-1. Vectors wholly on one side of 1 take only that side's cases.
// Unchecked (Checked = false), here and in exp, the caller vouches for finite lanes.
template <int W, bool Checked = true>
[[gnu::always_inline]] inline typename Lanes<W>::F tanhLanes(typename Lanes<W>::F x) {
    using F = typename Lanes<W>::F;
    using I = typename Lanes<W>::I;
    const I bits = bitCast<I>(x);
    const I magnitude = bits & 0x7fffffff;
    if (!anyLane((magnitude < 0x41102cb4) | (magnitude > 0x7f800000)))
        return bitCast<F>((bits & INT32_MIN) | bitCast<std::int32_t>(1.0f));
    if (Checked && anyNonFinite<W>(x)) {
        eachLane<W, exact::tanh>(x);
        return x;
    }
    const int large = laneBits(magnitude > 0x3f7fffff);
    if (large == (1 << W) - 1) return tanhFinite<W, TanhRange::fromOne>(x);
    if (large == 0) return tanhFinite<W, TanhRange::belowOne>(x);
    return tanhFinite<W, TanhRange::any>(x);
}

#if defined(__GNUC__) && !defined(__clang__)
// The logarithm's sixteen-entry tables are looked up eight lanes at a time by permutation (vpermd),
// which GCC's variable shuffles give: two permutations and a blend for each word, fewer instructions
// and less time than loading and inserting each entry. Exp's 32 entries would take eight
// permutations, which measured slower than the loads on Zen 3. (Clang has no variable shuffle; its
// builds look up lane by lane.)
#define THRASKVELL_PERMUTED_LOOKUPS 1

// The low and the high words of sixteen doubles.
struct WordTable {
    alignas(32) std::int32_t low[16];
    alignas(32) std::int32_t high[16];
};

template <class Field> constexpr WordTable wordTable(Field field) {
    WordTable table{};
    for (int i = 0; i < 16; ++i) {
        const auto bits = std::bit_cast<std::uint64_t>(field(exact::tables::log[i]));
        table.low[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits));
        table.high[i] = static_cast<std::int32_t>(static_cast<std::uint32_t>(bits >> 32));
    }
    return table;
}

inline constexpr WordTable kLogInverseC = wordTable([](exact::tables::LogEntry entry) { return entry.invc; });
inline constexpr WordTable kLogC = wordTable([](exact::tables::LogEntry entry) { return entry.logc; });

// table[index[l]] for eight lanes, index in [0, 16).
template <int W>
[[gnu::always_inline]] inline typename Lanes<W>::D lookUp(const WordTable& table,
                                                          typename Lanes<W>::I index) {
    static_assert(W == 8);
    using I = typename Lanes<W>::I;
    I low[2], high[2];
    std::memcpy(low, table.low, sizeof low);
    std::memcpy(high, table.high, sizeof high);
    // Pairing the words interleaves within 128-bit halves; fetched in this order, they pair up
    // in lane order.
    const I order = __builtin_shufflevector(index, index, 0, 1, 4, 5, 2, 3, 6, 7);
    const I lows = __builtin_shuffle(low[0], low[1], order);
    const I highs = __builtin_shuffle(high[0], high[1], order);
    using Half = typename Lanes<W / 2>::D;
    const Half first = bitCast<Half>(__builtin_shufflevector(lows, highs, 0, 8, 1, 9, 4, 12, 5, 13));
    const Half second = bitCast<Half>(__builtin_shufflevector(lows, highs, 2, 10, 3, 11, 6, 14, 7, 15));
    return __builtin_shufflevector(first, second, 0, 1, 2, 3, 4, 5, 6, 7);
}
#endif

// 2^(k/32) times the cubic in r, for lanes whose k sits in the low bits of ki.
template <int W>
[[gnu::always_inline]] inline typename Lanes<W>::D exp2Tail(typename Lanes<W>::L ki, typename Lanes<W>::D r,
                                                            const double (&c)[3]) {
    using D = typename Lanes<W>::D;
    using L = typename Lanes<W>::L;
    L t;
    for (int l = 0; l < W; ++l)
        t[l] = static_cast<std::int64_t>(exact::tables::exp2[ki[l] & 31]);
    const D s = bitCast<D>(wrappingAdd(t, wrappingShiftLeft(ki, 47)));
    const D z = c[0] * r + c[1];
    const D r2 = r * r;
    D y = c[2] * r + 1.0;
    y = z * r2 + y;
    return y * s;
}

template <int W, bool Checked = true>
[[gnu::always_inline]] inline typename Lanes<W>::F expLanes(typename Lanes<W>::F x) {
    using F = typename Lanes<W>::F;
    using D = typename Lanes<W>::D;
    using L = typename Lanes<W>::L;
    using namespace exact::constants;
    if (Checked && anyNonFinite<W>(x)) {
        eachLane<W, exact::exp>(x);
        return x;
    }
    const D z = kInvLn2Scaled * __builtin_convertvector(x, D);
    const D shifted = z + kShift;
    F result = __builtin_convertvector(exp2Tail<W>(bitCast<L>(shifted), z - (shifted - kShift), kExpPoly), F);
    result = x > 0x1.62e42ep6f ? F{} + INFINITY : result;
    return x < -0x1.9fe368p6f ? F{} : result;
}

// Positive normal lanes only: the rest goes to the scalar function.
template <int W> [[gnu::always_inline]] inline typename Lanes<W>::F log10Lanes(typename Lanes<W>::F x) {
    using F = typename Lanes<W>::F;
    using I = typename Lanes<W>::I;
    using D = typename Lanes<W>::D;
    using namespace exact::constants;
    const I hx = bitCast<I>(x);
    if (anyLane((hx < 0x00800000) | (hx > 0x7f7fffff))) {
        eachLane<W, exact::log10>(x);
        return x;
    }
    // x = 2^y m with m in [0.5, 2): the exponent below zero takes the lower half.
    const I k = (hx >> 23) - 127;
    const I below = k < 0; // -1 where k < 0
    const F y = __builtin_convertvector(k - below, F);
    const I ix = (hx & 0x007fffff) | ((0x7f + below) << 23);

    // Natural logarithm of m from the table, in double.
    const I tmp = ix - 0x3f330000;
    const I index = (tmp >> 19) & 15;
    const D z = __builtin_convertvector(bitCast<F>(ix - (tmp & static_cast<std::int32_t>(0xff800000u))), D);
    D invc, logc;
#ifdef THRASKVELL_PERMUTED_LOOKUPS
    if constexpr (W == 8) {
        invc = lookUp<W>(kLogInverseC, index);
        logc = lookUp<W>(kLogC, index);
    } else
#endif
        for (int l = 0; l < W; ++l) {
            invc[l] = exact::tables::log[index[l]].invc;
            logc[l] = exact::tables::log[index[l]].logc;
        }
    const D r = z * invc - 1.0;
    const D y0 = logc + __builtin_convertvector(tmp >> 23, D) * kLn2;
    const D r2 = r * r;
    D p = kLogPoly[1] * r + kLogPoly[2];
    p = kLogPoly[0] * r2 + p;
    p = p * r2 + (y0 + r);
    const F ln = __builtin_convertvector(p, F);

    const auto real = [](std::uint32_t bits) { return bitCast<float>(bits); };
    const F sum = y * real(kLog10Of2LoBits) + real(kInvLn10Bits) * ln;
    return sum + y * real(kLog10Of2HiBits);
}

// Lane masks of v > c. Compared whole, doubles wider than one register are split into single lanes
// by the compiler, so they are compared a register at a time: four (AVX) of eight, two (SSE2) of four.
template <int W> [[gnu::always_inline]] inline typename Lanes<W>::L above(typename Lanes<W>::D v, double c) {
    if constexpr (W == 8) {
        const typename Lanes<4>::D low = __builtin_shufflevector(v, v, 0, 1, 2, 3);
        const typename Lanes<4>::D high = __builtin_shufflevector(v, v, 4, 5, 6, 7);
        return __builtin_shufflevector(low > c, high > c, 0, 1, 2, 3, 4, 5, 6, 7);
    } else {
        static_assert(W == 4);
        const typename Lanes<2>::D low = __builtin_shufflevector(v, v, 0, 1);
        const typename Lanes<2>::D high = __builtin_shufflevector(v, v, 2, 3);
        return __builtin_shufflevector(low > c, high > c, 0, 1, 2, 3);
    }
}

template <int W> [[gnu::always_inline]] inline typename Lanes<W>::F powerOfTenLanes(typename Lanes<W>::F y) {
    using F = typename Lanes<W>::F;
    using D = typename Lanes<W>::D;
    using L = typename Lanes<W>::L;
    using namespace exact::constants;
    if (anyNonFinite<W>(y)) {
        eachLane<W, exact::powerOfTen>(y);
        return y;
    }
    const D ylogx = __builtin_convertvector(y, D) * kLog2Of10;
    const D shifted = ylogx + kShiftScaled;
    D result = exp2Tail<W>(bitCast<L>(shifted), ylogx - (shifted - kShiftScaled), kExp2Poly);
    const L over = above<W>(ylogx, 0x1.fffffffd1d571p+6);
    const L under = ~above<W>(ylogx, -150.0); // ylogx is never NaN here
    result = bitCast<D>(((bitCast<L>(result) & ~over) | (bitCast<L>(D{} + INFINITY) & over)) & ~under);
    // y = +-0 needs no case of its own: r is 0 and the table's first entry is exactly 1.
    return __builtin_convertvector(result, F);
}

// out[i] = f(in[i]) for count values, W at a time; in and out may be the same array.
template <int W, typename Lanes<W>::F (*Vector)(typename Lanes<W>::F), float (*Scalar)(float)>
[[gnu::always_inline]] inline void mapLanes(const float* in, float* out, int count) {
    typename Lanes<W>::F v;
    int i = 0;
    for (; i + W <= count; i += W) {
        std::memcpy(&v, in + i, sizeof v);
        v = Vector(v);
        std::memcpy(out + i, &v, sizeof v);
    }
    for (; i < count; ++i)
        out[i] = Scalar(in[i]);
}

// The same, four lanes at a time or, when avx2 is set (the CPU must have AVX2), eight.
void tanhArray(const float* in, float* out, int count, bool avx2 = false);
void expArray(const float* in, float* out, int count, bool avx2 = false);
void log10Array(const float* in, float* out, int count, bool avx2 = false);
void powerOfTenArray(const float* in, float* out, int count, bool avx2 = false);

} // namespace thraskvell::detail
