#include "extension/AudioUnitViewController.h"

namespace thraskvell {

AudioUnitViewController::AudioUnitViewController(MainThreadQueue& queue, UnitMaker makeUnit)
    : _queue(queue), _makeUnit(std::move(makeUnit)) {
    if (!_makeUnit)
        _makeUnit = [](const AudioComponentDescription& description) {
            return ThraskVellAudioUnit::create(description, 0);
        };
}

std::shared_ptr<AudioUnitViewController> AudioUnitViewController::initWithNibName(std::string_view,
                                                                                  std::string_view,
                                                                                  MainThreadQueue& queue,
                                                                                  UnitMaker makeUnit) {
    return std::make_shared<AudioUnitViewController>(queue, std::move(makeUnit));
}

std::shared_ptr<AudioUnitViewController>
AudioUnitViewController::initWithCoder(const Coder&, MainThreadQueue& queue, UnitMaker makeUnit) {
    return std::make_shared<AudioUnitViewController>(queue, std::move(makeUnit));
}

NSResult<std::shared_ptr<ThraskVellAudioUnit>>
AudioUnitViewController::createAudioUnitWithComponentDescription(const AudioComponentDescription& description,
                                                                 NSError* error) {
    auto created = _makeUnit(description);
    if (!created) {
        if (error) *error = created.error();
        return created.error();
    }
    if (!created.value()) {
        NSError failure;
        failure.domain = NSOSStatusErrorDomain;
        failure.code = kAudioUnitErr_FailedInitialization;
        failure.localizedDescription = "The audio unit could not be created.";
        if (error) *error = failure;
        return failure;
    }
    _audioUnit = std::move(created.value());
    scheduleEditorConnection();
    return _audioUnit;
}

void AudioUnitViewController::adoptAudioUnit(std::shared_ptr<ThraskVellAudioUnit> unit) {
    if (!unit) return;
    _audioUnit = std::move(unit);
    scheduleEditorConnection();
}

void AudioUnitViewController::scheduleEditorConnection() {
    _queue.post([self = shared_from_this()] { self->connectEditor(); });
}

EditorView& AudioUnitViewController::view() {
    if (!_view) {
        loadView();
        viewDidLoad();
    }
    return *_view;
}

void AudioUnitViewController::loadView() {
    _hostingView = nullptr;
    _view = std::make_unique<EditorView>(ui::Rect{0.0, 0.0, kEditorSize.width, kEditorSize.height});
}

void AudioUnitViewController::viewDidLoad() {
    _preferredContentSize = kEditorSize;
}

void AudioUnitViewController::connectEditor() {
    if (!_audioUnit) return;
    EditorView& root = view();
    // A second unit on the same controller replaces the editor rather than stacking another one.
    if (_hostingView) {
        root.removeSubview(*_hostingView);
        _hostingView = nullptr;
    }
    _viewModel = ThraskVellViewModel::make(_audioUnit, _queue);
    auto mainView = std::make_unique<ui::ThraskVellMainView>(_viewModel);
    if (mainView->showAdvanced()) mainView->panel().toggle();
    auto hosting = std::make_unique<EditorHostingView>(std::move(mainView));
    hosting->setTranslatesAutoresizingMaskIntoConstraints(false);
    auto& added = static_cast<EditorHostingView&>(root.addSubview(std::move(hosting)));
    _hostingView = &added;
    EditorView::activateConstraints({
        {&added, LayoutAttribute::top, &root, LayoutAttribute::top, 0.0},
        {&added, LayoutAttribute::bottom, &root, LayoutAttribute::bottom, 0.0},
        {&added, LayoutAttribute::leading, &root, LayoutAttribute::leading, 0.0},
        {&added, LayoutAttribute::trailing, &root, LayoutAttribute::trailing, 0.0},
    });
}

} // namespace thraskvell
