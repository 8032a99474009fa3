#include "dsp/ExactMath.h"

#include <bit>
#include <cmath>
#include <limits>

namespace thraskvell::exact {

namespace {

using namespace constants;

std::uint32_t bitsOf(float x) {
    return std::bit_cast<std::uint32_t>(x);
}

float floatOf(std::uint32_t bits) {
    return std::bit_cast<float>(bits);
}

// Top 12 bits without the sign: exponent and the first mantissa bits, for range checks.
std::uint32_t absTop12(float x) {
    return (bitsOf(x) >> 20) & 0x7ff;
}

// s * (c0 r^3 + c1 r^2 + c2 r + 1) with s = 2^(k/32) from the table and the shifted k in ki.
double exp2Tail(std::uint64_t ki, double r, const double (&c)[3]) {
    std::uint64_t t = tables::exp2[ki % 32];
    t += ki << 47;
    const double s = std::bit_cast<double>(t);
    const double z = c[0] * r + c[1];
    const double r2 = r * r;
    double y = c[2] * r + 1;
    y = z * r2 + y;
    return y * s;
}

// Natural logarithm of a positive normal float.
float logNormal(float x) {
    const std::uint32_t ix = bitsOf(x);
    const std::uint32_t tmp = ix - 0x3f330000u;
    const int i = static_cast<int>((tmp >> 19) % 16);
    const int k = static_cast<std::int32_t>(tmp) >> 23;
    const std::uint32_t iz = ix - (tmp & 0xff800000u);
    const double z = floatOf(iz);
    const double r = z * tables::log[i].invc - 1;
    const double y0 = tables::log[i].logc + static_cast<double>(k) * kLn2;
    const double r2 = r * r;
    double y = kLogPoly[1] * r + kLogPoly[2];
    y = kLogPoly[0] * r2 + y;
    y = y * r2 + (y0 + r);
    return static_cast<float>(y);
}

// exp(x) - 1, float arithmetic with a rational correction after reducing by ln 2.
float expm1(float x) {
    const float ln2Hi = floatOf(0x3f317180u), ln2Lo = floatOf(0x3717f7d1u), invLn2 = floatOf(0x3fb8aa3bu);
    const bool negative = (bitsOf(x) & 0x80000000u) != 0;
    const std::uint32_t hx = bitsOf(x) & 0x7fffffffu;
    if (hx >= 0x4195b844u) { // |x| >= 27 ln 2
        if (hx >= 0x42b17218u) {
            if (hx > 0x7f800000u) return x + x;
            if (hx == 0x7f800000u) return negative ? -1.0f : x;
            if (x > floatOf(0x42b17180u)) return std::numeric_limits<float>::infinity();
        }
        if (negative) return 1.0e-30f - 1.0f;
    }
    float c = 0.0f;
    int k = 0;
    if (hx > 0x3eb17218u) { // |x| > ln 2 / 2
        float hi, lo;
        if (hx < 0x3f851592u) { // and < 3 ln 2 / 2
            hi = negative ? x + ln2Hi : x - ln2Hi;
            lo = negative ? -ln2Lo : ln2Lo;
            k = negative ? -1 : 1;
        } else {
            k = static_cast<int>(invLn2 * x + (negative ? -0.5f : 0.5f));
            const float t = static_cast<float>(k);
            hi = x - t * ln2Hi;
            lo = t * ln2Lo;
        }
        x = hi - lo;
        c = (hi - x) - lo;
    } else if (hx < 0x33000000u) { // |x| < 2^-25
        return x;
    }
    const float hfx = 0.5f * x;
    const float hxs = x * hfx;
    const float r1 = 1.0f + hxs * (floatOf(0xbd088889u) +
                                   hxs * (floatOf(0x3ad00d01u) +
                                          hxs * (floatOf(0xb8a670cdu) +
                                                 hxs * (floatOf(0x36867e54u) + hxs * floatOf(0xb457edbbu)))));
    float t = 3.0f - r1 * hfx;
    float e = hxs * ((r1 - t) / (6.0f - x * t));
    if (k == 0) return x - (x * e - hxs);
    e = x * (e - c) - c;
    e -= hxs;
    if (k == -1) return 0.5f * (x - e) - 0.5f;
    if (k == 1) return x < -0.25f ? -2.0f * (e - (x + 0.5f)) : 1.0f + 2.0f * (x - e);
    const auto scaled = [k](float y) { return floatOf(bitsOf(y) + (static_cast<std::uint32_t>(k) << 23)); };
    if (k <= -2 || k > 56) return scaled(1.0f - (e - x)) - 1.0f;
    if (k < 23) return scaled(floatOf(0x3f800000u - (0x1000000u >> k)) - (e - x));
    return scaled(x - (e + floatOf(static_cast<std::uint32_t>(0x7f - k) << 23)) + 1.0f);
}

// Constants and polynomials of sin and cos; the second set computes -cos for free negation.
struct SinCosSet {
    double c0, c1, c2, c3, c4, s1, s2, s3;
};
constexpr SinCosSet kSinCos[2] = {
    {0x1p0, -0x1.ffffffd0c621cp-2, 0x1.55553e1068f19p-5, -0x1.6c087e89a359dp-10, 0x1.99343027bf8c3p-16,
     -0x1.555545995a603p-3, 0x1.1107605230bc4p-7, -0x1.994eb3774cf24p-13},
    {-0x1p0, 0x1.ffffffd0c621cp-2, -0x1.55553e1068f19p-5, 0x1.6c087e89a359dp-10, -0x1.99343027bf8c3p-16,
     -0x1.555545995a603p-3, 0x1.1107605230bc4p-7, -0x1.994eb3774cf24p-13},
};
constexpr double kQuadrantSign[4] = {1.0, -1.0, -1.0, 1.0};
constexpr double kPiOver4 = 0x1.921FB54442D18p-1;

// sin(x) for even n, cos(x) for odd n, with x2 = x * x, x within pi/4.
float sinCosPolynomial(double x, double x2, const SinCosSet& p, int n) {
    if ((n & 1) == 0) {
        const double x3 = x * x2;
        const double s1 = p.s2 + x2 * p.s3;
        const double x7 = x3 * x2;
        const double s = x + x3 * p.s1;
        return static_cast<float>(s + x7 * s1);
    }
    const double x4 = x2 * x2;
    const double c2 = p.c3 + x2 * p.c4;
    const double c1 = p.c0 + x2 * p.c1;
    const double x6 = x4 * x2;
    const double c = c1 + x4 * p.c2;
    return static_cast<float>(c + x6 * c2);
}

// x - n pi/2 within pi/4 for |x| < 120; pi/2 in double holds enough bits for the cancellation there.
double reduceSmall(double x, int& n) {
    const double r = x * 0x1.45F306DC9C883p+23;
    n = (static_cast<std::int32_t>(r) + 0x800000) >> 24;
    return x - n * 0x1.921FB54442D18p0;
}

// Larger magnitudes: an exact fixed-point product with 4/pi to 192 bits.
double reduceLarge(std::uint32_t xi, int& n) {
    static constexpr std::uint32_t kInvPiOver4[24] = {
        0xa2,       0xa2f9,     0xa2f983,   0xa2f9836e, 0xf9836e4e, 0x836e4e44, 0x6e4e4415, 0x4e441529,
        0x441529fc, 0x1529fc27, 0x29fc2757, 0xfc2757d1, 0x2757d1f5, 0x57d1f534, 0xd1f534dd, 0xf534ddc0,
        0x34ddc0db, 0xddc0db62, 0xc0db6295, 0xdb629599, 0x6295993c, 0x95993c43, 0x993c4390, 0x3c439041};
    const std::uint32_t* arr = &kInvPiOver4[(xi >> 26) & 15];
    const int shift = static_cast<int>((xi >> 23) & 7);
    xi = ((xi & 0xffffff) | 0x800000) << shift;
    std::uint64_t res0 = xi * arr[0];
    const std::uint64_t res1 = static_cast<std::uint64_t>(xi) * arr[4];
    const std::uint64_t res2 = static_cast<std::uint64_t>(xi) * arr[8];
    res0 = (res2 >> 32) | (res0 << 32);
    res0 += res1;
    const std::uint64_t quadrant = (res0 + (1ull << 61)) >> 62;
    res0 -= quadrant << 62;
    n = static_cast<int>(quadrant);
    return static_cast<double>(static_cast<std::int64_t>(res0)) * 0x1.921FB54442D18p-62;
}

// sin (cosine = false) or cos of y.
float sinOrCos(float y, bool cosine) {
    double x = y;
    const int parity = cosine ? 1 : 0;
    if (absTop12(y) < absTop12(static_cast<float>(kPiOver4))) {
        if (absTop12(y) < absTop12(0x1p-12f)) return cosine ? 1.0f : y;
        return sinCosPolynomial(x, x * x, kSinCos[0], parity);
    }
    if (absTop12(y) >= absTop12(std::numeric_limits<float>::infinity())) return (y - y) / (y - y);
    int n = 0;
    int quadrant = 0;
    if (absTop12(y) < absTop12(120.0f)) {
        x = reduceSmall(x, n);
        quadrant = n;
    } else {
        x = reduceLarge(bitsOf(y), n);
        quadrant = n + static_cast<int>(bitsOf(y) >> 31);
    }
    const SinCosSet& p = kSinCos[(quadrant & 2) ? 1 : 0];
    return sinCosPolynomial(x * kQuadrantSign[quadrant & 3], x * x, p, n ^ parity);
}

} // namespace

float exp(float x) {
    const std::uint32_t top = absTop12(x);
    if (top >= absTop12(88.0f)) {
        if (bitsOf(x) == bitsOf(-std::numeric_limits<float>::infinity())) return 0.0f;
        if (top >= absTop12(std::numeric_limits<float>::infinity())) return x + x;
        if (x > 0x1.62e42ep6f) return std::numeric_limits<float>::infinity();
        if (x < -0x1.9fe368p6f) return 0.0f;
    }
    const double z = kInvLn2Scaled * static_cast<double>(x);
    double kd = z + kShift;
    const std::uint64_t ki = std::bit_cast<std::uint64_t>(kd);
    kd -= kShift;
    return static_cast<float>(exp2Tail(ki, z - kd, kExpPoly));
}

float log10(float x) {
    std::int32_t hx = static_cast<std::int32_t>(bitsOf(x));
    int k = 0;
    if (hx < 0x00800000) {
        if ((hx & 0x7fffffff) == 0) return -std::numeric_limits<float>::infinity();
        if (hx < 0) return (x - x) / (x - x);
        k -= 25;
        x *= 0x1p25f;
        hx = static_cast<std::int32_t>(bitsOf(x));
    }
    if (hx >= 0x7f800000) return x + x;
    k += (hx >> 23) - 127;
    const int below = k < 0 ? 1 : 0;
    hx = (hx & 0x007fffff) | ((0x7f - below) << 23);
    const float y = static_cast<float>(k + below);
    const float z = y * floatOf(kLog10Of2LoBits) + floatOf(kInvLn10Bits) * logNormal(floatOf(hx));
    return z + y * floatOf(kLog10Of2HiBits);
}

float powerOfTen(float y) {
    const std::uint32_t iy = bitsOf(y);
    if (2 * iy - 1 >= 2u * 0x7f800000u - 1) { // zero, infinite or NaN
        if (2 * iy == 0) return 1.0f;
        if (2 * iy > 2u * 0x7f800000u) return 10.0f + y;
        return (iy & 0x80000000u) != 0 ? 0.0f : std::numeric_limits<float>::infinity();
    }
    const double ylogx = static_cast<double>(y) * kLog2Of10;
    if (((std::bit_cast<std::uint64_t>(ylogx) >> 47) & 0xffff) >= std::bit_cast<std::uint64_t>(126.0) >> 47) {
        if (ylogx > 0x1.fffffffd1d571p+6) return std::numeric_limits<float>::infinity();
        if (ylogx <= -150.0) return 0.0f;
    }
    double kd = ylogx + kShiftScaled;
    const std::uint64_t ki = std::bit_cast<std::uint64_t>(kd);
    kd -= kShiftScaled;
    return static_cast<float>(exp2Tail(ki, ylogx - kd, kExp2Poly));
}

float sin(float x) {
    return sinOrCos(x, false);
}

float cos(float x) {
    return sinOrCos(x, true);
}

float tanh(float x) {
    const std::uint32_t ix = bitsOf(x) & 0x7fffffffu;
    const bool negative = (bitsOf(x) & 0x80000000u) != 0;
    if (ix >= 0x7f800000u) return negative ? 1.0f / x - 1.0f : 1.0f / x + 1.0f;
    float z;
    if (ix < 0x41b00000u) { // |x| < 22
        if (ix == 0) return x;
        if (ix < 0x24000000u) return x * (1.0f + x);
        if (ix >= 0x3f800000u) {
            const float t = expm1(2.0f * std::fabs(x));
            z = 1.0f - 2.0f / (t + 2.0f);
        } else {
            const float t = expm1(-2.0f * std::fabs(x));
            z = -t / (t + 2.0f);
        }
    } else {
        z = 1.0f - 1.0e-30f;
    }
    return negative ? -z : z;
}

} // namespace thraskvell::exact
