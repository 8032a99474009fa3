// The editor's view tree: a plain view with a frame, subviews and edge constraints, and the hosting
// view that carries the control surface (ThraskVellMainView). They stand in for the platform's view
// and hosting view so a plug-in UI can embed the editor and tests can ask where everything sits.
//
// Layout: a constraint pins one edge of a view to the same kind of edge of its superview. Activated
// constraints live on the superview; its layout() places each pinned subview from them, and a view
// whose frame changes lays out its subviews again.
//
// Ownership: a view owns its subviews. The hosting view owns its main view.
// Threads: main for everything.
#pragma once

#include "ui/Geometry.h"
#include "ui/ThraskVellMainView.h"

#include <cairo.h>

#include <memory>
#include <optional>
#include <vector>

namespace thraskvell {

class EditorView;

enum class LayoutAttribute { top, bottom, leading, trailing };

struct LayoutConstraint {
    EditorView* item = nullptr;
    LayoutAttribute attribute = LayoutAttribute::top;
    EditorView* toItem = nullptr;
    LayoutAttribute toAttribute = LayoutAttribute::top;
    double constant = 0.0;
};

class EditorView {
public:
    explicit EditorView(ui::Rect frame = {}) : frame_(frame) {}
    virtual ~EditorView() = default;
    EditorView(const EditorView&) = delete;
    EditorView& operator=(const EditorView&) = delete;

    // Main. Changing the frame lays out the subviews again.
    const ui::Rect& frame() const { return frame_; }
    void setFrame(ui::Rect frame);
    ui::Rect bounds() const { return {0.0, 0.0, frame_.width, frame_.height}; }

    // Main. Subviews back to front; adding appends and lays out.
    std::vector<EditorView*> subviews() const;
    EditorView* superview() const { return superview_; }
    EditorView& addSubview(std::unique_ptr<EditorView> view);
    // Main. Also drops every constraint that mentions the view.
    void removeSubview(EditorView& view);

    bool translatesAutoresizingMaskIntoConstraints() const { return translatesMask_; }
    void setTranslatesAutoresizingMaskIntoConstraints(bool value) { translatesMask_ = value; }

    // Main. Each constraint must tie a subview's edge to the same edge of its direct superview and
    // the subview must not translate its autoresizing mask; otherwise nothing is activated and the
    // result is false. All or none, in the given order; the superview lays out afterwards.
    static bool activateConstraints(const std::vector<LayoutConstraint>& constraints);
    // Main. The active constraints held by this view (those that pin its subviews).
    const std::vector<LayoutConstraint>& constraints() const { return constraints_; }
    void layout();

    // Main. Drawing and events in this view's own coordinates (origin at its top left).
    virtual void draw(cairo_t* cr, double scale, double now, std::optional<ui::Rect> dirty);
    // The region to repaint at `now`, empty when nothing changed.
    virtual ui::Rect dirtyRect(double now);
    virtual void pointerDown(ui::Point location);
    virtual void pointerMove(ui::Point location);
    virtual void pointerUp(ui::Point location);
    virtual void pointerDoubleClick(ui::Point location);
    virtual void scrollWheel(ui::Point location, double notches);
    virtual void setFineAdjustment(bool fine);

protected:
    virtual void frameDidChange() {}

private:
    EditorView* subviewAt(ui::Point location) const;

    ui::Rect frame_;
    EditorView* superview_ = nullptr;
    std::vector<std::unique_ptr<EditorView>> subviews_;
    std::vector<LayoutConstraint> constraints_;
    bool translatesMask_ = true;
    EditorView* pointerTarget_ = nullptr;
};

// Shows one ThraskVellMainView sized to the hosting view's frame.
class EditorHostingView final : public EditorView {
public:
    explicit EditorHostingView(std::unique_ptr<ui::ThraskVellMainView> rootView);

    ui::ThraskVellMainView& rootView() { return *rootView_; }

    void draw(cairo_t* cr, double scale, double now, std::optional<ui::Rect> dirty) override;
    ui::Rect dirtyRect(double now) override;
    void pointerDown(ui::Point location) override { rootView_->pointerDown(location); }
    void pointerMove(ui::Point location) override { rootView_->pointerMove(location); }
    void pointerUp(ui::Point location) override { rootView_->pointerUp(location); }
    void pointerDoubleClick(ui::Point location) override { rootView_->pointerDoubleClick(location); }
    void scrollWheel(ui::Point location, double notches) override {
        rootView_->scrollWheel(location, notches);
    }
    void setFineAdjustment(bool fine) override { rootView_->setFineAdjustment(fine); }

protected:
    void frameDidChange() override;

private:
    std::unique_ptr<ui::ThraskVellMainView> rootView_;
    bool sizeChanged_ = true;
};

} // namespace thraskvell
