#include "app/shell/ThraskVellApp.h"

#include "app/shell/ContentView.h"
#include "platform/MainThreadQueue.h"
#include "ui/BackingStore.h"
#include "ui/Gesture.h"

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
        const ui::PixelRect p = store_.invalidate(content_.dirtyRect(getApp().getTime()), getScaleFactor());
        if (!p.isEmpty())
            Window::repaint(DGL_NAMESPACE::Rectangle<uint>(static_cast<uint>(p.x), static_cast<uint>(p.y),
                                                           static_cast<uint>(p.width),
                                                           static_cast<uint>(p.height)));
    }

    void onDisplay() override {
        cairo_t* cr = static_cast<const DGL_NAMESPACE::CairoGraphicsContext&>(getGraphicsContext()).handle;
        if (!cr) return;
        const double scale = getScaleFactor();
        store_.paint(
            cr, static_cast<int>(getWidth()), static_cast<int>(getHeight()), scale,
            [&](cairo_t* bc, std::optional<ui::Rect> dirty) {
                content_.draw(bc, scale, getApp().getTime(), dirty);
            },
            [&](ui::Size size) { content_.setSize(size); });
    }

    void onResize(const ResizeEvent& event) override {
        StandaloneWindow::onResize(event);
        store_.invalidateAll();
    }

    bool onMouse(const MouseEvent& event) override {
        if (event.button != 1) return false;
        const ui::Point p = logical(event.pos.getX(), event.pos.getY());
        content_.setFineAdjustment((event.mod & DGL_NAMESPACE::kModifierShift) != 0);
        if (!event.press)
            content_.pointerUp(p);
        else if (clicks_.press(p, event.time / 1000.0))
            content_.pointerDoubleClick(p);
        else
            content_.pointerDown(p);
        requestFrame();
        return true;
    }

    bool onMotion(const MotionEvent& event) override {
        content_.setFineAdjustment((event.mod & DGL_NAMESPACE::kModifierShift) != 0);
        content_.pointerMove(logical(event.pos.getX(), event.pos.getY()));
        requestFrame();
        return true;
    }

    bool onScroll(const ScrollEvent& event) override {
        content_.setFineAdjustment((event.mod & DGL_NAMESPACE::kModifierShift) != 0);
        content_.scrollWheel(logical(event.pos.getX(), event.pos.getY()), event.delta.getY());
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
    ui::BackingStore store_;
    ui::DoubleClickDetector clicks_;
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
