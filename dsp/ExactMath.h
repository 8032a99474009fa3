// The single-precision functions the chain and its filter designs call, as the project's own code.
//
// The sound is defined bit for bit by the GNU C library's float functions (expf, log10f,
// powf(10, y), sinf, cosf, tanhf): the generic algorithms its sources state, in plain double or float
// arithmetic in written order, without fused multiply-adds. Other C libraries, and the same one built
// for another CPU (aarch64 fuses multiply-adds, x86-64 picks FMA variants at run time), differ in
// rare last bits; these functions do not, so the sound is the same on every machine.
// tests/dsp/ExactMathTest.cpp compares them with the C library's generic build, and
// bench/ExactMathSweep.cpp does so over all 2^32 inputs: every one matches. (x86-64 glibc 2.36's FMA
// variants differ from that build on two expf and 34 sinf/cosf inputs, none an angle the designs use.)
//
// Threads: pure functions; any thread; real-time safe.
#pragma once

#include <cstdint>

namespace thraskvell::exact {

float exp(float x);
float log10(float x);
// 10^y, as powf(10, y) evaluates it.
float powerOfTen(float y);
float sin(float x);
float cos(float x);
float tanh(float x);

namespace tables {
// 2^(i/32) as doubles with i << 47 taken off their bits, so that adding k << 47 scales by 2^(k/32).
inline constexpr std::uint64_t exp2[32] = {
    0x3ff0000000000000, 0x3fefd9b0d3158574, 0x3fefb5586cf9890f, 0x3fef9301d0125b51, 0x3fef72b83c7d517b,
    0x3fef54873168b9aa, 0x3fef387a6e756238, 0x3fef1e9df51fdee1, 0x3fef06fe0a31b715, 0x3feef1a7373aa9cb,
    0x3feedea64c123422, 0x3feece086061892d, 0x3feebfdad5362a27, 0x3feeb42b569d4f82, 0x3feeab07dd485429,
    0x3feea47eb03a5585, 0x3feea09e667f3bcd, 0x3fee9f75e8ec5f74, 0x3feea11473eb0187, 0x3feea589994cce13,
    0x3feeace5422aa0db, 0x3feeb737b0cdc5e5, 0x3feec49182a3f090, 0x3feed503b23e255d, 0x3feee89f995ad3ad,
    0x3feeff76f2fb5e47, 0x3fef199bdd85529c, 0x3fef3720dcef9069, 0x3fef5818dcfba487, 0x3fef7c97337b9b5f,
    0x3fefa4afa2a490da, 0x3fefd0765b6e4540,
};

// 1/c and log(c) for the sixteen subintervals of [0x3f330000, 2 * 0x3f330000) around c.
struct LogEntry {
    double invc;
    double logc;
};
inline constexpr LogEntry log[16] = {
    {0x1.661ec79f8f3bep+0, -0x1.57bf7808caadep-2}, {0x1.571ed4aaf883dp+0, -0x1.2bef0a7c06ddbp-2},
    {0x1.49539f0f010bp+0, -0x1.01eae7f513a67p-2},  {0x1.3c995b0b80385p+0, -0x1.b31d8a68224e9p-3},
    {0x1.30d190c8864a5p+0, -0x1.6574f0ac07758p-3}, {0x1.25e227b0b8eap+0, -0x1.1aa2bc79c81p-3},
    {0x1.1bb4a4a1a343fp+0, -0x1.a4e76ce8c0e5ep-4}, {0x1.12358f08ae5bap+0, -0x1.1973c5a611cccp-4},
    {0x1.0953f419900a7p+0, -0x1.252f438e10c1ep-5}, {0x1p+0, 0x0p+0},
    {0x1.e608cfd9a47acp-1, 0x1.aa5aa5df25984p-5},  {0x1.ca4b31f026aap-1, 0x1.c5e53aa362eb4p-4},
    {0x1.b2036576afce6p-1, 0x1.526e57720db08p-3},  {0x1.9c2d163a1aa2dp-1, 0x1.bc2860d22477p-3},
    {0x1.886e6037841edp-1, 0x1.1058bc8a07ee1p-2},  {0x1.767dcf5534862p-1, 0x1.4043057b6ee09p-2},
};
} // namespace tables

namespace constants {
inline constexpr double kInvLn2Scaled = 0x1.71547652b82fep+0 * 32;
inline constexpr double kShift = 0x1.8p+52;
inline constexpr double kShiftScaled = 0x1.8p+52 / 32;
// exp2 polynomial: unscaled for powf, scaled by 1/32 per power of r for expf.
inline constexpr double kExp2Poly[3] = {0x1.c6af84b912394p-5, 0x1.ebfce50fac4f3p-3, 0x1.62e42ff0c52d6p-1};
inline constexpr double kExpPoly[3] = {0x1.c6af84b912394p-5 / 32 / 32 / 32, 0x1.ebfce50fac4f3p-3 / 32 / 32,
                                       0x1.62e42ff0c52d6p-1 / 32};
inline constexpr double kLn2 = 0x1.62e42fefa39efp-1;
inline constexpr double kLogPoly[3] = {-0x1.00ea348b88334p-2, 0x1.5575b0be00b6ap-2, -0x1.ffffef20a4123p-2};
// log2(10) as powf's own logarithm evaluates it for x = 10: its subinterval 13, z = 1.25, k = 3.
inline constexpr double kLog2Of10 = [] {
    const double invc = 0x1.9c2d163a1aa2dp-1, logc = 0x1.40645f0c6651cp-2;
    const double a[5] = {0x1.27616c9496e0bp-2, -0x1.71969a075c67ap-2, 0x1.ec70a6ca7baddp-2,
                         -0x1.7154748bef6c8p-1, 0x1.71547652ab82bp0};
    const double r = 1.25 * invc - 1;
    const double y0 = logc + 3.0;
    const double r2 = r * r;
    const double y = a[0] * r + a[1];
    const double p = a[2] * r + a[3];
    const double r4 = r2 * r2;
    double q = a[4] * r + y0;
    q = p * r2 + q;
    return y * r4 + q;
}();
// log10 in float: 1/ln 10 and log10(2) split in two.
inline constexpr std::uint32_t kInvLn10Bits = 0x3ede5bd9u;
inline constexpr std::uint32_t kLog10Of2HiBits = 0x3e9a2080u;
inline constexpr std::uint32_t kLog10Of2LoBits = 0x355427dbu;
} // namespace constants

} // namespace thraskvell::exact
