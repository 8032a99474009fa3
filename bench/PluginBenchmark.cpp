// The plug-in's process call, through a real CLAP host path (DPF wrapper, adapter, unit, bridge,
// kernel), against driving the bridge directly with the same settings and block size.
#include "tests/extension/plugin/ClapHost.h"
#include "tests/extension/plugin/PluginTestSupport.h"

#include <benchmark/benchmark.h>

namespace {

using namespace thraskvell;
using namespace thraskvell::test;

constexpr double kRate = 48000.0;

const PluginVariant& variant(std::int64_t channels) {
    return kVariants[channels == 1 ? 0 : 1];
}

void BM_BridgeDirect(benchmark::State& state) {
    const auto channels = static_cast<std::uint32_t>(state.range(0));
    const auto block = static_cast<std::uint32_t>(state.range(1));
    DSPBridge bridge;
    for (const auto& definition : allParameters())
        bridge.setParameter(definition.identifier, distinctSettings()[definition.address]);
    bridge.prepare(static_cast<int>(block), kRate, static_cast<int>(channels));
    const AUInternalRenderBlock render = bridge.internalRenderBlock();
    const auto in = testSignal(channels, block, kRate);
    Channels out(channels, std::vector<float>(block));
    // The same work the adapter's pull does: the host's input copied into the bridge's storage.
    const AURenderPullInputBlock pull = [&](AudioUnitRenderActionFlags*, const AudioTimeStamp*,
                                            AUAudioFrameCount frames, NSInteger, AudioBufferList* list) {
        for (std::uint32_t c = 0; c < list->mNumberBuffers; ++c)
            std::copy_n(in[c].data(), frames, list->mBuffers[c].mData);
        return AUAudioUnitStatus{0};
    };
    AudioBufferList list;
    list.mNumberBuffers = channels;
    for (std::uint32_t c = 0; c < channels; ++c)
        list.mBuffers[c].mData = out[c].data();
    for (auto _ : state) {
        AudioUnitRenderActionFlags flags = 0;
        const AudioTimeStamp stamp{};
        render(&flags, &stamp, block, 0, &list, nullptr, &pull);
        benchmark::DoNotOptimize(out[0].data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * block));
}

void BM_PluginProcess(benchmark::State& state) {
    const auto channels = static_cast<std::uint32_t>(state.range(0));
    const auto block = static_cast<std::uint32_t>(state.range(1));
    ClapLibrary library(variant(channels).clapPath);
    ClapInstance instance(library, variant(channels).clapId);
    if (!instance.plugin() || !instance.activate(kRate, block)) {
        state.SkipWithError("cannot load the CLAP plug-in");
        return;
    }
    for (const auto& definition : allParameters())
        instance.queueParameter(static_cast<clap_id>(definition.address),
                                distinctSettings()[definition.address]);
    auto in = testSignal(channels, block, kRate);
    Channels out(channels, std::vector<float>(block));
    float* inPointers[2] = {in[0].data(), channels > 1 ? in[1].data() : nullptr};
    float* outPointers[2] = {out[0].data(), channels > 1 ? out[1].data() : nullptr};
    for (auto _ : state) {
        instance.process(inPointers, outPointers, channels, block);
        benchmark::DoNotOptimize(out[0].data());
    }
    state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations() * block));
}

} // namespace

BENCHMARK(BM_BridgeDirect)->ArgsProduct({{1, 2}, {256, 1024}});
BENCHMARK(BM_PluginProcess)->ArgsProduct({{1, 2}, {256, 1024}});
BENCHMARK_MAIN();
