#include "dsp/VectorMath.h"

namespace thraskvell::detail {

namespace {

[[gnu::target("avx2")]] void tanhEight(const float* in, float* out, int count) {
    mapLanes<8, tanhLanes<8>, exact::tanh>(in, out, count);
}

[[gnu::target("avx2")]] void expEight(const float* in, float* out, int count) {
    mapLanes<8, expLanes<8>, exact::exp>(in, out, count);
}

[[gnu::target("avx2")]] void log10Eight(const float* in, float* out, int count) {
    mapLanes<8, log10Lanes<8>, exact::log10>(in, out, count);
}

[[gnu::target("avx2")]] void powerOfTenEight(const float* in, float* out, int count) {
    mapLanes<8, powerOfTenLanes<8>, exact::powerOfTen>(in, out, count);
}

} // namespace

void tanhArray(const float* in, float* out, int count, bool avx2) {
    avx2 ? tanhEight(in, out, count) : mapLanes<4, tanhLanes<4>, exact::tanh>(in, out, count);
}

void expArray(const float* in, float* out, int count, bool avx2) {
    avx2 ? expEight(in, out, count) : mapLanes<4, expLanes<4>, exact::exp>(in, out, count);
}

void log10Array(const float* in, float* out, int count, bool avx2) {
    avx2 ? log10Eight(in, out, count) : mapLanes<4, log10Lanes<4>, exact::log10>(in, out, count);
}

void powerOfTenArray(const float* in, float* out, int count, bool avx2) {
    avx2 ? powerOfTenEight(in, out, count)
         : mapLanes<4, powerOfTenLanes<4>, exact::powerOfTen>(in, out, count);
}

} // namespace thraskvell::detail
