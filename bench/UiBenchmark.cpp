// Repaint costs of the editor at its 550 × 750 size: a full frame (what a host's expose costs) and
// a knob-drag frame (pointer move, dirty region, partial repaint).
#include "parameters/ThraskVellParameterTree.h"
#include "ui/ThraskVellMainView.h"

#include <benchmark/benchmark.h>

#include <cairo.h>

namespace {

using namespace thraskvell;

class TreeSource : public ThraskVellParameterSource {
public:
    std::shared_ptr<AUParameterTree> parameterTree() const override { return tree_; }

private:
    std::shared_ptr<AUParameterTree> tree_ = makeThraskVellParameterTree();
};

struct Editor {
    explicit Editor(double scale, bool advanced) : scale(scale) {
        model = ThraskVellViewModel::make(std::make_shared<TreeSource>(), queue);
        view = std::make_unique<ui::ThraskVellMainView>(model);
        if (advanced) view->panel().toggle();
        surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, static_cast<int>(550 * scale),
                                             static_cast<int>(750 * scale));
        cr = cairo_create(surface);
        cairo_scale(cr, scale, scale);
        view->draw(cr, scale, 0.0); // the first frame fills the caches
        cairo_surface_flush(surface);
    }
    ~Editor() {
        view.reset();
        cairo_destroy(cr);
        cairo_surface_destroy(surface);
    }
    double scale;
    MainThreadQueue queue;
    std::shared_ptr<ThraskVellViewModel> model;
    std::unique_ptr<ui::ThraskVellMainView> view;
    cairo_surface_t* surface = nullptr;
    cairo_t* cr = nullptr;
};

void BM_FullRepaint(benchmark::State& state) {
    Editor editor(static_cast<double>(state.range(0)), state.range(1) != 0);
    for (auto _ : state) {
        editor.view->draw(editor.cr, editor.scale, 0.0);
        cairo_surface_flush(editor.surface);
    }
}
BENCHMARK(BM_FullRepaint)
    ->ArgsProduct({{1, 2}, {0, 1}})
    ->ArgNames({"scale", "panelOpen"})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

// Dragging Sustain also moves the altar's glow, so it is the most expensive knob to drag.
void BM_KnobDragFrame(benchmark::State& state) {
    Editor editor(static_cast<double>(state.range(0)), false);
    const std::size_t knob = static_cast<std::size_t>(state.range(1));
    const ui::Point face = editor.view->knob(knob).faceFrame().center();
    editor.view->pointerDown(face);
    double now = 0.0;
    int step = 0;
    for (auto _ : state) {
        step = (step + 1) % 60;
        now += 1.0 / 60.0;
        editor.view->pointerMove({face.x, face.y - step});
        const ui::Rect dirty = editor.view->dirtyRect(now);
        editor.view->draw(editor.cr, editor.scale, now, dirty);
        cairo_surface_flush(editor.surface);
    }
    editor.view->pointerUp(face);
}
BENCHMARK(BM_KnobDragFrame)
    ->ArgsProduct({{1, 2}, {0, 1}})
    ->ArgNames({"scale", "knob"})
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true);

} // namespace

BENCHMARK_MAIN();
