#include "dsp/ExactMath.h"
#ifndef THRASKVELL_PORTABLE_KERNEL
#include "dsp/VectorMath.h"
#endif

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <vector>

namespace thraskvell {
namespace {

bool same(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b) ||
           (std::isnan(a) && std::isnan(b));
}

// A stride over all 2^32 inputs, the chain's usual range finely, and every magnitude where an
// evaluation changes range (tiny, reductions, pi/4, 1, 22, 88, 104, 120, normal limits) densely.
std::vector<float> probes() {
    std::vector<float> inputs;
    for (std::uint64_t b = 0; b < (1ull << 32); b += 65521)
        inputs.push_back(std::bit_cast<float>(std::uint32_t(b)));
    for (std::uint32_t edge : {0x00000000u, 0x00800000u, 0x24000000u, 0x33000000u, 0x39800000u, 0x3eb17218u,
                               0x3f490fdbu, 0x3f800000u, 0x3f851592u, 0x41102cb4u, 0x4195b844u, 0x41b00000u,
                               0x42b00000u, 0x42b17218u, 0x42cff1b5u, 0x42f00000u, 0x7f7fffffu, 0x7f800000u})
        for (std::uint32_t d = 0; d < 2048; ++d)
            for (std::uint32_t sign : {0u, 0x80000000u})
                inputs.insert(inputs.end(), {std::bit_cast<float>((edge + d) | sign),
                                             std::bit_cast<float>((edge >= d ? edge - d : 0) | sign)});
    // The shaper's usual range, 2^-12 to 16 in magnitude: one float in 251.
    for (std::uint32_t b = 0x39800000u; b < 0x41800000u; b += 251)
        for (std::uint32_t sign : {0u, 0x80000000u})
            inputs.push_back(std::bit_cast<float>(b | sign));
    inputs.resize(inputs.size() / 8 * 8); // then tails for the four-lane and the scalar remainder
    inputs.insert(inputs.end(), {0.1f, -0.7f, 1.3f, 2.9f, -0.05f, 4.0f, 0.6f});
    return inputs;
}

// The sound rests on these functions agreeing bit for bit with the C library's generic algorithms,
// everywhere, and on the kernel's vector forms agreeing with them. On other targets the C library
// itself may differ; the kernel's output digest checks the functions there.
TEST(ExactMath, MatchesTheCLibraryAndTheVectorForms) {
    using Array = void (*)(const float*, float*, int, bool);
#ifdef THRASKVELL_PORTABLE_KERNEL
    const Array vectorForm[4] = {};
    const bool avx2 = false;
#else
    const Array vectorForm[4] = {detail::expArray, detail::log10Array, detail::powerOfTenArray,
                                 detail::tanhArray};
    const bool avx2 = __builtin_cpu_supports("avx2");
#endif
    const struct {
        const char* name;
        float (*exact)(float);
        float (*library)(float);
        Array array;
    } functions[] = {
        {"exp", exact::exp, [](float x) { return std::exp(x); }, vectorForm[0]},
        {"log10", exact::log10, [](float x) { return std::log10(x); }, vectorForm[1]},
        {"10^y", exact::powerOfTen, [](float x) { return std::pow(10.0f, x); }, vectorForm[2]},
        {"sin", exact::sin, [](float x) { return std::sin(x); }, nullptr},
        {"cos", exact::cos, [](float x) { return std::cos(x); }, nullptr},
        {"tanh", exact::tanh, [](float x) { return std::tanh(x); }, vectorForm[3]},
    };
    const std::vector<float> inputs = probes();
    for (const auto& f : functions) {
        int mismatches = 0;
#if defined(__GLIBC__) && defined(__x86_64__)
        for (float x : inputs)
            if (!same(f.exact(x), f.library(x)) && ++mismatches < 5)
                ADD_FAILURE() << f.name << std::hexfloat << "(" << x << ") gives " << f.exact(x)
                              << ", C library " << f.library(x);
#endif
        for (bool wide : {false, true}) {
            if (!f.array || (wide && !avx2)) continue;
            std::vector<float> lanes(inputs.size());
            f.array(inputs.data(), lanes.data(), static_cast<int>(inputs.size()), wide);
            for (std::size_t i = 0; i < inputs.size(); ++i)
                if (!same(lanes[i], f.exact(inputs[i])) && ++mismatches < 5)
                    ADD_FAILURE() << f.name << std::hexfloat << "(" << inputs[i] << ") in " << (wide ? 8 : 4)
                                  << " lanes gives " << lanes[i] << ", one lane " << f.exact(inputs[i]);
        }
        EXPECT_EQ(mismatches, 0) << f.name;
    }
}

} // namespace
} // namespace thraskvell
