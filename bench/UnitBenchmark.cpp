// What host automation and state saving cost through the audio unit, against the bare bridge.
#include "extension/ThraskVellAudioUnit.h"

#include <benchmark/benchmark.h>

#include <vector>

namespace {

using thraskvell::ThraskVellAudioUnit;

std::shared_ptr<ThraskVellAudioUnit> makeUnit(int observers) {
    auto unit = ThraskVellAudioUnit::create().value();
    for (int i = 0; i < observers; ++i)
        unit->parameterTree()->tokenByAddingParameterObserver(
            [](AUParameterAddress address, AUValue value) { benchmark::DoNotOptimize(address + value); });
    return unit;
}

void BM_BridgeSetParameter(benchmark::State& state) {
    auto unit = makeUnit(0);
    float value = 0.0f;
    for (auto _ : state)
        unit->dspBridge().setParameter("ratio", value += 0.5f);
}
BENCHMARK(BM_BridgeSetParameter);

// Through the tree: implementor observer to the bridge, then every change observer.
void BM_TreeSetValue(benchmark::State& state) {
    auto unit = makeUnit(int(state.range(0)));
    const auto ratio = unit->parameterTree()->valueForKey("ratio");
    float value = 0.0f;
    for (auto _ : state)
        ratio->setValue(value += 0.5f);
}
BENCHMARK(BM_TreeSetValue)->Arg(0)->Arg(2)->Arg(16);

void BM_TreeValue(benchmark::State& state) {
    auto unit = makeUnit(2);
    const auto ratio = unit->parameterTree()->valueForKey("ratio");
    for (auto _ : state)
        benchmark::DoNotOptimize(ratio->value());
}
BENCHMARK(BM_TreeValue);

void BM_StateTextSave(benchmark::State& state) {
    auto unit = makeUnit(0);
    for (auto _ : state)
        benchmark::DoNotOptimize(unit->fullStateText());
}
BENCHMARK(BM_StateTextSave);

void BM_StateTextRestore(benchmark::State& state) {
    auto unit = makeUnit(2);
    const auto text = unit->fullStateText();
    for (auto _ : state)
        benchmark::DoNotOptimize(unit->setFullStateText(text));
}
BENCHMARK(BM_StateTextRestore);

} // namespace

BENCHMARK_MAIN();
