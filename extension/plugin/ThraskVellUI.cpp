// DPF editor: the view controller's root view in the host's window, for LV2, VST3 and CLAP.
//
// The editor shares the plug-in's process and reaches its ThraskVellAudioUnit directly (DPF's direct
// access; the LV2 is one binary for this). The view controller adopts that unit and wires the editor
// through the main-thread queue, which the host's idle callback drains. Edits reach the host through
// EditorHostSync, wrapped in begin/end of a gesture; host changes reach the editor through the
// unit's parameter tree and never go back.
//
// Threads: DPF creates, drives and destroys the UI on the host's UI thread ("main" here).
#include "DistrhoUI.hpp"

#include "Cairo.hpp"
#include "dsp/ParameterSpec.h"
#include "extension/AudioUnitViewController.h"
#include "extension/EditorHostSync.h"
#include "platform/MainThreadQueue.h"
#include "ui/BackingStore.h"
#include "ui/Gesture.h"

#include <chrono>
#include <memory>
#include <optional>

// Defined by the plug-in: the unit behind a plug-in instance, or null.
std::shared_ptr<thraskvell::ThraskVellAudioUnit> thraskvellAudioUnitOfPlugin(void* pluginInstance);

START_NAMESPACE_DISTRHO

namespace {

using namespace thraskvell;

double secondsNow() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

} // namespace

class ThraskVellUI final : public UI {
public:
    // Main. Sized 550 × 750 points, scaled by the host's (or the desktop's) UI scale factor.
    ThraskVellUI()
        : UI(static_cast<uint>(kEditorSize.width), static_cast<uint>(kEditorSize.height), true),
          _queue(MainThreadQueue::main()), _controller(AudioUnitViewController::initWithNibName()) {
        const auto unit = thraskvellAudioUnitOfPlugin(getPluginInstancePointer());
        _controller->adoptAudioUnit(unit);
        if (unit)
            _sync = std::make_unique<EditorHostSync>(
                unit->parameterTree(),
                EditorHostSync::Host{
                    [this](std::uint32_t index, bool started) { editParameter(index, started); },
                    [this](std::uint32_t index, float value) { setParameterValue(index, value); }},
                _queue);
        // Wires the editor now, so the first frame already shows it.
        _queue.drain();
        _controller->view();
    }

    // Main. The sync ends any open gesture while the host can still hear it.
    ~ThraskVellUI() override { _sync.reset(); }

protected:
    // Main. Values reach the editor through the tree (the plug-in writes it); this covers hosts that
    // tell the editor before the plug-in has seen the value.
    void parameterChanged(uint32_t index, float value) override {
        if (_sync) _sync->hostChanged(index, value);
    }

    // Main. The state is the plug-in's alone: restored values reach the editor through the tree.
    void stateChanged(const char*, const char*) override {}

    // Main, from the host's idle loop.
    void uiIdle() override {
        _queue.drain();
        const ui::PixelRect p =
            _store.invalidate(_controller->view().dirtyRect(secondsNow()), getScaleFactor());
        if (!p.isEmpty())
            repaint(Rectangle<uint>(static_cast<uint>(p.x), static_cast<uint>(p.y),
                                    static_cast<uint>(p.width), static_cast<uint>(p.height)));
    }

    void onCairoDisplay(const CairoGraphicsContext& context) override {
        if (!context.handle) return;
        const double scale = getScaleFactor();
        _store.paint(
            context.handle, static_cast<int>(getWidth()), static_cast<int>(getHeight()), scale,
            [&](cairo_t* cr, std::optional<ui::Rect> dirty) {
                // Behind an editor that could not be wired (no unit), a plain dark panel.
                if (!dirty) {
                    cairo_set_source_rgb(cr, 0.1, 0.01, 0.01);
                    cairo_paint(cr);
                }
                _controller->view().draw(cr, scale, secondsNow(), dirty);
            },
            [&](ui::Size size) {
                _controller->view().setFrame({0.0, 0.0, size.width, size.height});
            });
    }

    // Main. Every edit made inside one event reaches the host within one gesture, which a
    // release or a wheel notch ends.
    bool onMouse(const MouseEvent& event) override {
        if (event.button != 1) return false;
        const ui::Point p = logical(event.pos.getX(), event.pos.getY());
        {
            std::optional<EditorHostSync::UserEdit> edit;
            if (_sync) edit.emplace(*_sync);
            auto& view = _controller->view();
            view.setFineAdjustment((event.mod & kModifierShift) != 0);
            if (!event.press)
                view.pointerUp(p);
            else if (_clicks.press(p, event.time / 1000.0))
                view.pointerDoubleClick(p);
            else
                view.pointerDown(p);
        }
        if (!event.press && _sync) _sync->endGesture();
        uiIdle();
        return true;
    }

    bool onMotion(const MotionEvent& event) override {
        {
            std::optional<EditorHostSync::UserEdit> edit;
            if (_sync) edit.emplace(*_sync);
            _controller->view().setFineAdjustment((event.mod & kModifierShift) != 0);
            _controller->view().pointerMove(logical(event.pos.getX(), event.pos.getY()));
        }
        uiIdle();
        return true;
    }

    bool onScroll(const ScrollEvent& event) override {
        {
            std::optional<EditorHostSync::UserEdit> edit;
            if (_sync) edit.emplace(*_sync);
            _controller->view().setFineAdjustment((event.mod & kModifierShift) != 0);
            _controller->view().scrollWheel(logical(event.pos.getX(), event.pos.getY()), event.delta.getY());
        }
        if (_sync) _sync->endGesture();
        uiIdle();
        return true;
    }

    void onResize(const ResizeEvent& event) override {
        UI::onResize(event);
        _store.invalidateAll();
    }

private:
    ui::Point logical(double x, double y) const {
        const double scale = getScaleFactor();
        return {x / scale, y / scale};
    }

    MainThreadQueue& _queue;
    std::shared_ptr<AudioUnitViewController> _controller;
    std::unique_ptr<EditorHostSync> _sync;
    ui::BackingStore _store;
    ui::DoubleClickDetector _clicks;

    DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(ThraskVellUI)
};

UI* createUI() {
    return new ThraskVellUI();
}

END_NAMESPACE_DISTRHO
