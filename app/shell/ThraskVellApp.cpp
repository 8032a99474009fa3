#include "app/shell/ThraskVellApp.h"

#include "app/shell/ContentView.h"
#include "platform/MainThreadQueue.h"

#include "Application.hpp"
#include "Cairo.hpp"
#include "StandaloneWindow.hpp"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <csignal>
#include <cstdio>
#include <optional>
#include <string>

namespace thraskvell {

namespace {

std::atomic<bool> gCloseRequested{false};

extern "C" void requestClose(int) {
    gCloseRequested.store(true);
}

class ThraskVellWindow final : public DGL_NAMESPACE::StandaloneWindow, public DGL_NAMESPACE::IdleCallback {
public:
    explicit ThraskVellWindow(DGL_NAMESPACE::Application& app)
        : StandaloneWindow(app), queue_(MainThreadQueue::main()) {
        const double scale = getScaleFactor();
        const ui::Size minimum = content_.minimumSize();
        const ui::Size ideal{std::max(kContentIdealSize.width, minimum.width),
                             std::max(kContentIdealSize.height, minimum.height)};
        setTitle("Thrask Vell");
        setResizable(true);
        setGeometryConstraints(pixels(minimum.width, scale), pixels(minimum.height, scale));
        setSize(pixels(ideal.width, scale), pixels(ideal.height, scale));
        addIdleCallback(this, ThraskVellApp::kFrameIntervalMs);
        done();
    }

    ~ThraskVellWindow() override { removeIdleCallback(this); }

protected:
    void idleCallback() override {
        if (gCloseRequested.exchange(false)) {
            content_.disappear();
            close();
            return;
        }
        queue_.drain();
        const double now = getApp().getTime();
        const ui::Rect dirty = content_.dirtyRect(now);
        if (dirty.width <= 0.0 || dirty.height <= 0.0) return;
        pendingDirty_ = pendingDirty_.united(dirty);
        const double scale = getScaleFactor();
        const int x0 = static_cast<int>(std::floor(dirty.x * scale));
        const int y0 = static_cast<int>(std::floor(dirty.y * scale));
        const int x1 = static_cast<int>(std::ceil(dirty.maxX() * scale));
        const int y1 = static_cast<int>(std::ceil(dirty.maxY() * scale));
        Window::repaint(DGL_NAMESPACE::Rectangle<uint>(static_cast<uint>(std::max(0, x0)),
                                                       static_cast<uint>(std::max(0, y0)),
                                                       static_cast<uint>(std::max(0, x1 - std::max(0, x0))),
                                                       static_cast<uint>(std::max(0, y1 - std::max(0, y0)))));
    }

    void onDisplay() override {
        cairo_t* cr = static_cast<const DGL_NAMESPACE::CairoGraphicsContext&>(getGraphicsContext()).handle;
        if (!cr) return;
        const double scale = getScaleFactor();
        const int width = static_cast<int>(getWidth());
        const int height = static_cast<int>(getHeight());
        if (width <= 0 || height <= 0) return;
        if (!backing_ || cairo_image_surface_get_width(backing_.get()) != width ||
            cairo_image_surface_get_height(backing_.get()) != height) {
            backing_.reset(cairo_image_surface_create(CAIRO_FORMAT_RGB24, width, height));
            cairo_surface_set_device_scale(backing_.get(), scale, scale);
            content_.setSize({width / scale, height / scale});
            pendingDirty_ = {};
            fullPending_ = true;
        }
        if (fullPending_ || (pendingDirty_.width > 0.0 && pendingDirty_.height > 0.0)) {
            cairo_t* bc = cairo_create(backing_.get());
            std::optional<ui::Rect> dirty;
            if (!fullPending_) dirty = pendingDirty_;
            content_.draw(bc, scale, getApp().getTime(), dirty);
            cairo_destroy(bc);
            pendingDirty_ = {};
            fullPending_ = false;
        }
        cairo_surface_flush(backing_.get());
        cairo_save(cr);
        cairo_identity_matrix(cr);
        cairo_set_operator(cr, CAIRO_OPERATOR_SOURCE);
        cairo_set_source_surface(cr, backing_.get(), 0.0, 0.0);
        cairo_paint(cr);
        cairo_restore(cr);
    }

    void onResize(const ResizeEvent& event) override {
        StandaloneWindow::onResize(event);
        fullPending_ = true;
    }

    bool onMouse(const MouseEvent& event) override {
        if (event.button != 1) return false;
        const ui::Point p = logical(event.pos.getX(), event.pos.getY());
        if (event.press)
            content_.pointerDown(p);
        else
            content_.pointerUp(p);
        requestFrame();
        return true;
    }

    bool onMotion(const MotionEvent& event) override {
        content_.pointerMove(logical(event.pos.getX(), event.pos.getY()));
        requestFrame();
        return true;
    }

    bool onKeyboard(const KeyboardEvent& event) override {
        if (event.press && event.key == DGL_NAMESPACE::kKeyEscape) {
            content_.escapePressed();
            requestFrame();
            return true;
        }
        return false;
    }

    bool onClose() override {
        content_.disappear();
        return true;
    }

private:
    static uint pixels(double points, double scale) { return static_cast<uint>(std::lround(points * scale)); }
    ui::Point logical(double x, double y) const {
        const double scale = getScaleFactor();
        return {x / scale, y / scale};
    }
    // A control that changes its state in an event handler is painted now rather than at the next tick.
    void requestFrame() { idleCallback(); }

    MainThreadQueue& queue_;
    ContentView content_{MainThreadQueue::main()};
    ui::SurfacePtr backing_;
    ui::Rect pendingDirty_{};
    bool fullPending_ = true;
};

} // namespace

int ThraskVellApp::run() {
    std::string problem;
    auto probe = connectToDisplay(problem);
    if (!probe) {
        std::fprintf(stderr, "%s\n", problem.c_str());
        return 1;
    }
    MainThreadQueue::main(); // this thread becomes main before anything publishes
    struct sigaction action {};
    action.sa_handler = requestClose;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);

    DGL_NAMESPACE::Application app(true);
    app.setClassName("ThraskVell");
    {
        ThraskVellWindow window(app);
        probe.reset();
        window.show();
        app.exec(ThraskVellApp::kFrameIntervalMs);
    }
    return 0;
}

} // namespace thraskvell
