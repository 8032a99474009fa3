#include "extension/EditorViews.h"

#include <algorithm>

namespace thraskvell {

void EditorView::setFrame(ui::Rect frame) {
    if (frame == frame_) return;
    frame_ = frame;
    frameDidChange();
    layout();
}

std::vector<EditorView*> EditorView::subviews() const {
    std::vector<EditorView*> views;
    views.reserve(subviews_.size());
    for (const auto& view : subviews_)
        views.push_back(view.get());
    return views;
}

EditorView& EditorView::addSubview(std::unique_ptr<EditorView> view) {
    view->superview_ = this;
    subviews_.push_back(std::move(view));
    layout();
    return *subviews_.back();
}

void EditorView::removeSubview(EditorView& view) {
    std::erase_if(constraints_,
                  [&view](const LayoutConstraint& c) { return c.item == &view || c.toItem == &view; });
    if (pointerTarget_ == &view) pointerTarget_ = nullptr;
    std::erase_if(subviews_, [&view](const std::unique_ptr<EditorView>& v) { return v.get() == &view; });
}

bool EditorView::activateConstraints(const std::vector<LayoutConstraint>& constraints) {
    for (const auto& c : constraints) {
        if (!c.item || !c.toItem || c.item->superview_ != c.toItem || c.attribute != c.toAttribute ||
            c.item->translatesMask_)
            return false;
    }
    std::vector<EditorView*> touched;
    for (const auto& c : constraints) {
        c.toItem->constraints_.push_back(c);
        if (std::find(touched.begin(), touched.end(), c.toItem) == touched.end()) touched.push_back(c.toItem);
    }
    for (EditorView* view : touched)
        view->layout();
    return true;
}

void EditorView::layout() {
    for (const auto& sub : subviews_) {
        ui::Rect f = sub->frame_;
        double minX = f.minX(), maxX = f.maxX(), minY = f.minY(), maxY = f.maxY();
        bool pinned = false;
        for (const auto& c : constraints_) {
            if (c.item != sub.get()) continue;
            pinned = true;
            switch (c.attribute) {
            case LayoutAttribute::top:
                minY = c.constant;
                break;
            case LayoutAttribute::bottom:
                maxY = frame_.height + c.constant;
                break;
            case LayoutAttribute::leading:
                minX = c.constant;
                break;
            case LayoutAttribute::trailing:
                maxX = frame_.width + c.constant;
                break;
            }
        }
        if (pinned) sub->setFrame({minX, minY, std::max(0.0, maxX - minX), std::max(0.0, maxY - minY)});
    }
}

void EditorView::draw(cairo_t* cr, double scale, double now, std::optional<ui::Rect> dirty) {
    for (const auto& sub : subviews_) {
        const ui::Rect& f = sub->frame_;
        if (dirty && !dirty->intersects(f)) continue;
        cairo_save(cr);
        cairo_translate(cr, f.x, f.y);
        std::optional<ui::Rect> local;
        if (dirty) local = dirty->offsetBy(-f.x, -f.y);
        sub->draw(cr, scale, now, local);
        cairo_restore(cr);
    }
}

ui::Rect EditorView::dirtyRect(double now) {
    ui::Rect dirty{};
    for (const auto& sub : subviews_) {
        const ui::Rect r = sub->dirtyRect(now);
        if (r.width <= 0.0 || r.height <= 0.0) continue;
        const ui::Rect moved = r.offsetBy(sub->frame_.x, sub->frame_.y);
        dirty = (dirty.width > 0.0 && dirty.height > 0.0) ? dirty.united(moved) : moved;
    }
    return dirty;
}

EditorView* EditorView::subviewAt(ui::Point location) const {
    for (auto it = subviews_.rbegin(); it != subviews_.rend(); ++it)
        if ((*it)->frame_.contains(location)) return it->get();
    return nullptr;
}

// The front-most subview under the pointer takes the whole press, release included.
void EditorView::pointerDown(ui::Point location) {
    pointerTarget_ = subviewAt(location);
    if (pointerTarget_)
        pointerTarget_->pointerDown(
            {location.x - pointerTarget_->frame_.x, location.y - pointerTarget_->frame_.y});
}

void EditorView::pointerDoubleClick(ui::Point location) {
    pointerTarget_ = subviewAt(location);
    if (pointerTarget_)
        pointerTarget_->pointerDoubleClick(
            {location.x - pointerTarget_->frame_.x, location.y - pointerTarget_->frame_.y});
}

void EditorView::scrollWheel(ui::Point location, double notches) {
    if (EditorView* target = subviewAt(location))
        target->scrollWheel({location.x - target->frame_.x, location.y - target->frame_.y}, notches);
}

void EditorView::setFineAdjustment(bool fine) {
    for (auto& subview : subviews_)
        subview->setFineAdjustment(fine);
}

void EditorView::pointerMove(ui::Point location) {
    if (pointerTarget_)
        pointerTarget_->pointerMove(
            {location.x - pointerTarget_->frame_.x, location.y - pointerTarget_->frame_.y});
}

void EditorView::pointerUp(ui::Point location) {
    EditorView* target = std::exchange(pointerTarget_, nullptr);
    if (target) target->pointerUp({location.x - target->frame_.x, location.y - target->frame_.y});
}

EditorHostingView::EditorHostingView(std::unique_ptr<ui::ThraskVellMainView> rootView)
    : rootView_(std::move(rootView)) {}

void EditorHostingView::frameDidChange() {
    sizeChanged_ = true;
}

void EditorHostingView::draw(cairo_t* cr, double scale, double now, std::optional<ui::Rect> dirty) {
    if (frame().width <= 0.0 || frame().height <= 0.0) return;
    rootView_->setSize(frame().size());
    rootView_->draw(cr, scale, now, dirty);
}

ui::Rect EditorHostingView::dirtyRect(double now) {
    if (frame().width <= 0.0 || frame().height <= 0.0) return {};
    rootView_->setSize(frame().size());
    if (std::exchange(sizeChanged_, false)) {
        rootView_->tick(now);
        return bounds();
    }
    if (!rootView_->tick(now)) return {};
    return rootView_->dirtyRect(now);
}

} // namespace thraskvell
