// Costs on the demo's real-time and cross-thread paths, reported against what they must fit into.
#include "app/StandaloneAudioEngine.h"
#include "platform/MainThreadQueue.h"

#include <benchmark/benchmark.h>

#include <vector>

using thraskvell::MainThreadQueue;
using thraskvell::StandaloneAudioEngine;

namespace {

// One device block of the source node's callback (riff plus effect), as SDL's thread runs it. The
// "realtime_factor" counter is seconds of audio rendered per second of CPU: above 1 keeps up.
void BM_SourceNodeBlock(benchmark::State& state) {
    const auto frames = static_cast<AVAudioFrameCount>(state.range(0));
    MainThreadQueue queue;
    auto engine = StandaloneAudioEngine::create(queue);
    engine->dspBridge().prepare(StandaloneAudioEngine::kMaxFramesPerBlock, 44100.0, 2);
    AVAudioSourceNodeRenderBlock render;
    for (const auto& node : engine->audioEngine().attachedNodes())
        if (auto source = std::dynamic_pointer_cast<AVAudioSourceNode>(node)) render = source->renderBlock();
    std::vector<float> left(frames), right(frames);
    AudioBufferList list;
    list.mNumberBuffers = 2;
    list.mBuffers[0] = AudioBuffer{1, frames * 4, left.data()};
    list.mBuffers[1] = AudioBuffer{1, frames * 4, right.data()};
    for (auto _ : state) {
        render(nullptr, nullptr, frames, &list);
        benchmark::DoNotOptimize(left.data());
    }
    const double blockSeconds = static_cast<double>(frames) / 44100.0;
    state.counters["realtime_factor"] = benchmark::Counter(
        static_cast<double>(state.iterations()) * blockSeconds, benchmark::Counter::kIsRate);
    state.SetItemsProcessed(state.iterations() * frames);
}
BENCHMARK(BM_SourceNodeBlock)->Arg(512)->Arg(4096);

// An automation burst from the audio thread: one mailbox post per parameter per block.
void BM_MailboxPostTwelveAddresses(benchmark::State& state) {
    MainThreadQueue queue;
    auto mailbox = queue.makeMailbox(12, [](std::uint64_t, float) {});
    float value = 0.0f;
    for (auto _ : state) {
        for (std::uint64_t address = 0; address < 12; ++address)
            mailbox->post(address, value);
        value += 1.0f;
        if (queue.pendingCount() > 0 && (static_cast<int>(value) & 63) == 0) queue.drain();
    }
    state.SetItemsProcessed(state.iterations() * 12);
}
BENCHMARK(BM_MailboxPostTwelveAddresses);

// The tap's work per 1024-frame buffer: the snapshot for the display.
void BM_TapSnapshot(benchmark::State& state) {
    std::vector<float> samples(1024, 0.25f);
    for (auto _ : state)
        benchmark::DoNotOptimize(StandaloneAudioEngine::decimateForDisplay(samples.data(), 1024));
}
BENCHMARK(BM_TapSnapshot);

} // namespace

BENCHMARK_MAIN();
