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

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>

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
        const ui::Rect dirty = _controller->view().dirtyRect(secondsNow());
        if (dirty.width <= 0.0 || dirty.height <= 0.0) return;
        _pendingDirty = _pendingDirty.width > 0.0 ? _pendingDirty.united(dirty) : dirty;
        const double scale = getScaleFactor();
        const int x0 = std::max(0, static_cast<int>(std::floor(dirty.x * scale)));
        const int y0 = std::max(0, static_cast<int>(std::floor(dirty.y * scale)));
        const int x1 = static_cast<int>(std::ceil(dirty.maxX() * scale));
        const int y1 = static_cast<int>(std::ceil(dirty.maxY() * scale));
        if (x1 > x0 && y1 > y0)
            repaint(Rectangle<uint>(static_cast<uint>(x0), static_cast<uint>(y0), static_cast<uint>(x1 - x0),
                                    static_cast<uint>(y1 - y0)));
    }

    void onCairoDisplay(const CairoGraphicsContext& context) override {
        cairo_t* cr = context.handle;
        if (!cr) return;
        const double scale = getScaleFactor();
        const int width = static_cast<int>(getWidth());
        const int height = static_cast<int>(getHeight());
        if (width <= 0 || height <= 0) return;
        if (!_backing || cairo_image_surface_get_width(_backing.get()) != width ||
            cairo_image_surface_get_height(_backing.get()) != height) {
            _backing.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
            cairo_surface_set_device_scale(_backing.get(), scale, scale);
            _controller->view().setFrame({0.0, 0.0, width / scale, height / scale});
            _fullPending = true;
        }
        if (_fullPending || (_pendingDirty.width > 0.0 && _pendingDirty.height > 0.0)) {
            cairo_t* bc = cairo_create(_backing.get());
            std::optional<ui::Rect> dirty;
            if (!_fullPending) {
                // Whole device pixels only: an antialiased clip edge would blend the translucent
                // layers over themselves once per repaint and leave seams.
                const ui::Rect& d = _pendingDirty;
                const double x0 = std::floor(d.x * scale) / scale, y0 = std::floor(d.y * scale) / scale;
                const double x1 = std::ceil(d.maxX() * scale) / scale,
                             y1 = std::ceil(d.maxY() * scale) / scale;
                dirty = ui::Rect{x0, y0, x1 - x0, y1 - y0};
            }
            if (_fullPending) {
                // Behind an editor that could not be wired (no unit), a plain dark panel.
                cairo_set_source_rgb(bc, 0.1, 0.01, 0.01);
                cairo_paint(bc);
            }
            _controller->view().draw(bc, scale, secondsNow(), dirty);
            cairo_destroy(bc);
            _pendingDirty = {};
            _fullPending = false;
        }
        cairo_surface_flush(_backing.get());
        cairo_save(cr);
        cairo_identity_matrix(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr, _backing.get(), 0.0, 0.0);
        cairo_paint(cr);
        cairo_restore(cr);
    }

    bool onMouse(const MouseEvent& event) override {
        if (event.button != 1) return false;
        const ui::Point p = logical(event.pos.getX(), event.pos.getY());
        {
            std::optional<EditorHostSync::UserEdit> edit;
            if (_sync) edit.emplace(*_sync);
            if (event.press)
                _controller->view().pointerDown(p);
            else
                _controller->view().pointerUp(p);
        }
        if (!event.press && _sync) _sync->endGesture();
        uiIdle();
        return true;
    }

    bool onMotion(const MotionEvent& event) override {
        {
            std::optional<EditorHostSync::UserEdit> edit;
            if (_sync) edit.emplace(*_sync);
            _controller->view().pointerMove(logical(event.pos.getX(), event.pos.getY()));
        }
        uiIdle();
        return true;
    }

    void onResize(const ResizeEvent& event) override {
        UI::onResize(event);
        _fullPending = true;
    }

private:
    ui::Point logical(double x, double y) const {
        const double scale = getScaleFactor();
        return {x / scale, y / scale};
    }

    MainThreadQueue& _queue;
    std::shared_ptr<AudioUnitViewController> _controller;
    std::unique_ptr<EditorHostSync> _sync;
    ui::SurfacePtr _backing;
    ui::Rect _pendingDirty{};
    bool _fullPending = true;

    DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(ThraskVellUI)
};

UI* createUI() {
    return new ThraskVellUI();
}

END_NAMESPACE_DISTRHO
