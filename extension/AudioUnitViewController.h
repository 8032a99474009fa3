// AudioUnitViewController: the extension's principal object. As the factory it creates one
// ThraskVellAudioUnit and keeps it; as the editor it hosts ThraskVellMainView, driven by a view model
// bound to that unit, in a hosting view pinned to the four edges of a 550 × 750 root view.
//
// The host gets its unit at once; the editor is wired up later on the main thread, when the
// main-thread queue runs the task the factory posted (the task holds the controller strongly).
// A plug-in framework that already owns its unit hands it over with adoptAudioUnit(), which takes
// the same path from the storing step on.
//
// Ownership: always held by std::shared_ptr (the creation paths return one). The controller owns
// its unit, its root view and, through the hosting view, the main view; the view model holds the
// unit too, so the unit outlives the editor.
// Threads: the factory and adoptAudioUnit on any thread, one at a time; everything else main.
#pragma once

#include "extension/EditorViews.h"
#include "extension/ThraskVellAudioUnit.h"
#include "platform/MainThreadQueue.h"
#include "ui/ThraskVellViewModel.h"

#include <functional>
#include <memory>
#include <string_view>

namespace thraskvell {

inline constexpr ui::Size kEditorSize{550.0, 750.0};

class AudioUnitViewController : public std::enable_shared_from_this<AudioUnitViewController> {
public:
    // Makes the unit for the factory; tests replace it to make creation fail.
    using UnitMaker =
        std::function<NSResult<std::shared_ptr<ThraskVellAudioUnit>>(const AudioComponentDescription&)>;
    // The platform's archive, of which nothing is read.
    struct Coder {};

    // Any. The two creation paths: no unit, no view, nothing queued.
    static std::shared_ptr<AudioUnitViewController>
    initWithNibName(std::string_view nibName = {}, std::string_view bundle = {},
                    MainThreadQueue& queue = MainThreadQueue::main(), UnitMaker makeUnit = {});
    static std::shared_ptr<AudioUnitViewController>
    initWithCoder(const Coder& coder, MainThreadQueue& queue = MainThreadQueue::main(),
                  UnitMaker makeUnit = {});

    // Any. Creates a unit for the description, stores it (releasing the previous one) and queues the
    // editor connection. On failure the unit's error is returned (and copied to *error when given);
    // nothing is stored and nothing is queued.
    NSResult<std::shared_ptr<ThraskVellAudioUnit>>
    createAudioUnitWithComponentDescription(const AudioComponentDescription& description,
                                            NSError* error = nullptr);
    // Any. Stores a unit created elsewhere and queues the editor connection; null is ignored.
    void adoptAudioUnit(std::shared_ptr<ThraskVellAudioUnit> unit);

    // Main, for everything below.
    const std::shared_ptr<ThraskVellAudioUnit>& audioUnit() const { return _audioUnit; }
    // Loads the view first if it is not yet loaded.
    EditorView& view();
    bool isViewLoaded() const { return _view != nullptr; }
    ui::Size preferredContentSize() const { return _preferredContentSize; }
    // Present once the editor connection has run with a unit.
    EditorHostingView* hostingView() const { return _hostingView; }
    const std::shared_ptr<ThraskVellViewModel>& viewModel() const { return _viewModel; }

    // The platform's loading steps, normally reached through view().
    void loadView();
    void viewDidLoad();

    // Use the creation paths.
    AudioUnitViewController(MainThreadQueue& queue, UnitMaker makeUnit);

private:
    void scheduleEditorConnection();
    void connectEditor();

    MainThreadQueue& _queue;
    UnitMaker _makeUnit;
    std::shared_ptr<ThraskVellAudioUnit> _audioUnit;
    std::unique_ptr<EditorView> _view;
    ui::Size _preferredContentSize{};
    std::shared_ptr<ThraskVellViewModel> _viewModel;
    EditorHostingView* _hostingView = nullptr; // owned by _view
};

} // namespace thraskvell
