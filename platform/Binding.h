// A two-way binding: the stand-in for the declarative toolkit's Binding. A control reads its value
// through the getter whenever it draws and writes edits through the setter; it never learns where
// the value lives (a view model's map, a test's variable, a constant).
//
// Ownership: a value type; the closures own whatever they capture.
// Threads: a binding is called on the thread its closures allow (the control surface's bindings are
// main-thread only).
#pragma once

#include <functional>
#include <memory>
#include <utility>

namespace thraskvell {

template <typename T> class Binding {
public:
    using Getter = std::function<T()>;
    using Setter = std::function<void(T)>;

    // A binding that reads nothing and ignores writes; reads give T{}.
    Binding() : _get([] { return T{}; }), _set([](T) {}) {}
    Binding(Getter get, Setter set) : _get(std::move(get)), _set(std::move(set)) {
        if (!_get) _get = [] { return T{}; };
        if (!_set) _set = [](T) {};
    }

    // A binding over a value the caller keeps alive for as long as the binding is used.
    static Binding to(T& storage) {
        return Binding([&storage] { return storage; }, [&storage](T value) { storage = value; });
    }
    // A binding that owns its value (previews, snapshots and tests).
    static Binding owning(T initial) {
        auto storage = std::make_shared<T>(std::move(initial));
        return Binding([storage] { return *storage; }, [storage](T value) { *storage = std::move(value); });
    }

    // Thread: see above.
    T get() const { return _get(); }
    void set(T value) const { _set(std::move(value)); }

private:
    Getter _get;
    Setter _set;
};

} // namespace thraskvell
