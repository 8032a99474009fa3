// Every one of the 2^32 single-precision inputs through the project's exact functions, against the C
// library and against their four- and eight-lane forms. The unit test samples the same comparison;
// this is the whole of it, minutes per function. Run it with the C library's generic build:
//   GLIBC_TUNABLES=glibc.cpu.hwcaps=-AVX2,-FMA build/bench/sweep/thraskvell_exact_math_sweep [name…]
#include "dsp/ExactMath.h"
#include "dsp/VectorMath.h"

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace {

using namespace thraskvell;

struct Function {
    std::string_view name;
    float (*exact)(float);
    float (*library)(float);
    void (*lanes)(const float*, float*, int, bool);
};

const Function kFunctions[] = {
    {"exp", exact::exp, [](float x) { return std::exp(x); }, detail::expArray},
    {"log10", exact::log10, [](float x) { return std::log10(x); }, detail::log10Array},
    {"pow10", exact::powerOfTen, [](float x) { return std::pow(10.0f, x); }, detail::powerOfTenArray},
    {"sin", exact::sin, [](float x) { return std::sin(x); }, nullptr},
    {"cos", exact::cos, [](float x) { return std::cos(x); }, nullptr},
    {"tanh", exact::tanh, [](float x) { return std::tanh(x); }, detail::tanhArray},
};

bool same(float a, float b) {
    return std::bit_cast<std::uint32_t>(a) == std::bit_cast<std::uint32_t>(b) ||
           (std::isnan(a) && std::isnan(b));
}

// Prints the mismatches against the C library and the four- and eight-lane forms.
void sweep(const Function& f) {
    const bool avx2 = __builtin_cpu_supports("avx2");
    constexpr int kBatch = 1 << 20;
    std::vector<float> in(kBatch), four(kBatch), eight(kBatch);
    std::uint64_t library = 0, fourLanes = 0, eightLanes = 0;
    for (std::uint64_t start = 0; start < (1ull << 32); start += kBatch) {
        for (int i = 0; i < kBatch; ++i)
            in[i] = std::bit_cast<float>(static_cast<std::uint32_t>(start + i));
        if (f.lanes) {
            f.lanes(in.data(), four.data(), kBatch, false);
            if (avx2) f.lanes(in.data(), eight.data(), kBatch, true);
        }
        for (int i = 0; i < kBatch; ++i) {
            const float exact = f.exact(in[i]);
            library += !same(exact, f.library(in[i]));
            fourLanes += f.lanes && !same(four[i], exact);
            eightLanes += f.lanes && avx2 && !same(eight[i], exact);
        }
    }
    std::printf("%-6s mismatches of 2^32: C library %llu, four lanes %llu, eight lanes %s%llu\n",
                std::string(f.name).c_str(), static_cast<unsigned long long>(library),
                static_cast<unsigned long long>(fourLanes), avx2 ? "" : "(no AVX2) ",
                static_cast<unsigned long long>(eightLanes));
}

} // namespace

int main(int argc, char** argv) {
    for (const Function& f : kFunctions) {
        bool wanted = argc < 2;
        for (int a = 1; a < argc; ++a)
            wanted = wanted || f.name == argv[a];
        if (wanted) sweep(f);
    }
    return 0;
}
