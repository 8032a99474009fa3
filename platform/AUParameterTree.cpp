#include "platform/AUParameterTree.h"

#include <thread>
#include <unordered_set>

// A slot is claimed (owned by one observer from add to release), active while its token is nonzero,
// and busy while inFlight is nonzero. A notifier raises inFlight before it reads the token and a
// remover clears the token before it reads inFlight; both sequentially consistent, so either the
// notifier sees the cleared token or the remover sees the notifier and waits for it.
struct AUParameterTree::ObserverSlot {
    std::atomic<bool> claimed{false};
    std::atomic<std::uint64_t> token{0};
    std::atomic<int> inFlight{0};
    // Removed from inside its own callback: the callable is released later, not while it runs.
    std::atomic<bool> pendingRelease{false};
    // Written only while claimed and inactive with no call in flight.
    AUParameterObserver observer;
};

// The chain of slots whose callbacks this thread is inside, so a self-removal can be recognised.
struct AUParameterTree::InvocationFrame {
    const ObserverSlot* slot;
    const InvocationFrame* outer;
};

namespace {
thread_local const void* tlsInvocationTop = nullptr;
}

bool AUParameterTree::invokingOnThisThread(const ObserverSlot* slot) {
    for (auto* frame = static_cast<const InvocationFrame*>(tlsInvocationTop); frame; frame = frame->outer)
        if (frame->slot == slot) return true;
    return false;
}

AUValue AUParameter::value() const {
    if (const auto tree = _tree.lock()) return tree->provide(*this);
    return _value.load();
}

void AUParameter::setValue(AUValue value) {
    setValue(value, AUParameterObserverToken{});
}

void AUParameter::setValue(AUValue value, AUParameterObserverToken originator) {
    _value.store(value);
    if (const auto tree = _tree.lock()) tree->notify(*this, value, originator);
}

std::shared_ptr<AUParameter> AUParameterTree::createParameter(
    std::string_view identifier, std::string_view name, AUParameterAddress address, AUValue min, AUValue max,
    AudioUnitParameterUnit unit, std::optional<std::string_view> unitName, AudioUnitParameterOptions flags,
    std::optional<std::vector<std::string>> valueStrings,
    std::optional<std::vector<AUParameterAddress>> dependentParameters) {
    std::shared_ptr<AUParameter> parameter(new AUParameter());
    parameter->_identifier = identifier;
    parameter->_displayName = name;
    parameter->_address = address;
    parameter->_minValue = min;
    parameter->_maxValue = max;
    parameter->_unit = unit;
    if (unitName) parameter->_unitName = std::string(*unitName);
    parameter->_flags = flags;
    parameter->_valueStrings = std::move(valueStrings);
    parameter->_dependentParameters = std::move(dependentParameters);
    return parameter;
}

std::shared_ptr<AUParameterTree>
AUParameterTree::createTreeWithChildren(std::vector<std::shared_ptr<AUParameter>> children) {
    std::unordered_set<std::string> identifiers;
    std::unordered_set<AUParameterAddress> addresses;
    for (const auto& child : children) {
        if (!child || !child->_tree.expired()) return nullptr;
        if (!identifiers.insert(child->_identifier).second) return nullptr;
        if (!addresses.insert(child->_address).second) return nullptr;
    }
    std::shared_ptr<AUParameterTree> tree(new AUParameterTree());
    tree->_slots = std::make_unique<std::array<ObserverSlot, kObserverCapacity>>();
    tree->_parameters = std::move(children);
    for (auto& child : tree->_parameters)
        child->_tree = tree;
    return tree;
}

AUParameterTree::~AUParameterTree() = default;

void AUParameterTree::setImplementorValueObserver(AUImplementorValueObserver observer) {
    _implementorObserver = std::move(observer);
}

void AUParameterTree::setImplementorValueProvider(AUImplementorValueProvider provider) {
    _implementorProvider = std::move(provider);
}

std::shared_ptr<AUParameter> AUParameterTree::valueForKey(std::string_view identifier) const {
    for (const auto& parameter : _parameters)
        if (parameter->_identifier == identifier) return parameter;
    return nullptr;
}

std::shared_ptr<AUParameter> AUParameterTree::parameterWithAddress(AUParameterAddress address) const {
    for (const auto& parameter : _parameters)
        if (parameter->_address == address) return parameter;
    return nullptr;
}

void AUParameterTree::waitUntilIdle(const ObserverSlot& slot) {
    while (slot.inFlight.load() != 0)
        std::this_thread::yield();
}

AUParameterObserverToken AUParameterTree::tokenByAddingParameterObserver(AUParameterObserver observer) {
    if (!observer) return {};
    for (auto& slot : *_slots) {
        bool expected = false;
        if (slot.claimed.compare_exchange_strong(expected, true)) {
            slot.observer = std::move(observer);
            const AUParameterObserverToken token{_nextTokenId.fetch_add(1)};
            slot.token.store(token.id);
            return token;
        }
        // A self-removed observer's slot: no notifier will call it again, so once idle it is free.
        if (slot.pendingRelease.load() && slot.token.load() == 0 && !invokingOnThisThread(&slot)) {
            bool pending = true;
            if (!slot.pendingRelease.compare_exchange_strong(pending, false)) continue;
            waitUntilIdle(slot);
            slot.observer = std::move(observer);
            const AUParameterObserverToken token{_nextTokenId.fetch_add(1)};
            slot.token.store(token.id);
            return token;
        }
    }
    return {};
}

void AUParameterTree::removeParameterObserver(AUParameterObserverToken token) {
    if (!token) return;
    for (auto& slot : *_slots) {
        std::uint64_t expected = token.id;
        if (!slot.token.compare_exchange_strong(expected, 0)) continue;
        if (invokingOnThisThread(&slot)) {
            slot.pendingRelease.store(true);
            return;
        }
        waitUntilIdle(slot);
        slot.observer = nullptr;
        slot.claimed.store(false);
        return;
    }
}

AUValue AUParameterTree::provide(const AUParameter& parameter) const {
    if (_implementorProvider) return _implementorProvider(parameter);
    return parameter._value.load();
}

void AUParameterTree::notify(AUParameter& parameter, AUValue value, AUParameterObserverToken originator) {
    if (_implementorObserver) _implementorObserver(parameter, value);
    for (auto& slot : *_slots) {
        // An unclaimed slot has no observer to protect; skipping it spares two locked instructions.
        if (!slot.claimed.load()) continue;
        // Also unwinds correctly should an observer throw.
        struct Call {
            ObserverSlot& slot;
            InvocationFrame frame{&slot, static_cast<const InvocationFrame*>(tlsInvocationTop)};
            explicit Call(ObserverSlot& s) : slot(s) { slot.inFlight.fetch_add(1); }
            ~Call() {
                tlsInvocationTop = frame.outer;
                slot.inFlight.fetch_sub(1);
            }
        } call(slot);
        const std::uint64_t token = slot.token.load();
        if (token != 0 && token != originator.id) {
            tlsInvocationTop = &call.frame;
            slot.observer(parameter._address, value);
        }
    }
}
