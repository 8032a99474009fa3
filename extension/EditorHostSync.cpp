#include "extension/EditorHostSync.h"

#include <cmath>
#include <utility>

namespace thraskvell {

EditorHostSync::EditorHostSync(std::shared_ptr<AUParameterTree> tree, Host host, MainThreadQueue& queue)
    : tree_(std::move(tree)), state_(std::make_unique<State>()) {
    state_->queue = &queue;
    state_->host = std::move(host);
    if (!tree_) return;
    State* state = state_.get();
    token_ = tree_->tokenByAddingParameterObserver(
        [state](AUParameterAddress address, AUValue value) { state->treeChanged(address, value); });
}

EditorHostSync::~EditorHostSync() {
    if (tree_ && token_) tree_->removeParameterObserver(token_);
    endGesture();
}

void EditorHostSync::State::treeChanged(AUParameterAddress address, float value) {
    // Other threads are the host's own writes (automation, state); only the main thread touches
    // the fields below.
    if (!queue->isMainThread()) return;
    if (userEditDepth == 0 || notifying || address >= kParameterCount) return;
    const auto index = static_cast<std::uint32_t>(address);
    if (value == reported[index]) return;
    reported[index] = value;
    notifying = true;
    if (!editing[index]) {
        editing[index] = true;
        if (host.editParameter) host.editParameter(index, true);
    }
    if (host.setParameterValue) host.setParameterValue(index, value);
    notifying = false;
}

void EditorHostSync::beginUserEdit() {
    State& s = *state_;
    if (s.userEditDepth++ > 0 || !tree_) return;
    for (std::uint32_t index = 0; index < kParameterCount; ++index)
        if (const auto parameter = tree_->parameterWithAddress(index)) s.reported[index] = parameter->value();
}

void EditorHostSync::endGesture() {
    State& s = *state_;
    for (std::uint32_t index = 0; index < kParameterCount; ++index) {
        if (!std::exchange(s.editing[index], false)) continue;
        s.notifying = true;
        if (s.host.editParameter) s.host.editParameter(index, false);
        s.notifying = false;
    }
}

void EditorHostSync::hostChanged(std::uint32_t index, float value) {
    if (!tree_ || index >= kParameterCount || !std::isfinite(value) || state_->editing[index]) return;
    const auto parameter = tree_->parameterWithAddress(index);
    if (!parameter || parameter->value() == value) return;
    // Outside a user edit the observer reports nothing, whatever the thread.
    parameter->setValue(value);
}

} // namespace thraskvell
