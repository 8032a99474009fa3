// EditorHostSync: keeps a plug-in host and the editor agreeing on parameter values without echoes.
//
// Editor to host: the plug-in UI wraps each pointer event it hands to the editor in a UserEdit.
// Tree changes made on the main thread inside one (the view model writing a knob's or switch's
// value) that actually change the value are reported to the host as a value change, preceded by a
// begin-gesture for that parameter the first time in the gesture; endGesture() (after the pointer is
// released) ends every gesture begun. Changes that arrive while the host is being told about one are not
// reported again, so a host that applies an edit synchronously cannot start a loop.
//
// Host to editor: hostChanged() (the framework's parameter-changed callback) writes the tree, from
// where the view model picks it up like any outside change; it is never reported back. While the
// editor's own gesture on that parameter is in progress, the host's (possibly stale) echo is ignored.
//
// Ownership: owned by the plug-in UI; holds the tree strongly and the host callbacks by value. Its
// tree observer captures only a pointer to a shared flag block, so a call racing with destruction
// on another thread reads valid memory; destruction removes the observer (which waits for such calls).
// Threads: main for everything; the tree observer runs on any writer's thread and returns at once
// unless it is on the main thread.
#pragma once

#include "dsp/ParameterSpec.h"
#include "platform/AUParameterTree.h"
#include "platform/MainThreadQueue.h"

#include <array>
#include <cstdint>
#include <functional>
#include <memory>

namespace thraskvell {

class EditorHostSync {
public:
    struct Host {
        std::function<void(std::uint32_t index, bool started)> editParameter;
        std::function<void(std::uint32_t index, float value)> setParameterValue;
    };

    // Main. A null tree makes every operation do nothing.
    EditorHostSync(std::shared_ptr<AUParameterTree> tree, Host host,
                   MainThreadQueue& queue = MainThreadQueue::main());
    ~EditorHostSync();
    EditorHostSync(const EditorHostSync&) = delete;
    EditorHostSync& operator=(const EditorHostSync&) = delete;

    // Main. Marks the scope of one pointer event handed to the editor.
    class UserEdit {
    public:
        explicit UserEdit(EditorHostSync& sync) : sync_(sync) { sync_.beginUserEdit(); }
        ~UserEdit() { --sync_.state_->userEditDepth; }
        UserEdit(const UserEdit&) = delete;
        UserEdit& operator=(const UserEdit&) = delete;

    private:
        EditorHostSync& sync_;
    };

    // Main. Ends the host gesture of every parameter edited since the last call.
    void endGesture();
    // Main. A value the host reports; out-of-range indices and non-finite values are ignored.
    void hostChanged(std::uint32_t index, float value);

    // Main. Whether a gesture is open on the parameter.
    bool isEditing(std::uint32_t index) const { return index < kParameterCount && state_->editing[index]; }

private:
    void beginUserEdit();

    struct State {
        MainThreadQueue* queue = nullptr;
        Host host;
        int userEditDepth = 0;
        bool notifying = false;
        std::array<bool, kParameterCount> editing{};
        // The values when the outermost user edit began, advanced by every change reported: a
        // control that rewrites an unchanged value (a press without a move) tells the host nothing.
        std::array<float, kParameterCount> reported{};
        void treeChanged(AUParameterAddress address, float value);
    };

    std::shared_ptr<AUParameterTree> tree_;
    std::unique_ptr<State> state_;
    AUParameterObserverToken token_{};
};

} // namespace thraskvell
