// The kernel against the portable literal chain, in one program so the ratios come from one run.
// Counters: ns per frame and the multiple of real time at 48 kHz.
#include "dsp/PortableKernel.h"
#include "dsp/ThraskVellDSPKernel.h"

#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

namespace {

using thraskvell::ThraskVellDSPKernel;

constexpr double kRate = 48000.0;
constexpr int kBlock = 256;
constexpr int kSeconds = 10;

enum class Path { Optimised, Literal };
enum class Signal { Bass, Silence };

// A plucked-bass stand-in: a low fundamental with a few partials and a little noise.
std::vector<float> bassSignal(int frames, int channel) {
    std::vector<float> out(static_cast<std::size_t>(frames));
    std::uint32_t seed = 12345u + static_cast<std::uint32_t>(channel);
    for (int i = 0; i < frames; ++i) {
        seed = seed * 1664525u + 1013904223u;
        const double t = i / kRate;
        const double noise = (static_cast<double>(seed >> 8) / 16777216.0 - 0.5) * 0.01;
        const double v = 0.4 * std::sin(2.0 * M_PI * 55.0 * t) +
                         0.15 * std::sin(2.0 * M_PI * 110.0 * t + 0.3) +
                         0.05 * std::sin(2.0 * M_PI * 220.0 * t + 1.1) + noise;
        out[static_cast<std::size_t>(i)] = static_cast<float>(v);
    }
    return out;
}

void runKernel(benchmark::State& state, Path path, int channels, Signal signal) {
    ThraskVellDSPKernel kernel;
    using thraskvell::kAsymmetry, thraskvell::kBassBoost, thraskvell::kDryMode, thraskvell::kDynamicsEnable,
        thraskvell::kGate;
    for (auto p : {kDryMode, kBassBoost, kAsymmetry, kDynamicsEnable})
        kernel.params[p].store(100.0f);
    if (signal == Signal::Silence) kernel.params[kGate].store(100.0f);
    kernel.prepare(kRate, kBlock, channels);

    const int frames = static_cast<int>(kRate) * kSeconds;
    std::vector<std::vector<float>> in(static_cast<std::size_t>(channels));
    std::vector<std::vector<float>> out(static_cast<std::size_t>(channels),
                                        std::vector<float>(static_cast<std::size_t>(frames)));
    for (int c = 0; c < channels; ++c)
        in[static_cast<std::size_t>(c)] = signal == Signal::Bass
                                              ? bassSignal(frames, c)
                                              : std::vector<float>(static_cast<std::size_t>(frames));

    std::vector<const float*> inPtr(static_cast<std::size_t>(channels));
    std::vector<float*> outPtr(static_cast<std::size_t>(channels));
    for (auto _ : state) {
        for (int start = 0; start + kBlock <= frames; start += kBlock) {
            for (int c = 0; c < channels; ++c) {
                inPtr[static_cast<std::size_t>(c)] = in[static_cast<std::size_t>(c)].data() + start;
                outPtr[static_cast<std::size_t>(c)] = out[static_cast<std::size_t>(c)].data() + start;
            }
            if (path == Path::Optimised)
                kernel.processBlock(inPtr.data(), outPtr.data(), channels, kBlock);
            else
                thraskvell::processBlockPortable(kernel, inPtr.data(), outPtr.data(), channels, kBlock);
        }
        benchmark::DoNotOptimize(out[0].data());
        benchmark::ClobberMemory();
    }
    const double processed = static_cast<double>(state.iterations()) * (frames / kBlock) * kBlock;
    // Seconds per frame (printed with an "n" prefix: nanoseconds) and audio seconds rendered per
    // second of CPU time (the multiple of real time).
    state.counters["time_per_frame"] =
        benchmark::Counter(processed, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
    state.counters["x_realtime"] = benchmark::Counter(processed / kRate, benchmark::Counter::kIsRate);
}

void BM_Optimised_Stereo(benchmark::State& s) {
    runKernel(s, Path::Optimised, 2, Signal::Bass);
}
void BM_Literal_Stereo(benchmark::State& s) {
    runKernel(s, Path::Literal, 2, Signal::Bass);
}
void BM_Optimised_Mono(benchmark::State& s) {
    runKernel(s, Path::Optimised, 1, Signal::Bass);
}
void BM_Literal_Mono(benchmark::State& s) {
    runKernel(s, Path::Literal, 1, Signal::Bass);
}
// Gate closed on ten seconds of silence: must cost about what the bass signal costs.
void BM_Optimised_Stereo_GatedSilence(benchmark::State& s) {
    runKernel(s, Path::Optimised, 2, Signal::Silence);
}
void BM_Literal_Stereo_GatedSilence(benchmark::State& s) {
    runKernel(s, Path::Literal, 2, Signal::Silence);
}

BENCHMARK(BM_Optimised_Stereo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Literal_Stereo)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Optimised_Mono)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Literal_Mono)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Optimised_Stereo_GatedSilence)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Literal_Stereo_GatedSilence)->Unit(benchmark::kMillisecond);

} // namespace

BENCHMARK_MAIN();
