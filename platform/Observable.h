// Observable objects and published values: the stand-in for the declarative toolkit's
// objectWillChange / @Published pair.
//
// An ObservableObject owns one ObjectWillChangePublisher. Each Published<T> member announces through
// it immediately before its value changes, so a subscriber (a view) is told before every change and
// re-reads the values afterwards (typically on its next redraw).
//
// Ownership: the object owns its publisher and values. A subscription is an RAII handle: dropping it
// unsubscribes, and it may safely outlive the publisher (it then does nothing).
//
// Threads: everything here is main-thread only, where "main" is that of the queue the object was
// built with (MainThreadQueue::main() unless told otherwise). Changing a published value from any
// other thread throws std::logic_error and leaves the value unchanged; work from other threads
// reaches the main thread through the MainThreadQueue first.
#pragma once

#include "platform/MainThreadQueue.h"

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace thraskvell {

// An active subscription; unsubscribes when destroyed or cancelled. Main.
class Cancellable {
public:
    Cancellable() = default;
    explicit Cancellable(std::function<void()> cancel) : _cancel(std::move(cancel)) {}
    ~Cancellable() { cancel(); }
    Cancellable(Cancellable&& other) noexcept : _cancel(std::exchange(other._cancel, nullptr)) {}
    Cancellable& operator=(Cancellable&& other) noexcept {
        if (this != &other) {
            cancel();
            _cancel = std::exchange(other._cancel, nullptr);
        }
        return *this;
    }
    Cancellable(const Cancellable&) = delete;
    Cancellable& operator=(const Cancellable&) = delete;

    void cancel() {
        if (auto cancel = std::exchange(_cancel, nullptr)) cancel();
    }
    bool active() const { return static_cast<bool>(_cancel); }

private:
    std::function<void()> _cancel;
};

// Announces "about to change", with no payload. Main.
class ObjectWillChangePublisher {
public:
    explicit ObjectWillChangePublisher(MainThreadQueue& queue = MainThreadQueue::main())
        : _queue(queue), _state(std::make_shared<State>()) {}
    ObjectWillChangePublisher(const ObjectWillChangePublisher&) = delete;
    ObjectWillChangePublisher& operator=(const ObjectWillChangePublisher&) = delete;

    // Main. The subscriber is called before every change until the returned handle goes away.
    [[nodiscard]] Cancellable sink(std::function<void()> subscriber) {
        requireMainThread("subscribe");
        const std::uint64_t id = _state->nextId++;
        _state->subscribers.emplace(id, std::move(subscriber));
        return Cancellable([weak = std::weak_ptr<State>(_state), id] {
            if (auto state = weak.lock()) state->subscribers.erase(id);
        });
    }

    // Main. Calls every current subscriber; one that subscribes or cancels meanwhile is safe.
    void send() {
        requireMainThread("announce a change");
        std::vector<std::uint64_t> ids;
        ids.reserve(_state->subscribers.size());
        for (const auto& entry : _state->subscribers)
            ids.push_back(entry.first);
        auto keepAlive = _state;
        for (std::uint64_t id : ids) {
            auto it = keepAlive->subscribers.find(id);
            if (it == keepAlive->subscribers.end()) continue;
            auto subscriber = it->second; // the call may cancel its own entry
            if (subscriber) subscriber();
        }
    }

    // Any.
    MainThreadQueue& queue() const { return _queue; }

    void requireMainThread(const char* what) const {
        if (!_queue.isMainThread())
            throw std::logic_error(std::string("Observable: attempt to ") + what + " off the main thread");
    }

private:
    struct State {
        std::map<std::uint64_t, std::function<void()>> subscribers;
        std::uint64_t nextId = 1;
    };
    MainThreadQueue& _queue;
    std::shared_ptr<State> _state;
};

// Base of every observable object. Construction and destruction: main.
class ObservableObject {
public:
    explicit ObservableObject(MainThreadQueue& queue = MainThreadQueue::main()) : _objectWillChange(queue) {}
    ObservableObject(const ObservableObject&) = delete;
    ObservableObject& operator=(const ObservableObject&) = delete;

    // Main.
    ObjectWillChangePublisher& objectWillChange() { return _objectWillChange; }
    // Any.
    MainThreadQueue& mainQueue() const { return _objectWillChange.queue(); }

protected:
    ~ObservableObject() = default;

private:
    ObjectWillChangePublisher _objectWillChange;
};

// A value that announces through its owner's publisher before each change. Reads and writes: main.
template <typename T> class Published {
public:
    Published(ObservableObject& owner, T initial)
        : _announcer(owner.objectWillChange()), _value(std::move(initial)) {}
    Published(const Published&) = delete;
    Published& operator=(const Published&) = delete;

    // Main.
    const T& get() const { return _value; }
    operator const T&() const { return _value; }

    // Main. Announces, then assigns, every time (also when the value is equal). Throws
    // std::logic_error off the main thread, changing nothing.
    void set(T value) {
        _announcer.requireMainThread("change a published value");
        _announcer.send();
        _value = std::move(value);
    }
    Published& operator=(T value) {
        set(std::move(value));
        return *this;
    }

    // Main. Changes the value in place after announcing (for maps and arrays).
    template <typename F> void mutate(F&& change) {
        _announcer.requireMainThread("change a published value");
        _announcer.send();
        std::forward<F>(change)(_value);
    }

private:
    ObjectWillChangePublisher& _announcer;
    T _value;
};

} // namespace thraskvell
