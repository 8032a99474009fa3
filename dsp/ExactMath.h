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
extern const std::uint64_t exp2[32];
// 1/c and log(c) for the sixteen subintervals of [0x3f330000, 2 * 0x3f330000) around c.
struct LogEntry {
    double invc;
    double logc;
};
extern const LogEntry log[16];
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
