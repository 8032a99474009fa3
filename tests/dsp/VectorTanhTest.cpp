#include "dsp/VectorTanh.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace thraskvell::detail {
namespace {

// The sound depends on the vector tanh agreeing with tanhf bit for bit. A full sweep takes minutes; here
// every branch boundary is covered densely, the shaper's usual range finely and the rest by a stride.
TEST(VectorTanh, MatchesLibraryTanhBitForBit) {
    const float inf = std::numeric_limits<float>::infinity();
    std::vector<float> inputs{std::numeric_limits<float>::quiet_NaN(), -inf};
    for (std::uint64_t b = 0; b < (1ull << 32); b += 65521)
        inputs.push_back(std::bit_cast<float>(std::uint32_t(b)));
    // Magnitudes where the evaluation changes range: tiny, reduction thresholds, 1, 22, the largest.
    for (std::uint32_t edge : {0x00000000u, 0x24000000u, 0x33000000u, 0x3e317218u, 0x3eb17218u, 0x3f051592u,
                               0x3f800000u, 0x3f851592u, 0x4195b844u, 0x41b00000u, 0x7f7fffffu, 0x7f800000u})
        for (std::uint32_t d = 0; d < 4096; ++d)
            for (std::uint32_t sign : {0u, 0x80000000u})
                inputs.insert(inputs.end(), {std::bit_cast<float>((edge + d) | sign),
                                             std::bit_cast<float>((edge >= d ? edge - d : 0) | sign)});
    for (float x = -6.0f; x < 6.0f; x += 1.0f / 4096.0f)
        inputs.push_back(x);
    inputs.resize(inputs.size() / 8 * 8); // then tails for the four-lane and the scalar remainder
    inputs.insert(inputs.end(), {0.1f, -0.7f, 1.3f, 2.9f, -0.05f, 4.0f, 0.6f});
    std::vector<float> out(inputs.size());
    tanhArray(inputs.data(), out.data(), static_cast<int>(inputs.size()));
    int mismatches = 0;
    for (std::size_t i = 0; i < inputs.size(); ++i)
        if (std::bit_cast<std::uint32_t>(out[i]) != std::bit_cast<std::uint32_t>(std::tanh(inputs[i])) &&
            !(std::isnan(out[i]) && std::isnan(inputs[i])) && ++mismatches < 10)
            ADD_FAILURE() << std::hexfloat << inputs[i] << " gives " << out[i] << ", tanhf "
                          << std::tanh(inputs[i]);
    EXPECT_EQ(mismatches, 0);
}

} // namespace
} // namespace thraskvell::detail
