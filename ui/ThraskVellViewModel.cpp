#include "ui/ThraskVellViewModel.h"

#include "dsp/ParameterSpec.h"

#include <cmath>

namespace thraskvell {

ThraskVellViewModel::ParameterMap ThraskVellViewModel::placeholders() {
    ParameterMap map;
    for (const auto& definition : allParameters())
        map.emplace(std::string(definition.identifier), definition.defaultValue);
    return map;
}

ThraskVellViewModel::ThraskVellViewModel(Token, std::shared_ptr<ThraskVellParameterSource> source,
                                         MainThreadQueue& queue)
    : ObservableObject(queue), _parameterSource(std::move(source)), _observerToken(std::nullopt),
      _params(*this, placeholders()) {}

std::shared_ptr<ThraskVellViewModel>
ThraskVellViewModel::make(std::shared_ptr<ThraskVellParameterSource> source, MainThreadQueue& queue) {
    auto model = std::make_shared<ThraskVellViewModel>(Token{}, std::move(source), queue);
    const auto tree = model->_parameterSource ? model->_parameterSource->parameterTree() : nullptr;
    if (!tree) return model;

    // Reading the tree happens before anyone can subscribe, so it announces nothing.
    ParameterMap initial = model->_params.get();
    for (auto& [identifier, shown] : initial)
        if (const auto parameter = tree->valueForKey(identifier)) shown = parameter->value();
    model->_params.set(std::move(initial));

    model->installObserver(tree);
    return model;
}

void ThraskVellViewModel::installObserver(const std::shared_ptr<AUParameterTree>& tree) {
    // The delivery runs on the main thread: it holds the view model weakly and the tree strongly.
    std::weak_ptr<ThraskVellViewModel> weak = weak_from_this();
    _mailbox = mainQueue().makeMailbox(kParameterCount, [weak, tree](std::uint64_t address, float value) {
        if (const auto self = weak.lock()) self->applyTreeChange(*tree, address, value);
    });
    // The observer runs on the writer's thread and only posts; the mailbox outlives it because the
    // destructor removes the observer (which waits for calls in flight) before the mailbox goes.
    MainThreadQueue::Mailbox* mailbox = _mailbox.get();
    const AUParameterObserverToken token = tree->tokenByAddingParameterObserver(
        [mailbox](AUParameterAddress address, AUValue value) { mailbox->post(address, value); });
    if (token) {
        _observerToken = token;
        _observedTree = tree;
    }
}

void ThraskVellViewModel::applyTreeChange(AUParameterTree& tree, AUParameterAddress address, float value) {
    const auto parameter = tree.parameterWithAddress(address);
    if (!parameter) return;
    const std::string& identifier = parameter->identifier();
    if (std::fabs(this->value(identifier) - value) > kChangeTolerance)
        _params.mutate([&](ParameterMap& map) { map[identifier] = value; });
}

ThraskVellViewModel::~ThraskVellViewModel() {
    if (_observerToken)
        if (const auto tree = _observedTree.lock()) tree->removeParameterObserver(*_observerToken);
    // Deliveries still queued for the mailbox are dropped once it is gone.
    _mailbox.reset();
}

float ThraskVellViewModel::value(std::string_view identifier) const {
    const auto& map = _params.get();
    const auto it = map.find(identifier);
    return it == map.end() ? 0.0f : it->second;
}

void ThraskVellViewModel::setParameterValue(std::string_view identifier, float value) {
    _params.mutate([&](ParameterMap& map) {
        auto it = map.find(identifier);
        if (it == map.end())
            map.emplace(std::string(identifier), value);
        else
            it->second = value;
    });
    if (!_parameterSource) return;
    const auto tree = _parameterSource->parameterTree();
    if (!tree) return;
    if (const auto parameter = tree->valueForKey(identifier))
        parameter->setValue(value, AUParameterObserverToken{});
}

} // namespace thraskvell
