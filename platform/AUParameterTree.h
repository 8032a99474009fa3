// The parameter tree a plug-in publishes to hosts and to its editor: parameters in a flat list, an
// implementor value observer and provider that tie values to the effect, and change observers known
// by tokens.
//
// Ownership: the tree owns its parameters (shared, so callers may keep one); a parameter knows its
// tree weakly, so a parameter that outlives its tree still stores values but notifies nobody.
//
// Threads:
//  - value / setValue and the notifications they trigger: any thread, including the host's audio
//    thread. No blocking lock, no allocation: observers sit in fixed slots with in-flight counters.
//  - tokenByAddingParameterObserver / removeParameterObserver: any thread except the audio thread
//    (adding allocates the callable; removing waits for calls in flight on other threads).
//  - setImplementorValueObserver / setImplementorValueProvider: the builder's thread, before the
//    tree is shared with any other thread.
//  - lookups (allParameters, valueForKey, parameterWithAddress): any thread; the list never changes.
//
// Originators: a write with no originator reaches the implementor observer and then every change
// observer, the writer's own included. A write whose originator is an observer's token skips that
// one observer, so an editor does not hear its own gestures echoed back.
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using AUParameterAddress = std::uint64_t;
using AUValue = float;
using AudioUnitParameterUnit = std::uint32_t;
using AudioUnitParameterOptions = std::uint32_t;

// Identifies one change observer of one tree. The default value (0) names no observer.
struct AUParameterObserverToken {
    std::uint64_t id = 0;
    explicit operator bool() const { return id != 0; }
    friend bool operator==(AUParameterObserverToken, AUParameterObserverToken) = default;
};

class AUParameter;
class AUParameterTree;

// Called after every change, with the parameter's address and new value, on the writer's thread.
using AUParameterObserver = std::function<void(AUParameterAddress address, AUValue value)>;
using AUImplementorValueObserver = std::function<void(AUParameter& parameter, AUValue value)>;
using AUImplementorValueProvider = std::function<AUValue(const AUParameter& parameter)>;

class AUParameter {
public:
    AUParameter(const AUParameter&) = delete;
    AUParameter& operator=(const AUParameter&) = delete;

    // Any thread.
    const std::string& identifier() const { return _identifier; }
    const std::string& displayName() const { return _displayName; }
    AUParameterAddress address() const { return _address; }
    AUValue minValue() const { return _minValue; }
    AUValue maxValue() const { return _maxValue; }
    AudioUnitParameterUnit unit() const { return _unit; }
    const std::optional<std::string>& unitName() const { return _unitName; }
    AudioUnitParameterOptions flags() const { return _flags; }
    const std::optional<std::vector<std::string>>& valueStrings() const { return _valueStrings; }
    const std::optional<std::vector<AUParameterAddress>>& dependentParameters() const {
        return _dependentParameters;
    }

    // Any thread. The tree's value provider answers if there is one, else the stored value.
    AUValue value() const;
    // Any thread. Stores the value, then (in a tree) calls the implementor observer and every change
    // observer. Before the parameter is in a tree, only stores.
    void setValue(AUValue value);
    // Any thread. As setValue(value), skipping the change observer whose token is originator.
    void setValue(AUValue value, AUParameterObserverToken originator);

private:
    friend class AUParameterTree;
    AUParameter() = default;

    std::string _identifier;
    std::string _displayName;
    AUParameterAddress _address = 0;
    AUValue _minValue = 0.0f;
    AUValue _maxValue = 0.0f;
    AudioUnitParameterUnit _unit = 0;
    std::optional<std::string> _unitName;
    AudioUnitParameterOptions _flags = 0;
    std::optional<std::vector<std::string>> _valueStrings;
    std::optional<std::vector<AUParameterAddress>> _dependentParameters;

    std::atomic<AUValue> _value{0.0f};
    // Set once, by createTreeWithChildren, before the tree is shared.
    std::weak_ptr<AUParameterTree> _tree;
};

class AUParameterTree {
public:
    // How many change observers a tree can hold at once.
    static constexpr std::size_t kObserverCapacity = 16;

    // Any thread. A new parameter with exactly these fields and value 0, in no tree.
    static std::shared_ptr<AUParameter>
    createParameter(std::string_view identifier, std::string_view name, AUParameterAddress address,
                    AUValue min, AUValue max, AudioUnitParameterUnit unit,
                    std::optional<std::string_view> unitName, AudioUnitParameterOptions flags,
                    std::optional<std::vector<std::string>> valueStrings,
                    std::optional<std::vector<AUParameterAddress>> dependentParameters);

    // Any thread. A tree of these parameters in this order, or nullptr when a child is null, already
    // belongs to a tree, or repeats another child's identifier or address.
    static std::shared_ptr<AUParameterTree>
    createTreeWithChildren(std::vector<std::shared_ptr<AUParameter>> children);

    ~AUParameterTree();
    AUParameterTree(const AUParameterTree&) = delete;
    AUParameterTree& operator=(const AUParameterTree&) = delete;

    // Builder's thread, before the tree is shared (see the note at the top).
    void setImplementorValueObserver(AUImplementorValueObserver observer);
    void setImplementorValueProvider(AUImplementorValueProvider provider);

    // Any thread. The parameters in the order given at creation (address order here).
    const std::vector<std::shared_ptr<AUParameter>>& allParameters() const { return _parameters; }
    // Any thread. Exact, case-sensitive identifier match, or nullptr.
    std::shared_ptr<AUParameter> valueForKey(std::string_view identifier) const;
    // Any thread. nullptr when no parameter has that address.
    std::shared_ptr<AUParameter> parameterWithAddress(AUParameterAddress address) const;

    // Any thread but the audio thread. The observer is called with (address, value) after every
    // change of any parameter, on the writer's thread, until it is removed. Returns the empty token
    // when the observer is empty or all kObserverCapacity slots are taken.
    AUParameterObserverToken tokenByAddingParameterObserver(AUParameterObserver observer);
    // Any thread but the audio thread. After it returns, the observer is never called again, also
    // not by a write racing on another thread: it waits for such calls to finish. An observer may
    // remove itself from inside its own callback; the callable is then released by a later add or
    // by the tree's destruction, not while it runs. Unknown or empty tokens are ignored.
    void removeParameterObserver(AUParameterObserverToken token);

private:
    friend class AUParameter;
    struct ObserverSlot;
    struct InvocationFrame;

    AUParameterTree() = default;
    void notify(AUParameter& parameter, AUValue value, AUParameterObserverToken originator);
    AUValue provide(const AUParameter& parameter) const;
    static void waitUntilIdle(const ObserverSlot& slot);
    static bool invokingOnThisThread(const ObserverSlot* slot);

    std::vector<std::shared_ptr<AUParameter>> _parameters;
    AUImplementorValueObserver _implementorObserver;
    AUImplementorValueProvider _implementorProvider;
    std::unique_ptr<std::array<ObserverSlot, kObserverCapacity>> _slots;
    std::atomic<std::uint64_t> _nextTokenId{1};
};
