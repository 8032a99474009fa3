// The editor's idle callback while a host automates all twelve parameters at block rate (256
// frames at 48 kHz) from its audio thread: each frame drains the main-thread queue and asks for the
// dirty region (what DPF's uiIdle does), then paints that region offscreen (what onDisplay does).
// The idle budget is 4 ms at the median. CI runs one second; `--seconds=60` runs the long soak:
//   ./build/bench/thraskvell_editor_benchmark --seconds=60
#include "dsp/ParameterSpec.h"
#include "extension/AudioUnitViewController.h"

#include <benchmark/benchmark.h>
#include <cairo.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

using namespace thraskvell;
using Clock = std::chrono::steady_clock;

int gSeconds = 1;

double milliseconds(Clock::duration d) {
    return std::chrono::duration<double, std::milli>(d).count();
}

double percentile(std::vector<double> values, double p) {
    if (values.empty()) return 0.0;
    std::sort(values.begin(), values.end());
    return values[static_cast<std::size_t>(p * static_cast<double>(values.size() - 1))];
}

void BM_EditorIdleUnderAutomation(benchmark::State& state) {
    MainThreadQueue queue;
    auto controller = AudioUnitViewController::initWithNibName("", "", queue);
    auto unit = controller->createAudioUnitWithComponentDescription(kThraskVellComponentDescription).value();
    queue.drain();
    EditorView& root = controller->view();
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, 550, 750);
    cairo_t* cr = cairo_create(surface);
    root.draw(cr, 1.0, 0.0, std::nullopt);

    std::vector<double> idle, paint;
    for (auto _ : state) {
        std::atomic<bool> running{true};
        std::thread host([&] {
            const auto tree = unit->parameterTree();
            const auto block = std::chrono::microseconds(5333);
            auto next = Clock::now();
            for (std::uint64_t b = 0; running.load(std::memory_order_relaxed); ++b) {
                for (std::size_t i = 0; i < kParameterCount; ++i) {
                    const double phase = static_cast<double>(b) * 0.01 + static_cast<double>(i);
                    tree->parameterWithAddress(i)->setValue(
                        static_cast<float>(50.0 + 50.0 * std::sin(phase)));
                }
                next += block;
                std::this_thread::sleep_until(next);
            }
        });
        const auto start = Clock::now();
        const auto end = start + std::chrono::seconds(gSeconds);
        auto frame = start;
        while (Clock::now() < end) {
            const double now = std::chrono::duration<double>(Clock::now() - start).count();
            const auto t0 = Clock::now();
            queue.drain();
            const ui::Rect dirty = root.dirtyRect(now);
            const auto t1 = Clock::now();
            idle.push_back(milliseconds(t1 - t0));
            if (dirty.width > 0.0 && dirty.height > 0.0) {
                root.draw(cr, 1.0, now, dirty);
                cairo_surface_flush(surface);
                paint.push_back(milliseconds(Clock::now() - t1));
            }
            frame += std::chrono::milliseconds(16);
            std::this_thread::sleep_until(frame);
        }
        running = false;
        host.join();
    }
    state.counters["frames"] = static_cast<double>(idle.size());
    state.counters["idle_median_ms"] = percentile(idle, 0.5);
    state.counters["idle_p99_ms"] = percentile(idle, 0.99);
    state.counters["idle_median_of_4ms_budget"] = percentile(idle, 0.5) / 4.0;
    state.counters["paint_median_ms"] = percentile(paint, 0.5);
    state.counters["paint_p99_ms"] = percentile(paint, 0.99);
    cairo_destroy(cr);
    cairo_surface_destroy(surface);
}
BENCHMARK(BM_EditorIdleUnderAutomation)->Iterations(1)->Unit(benchmark::kSecond)->UseRealTime();

} // namespace

int main(int argc, char** argv) {
    std::vector<char*> rest;
    for (int i = 0; i < argc; ++i) {
        if (std::strncmp(argv[i], "--seconds=", 10) == 0)
            gSeconds = std::max(1, std::atoi(argv[i] + 10));
        else
            rest.push_back(argv[i]);
    }
    int count = static_cast<int>(rest.size());
    benchmark::Initialize(&count, rest.data());
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
