#include "extension/ThraskVellAudioUnit.h"

#include "parameters/ThraskVellParameterTree.h"

#include <cstdio>
#include <unistd.h>

namespace thraskvell {

namespace {

constexpr double kInitialSampleRate = 44100.0;
constexpr AVAudioChannelCount kInitialChannels = 1;
constexpr AVAudioChannelCount kMaximumChannels = 2;

NSError failedInitialization(std::string description) {
    return NSError{NSOSStatusErrorDomain, kAudioUnitErr_FailedInitialization, std::move(description)};
}

// The platform's general log is standard error here. One write(2) keeps the line whole when other
// threads or processes log at the same time.
void logLine(const char* format, int inChannels, double inRate, int outChannels, double outRate) {
    char line[256];
    int length = std::snprintf(line, sizeof line - 1, format, inChannels, inRate, outChannels, outRate);
    if (length < 0) return;
    if (length > int(sizeof line) - 2) length = int(sizeof line) - 2;
    line[length] = '\n';
    [[maybe_unused]] const auto written = ::write(STDERR_FILENO, line, std::size_t(length) + 1);
}

} // namespace

ThraskVellAudioUnit::ThraskVellAudioUnit() : _dspBridge(std::make_unique<DSPBridge>()) {}

ThraskVellAudioUnit::~ThraskVellAudioUnit() {
    _dspBridge.reset();
    _parameterTree.reset();
    _inputBus.reset();
    _outputBus.reset();
    _inputBusses.reset();
    _outputBusses.reset();
}

NSResult<std::shared_ptr<ThraskVellAudioUnit>>
ThraskVellAudioUnit::create(const AudioComponentDescription& description,
                            AudioComponentInstantiationOptions options) {
    std::shared_ptr<ThraskVellAudioUnit> unit(new ThraskVellAudioUnit());
    if (auto error = unit->initialise(unit, description, options)) return std::move(*error);
    return unit;
}

NSErrorOrSuccess ThraskVellAudioUnit::initialise(const std::weak_ptr<ThraskVellAudioUnit>& self,
                                                 const AudioComponentDescription& description,
                                                 AudioComponentInstantiationOptions options) {
    const auto format = AVAudioFormat::makeStandard(kInitialSampleRate, kInitialChannels);
    if (!format) return failedInitialization("The initial audio format could not be created");

    auto input = AUAudioUnitBus::make(format);
    if (!input) return input.error();
    _inputBus = std::move(input.value());
    auto output = AUAudioUnitBus::make(format);
    if (!output) return output.error();
    _outputBus = std::move(output.value());

    _inputBus->setMaximumChannelCount(kMaximumChannels);
    _outputBus->setMaximumChannelCount(kMaximumChannels);

    if (auto error = initWithComponentDescription(description, options)) return error;

    _inputBusses = std::make_unique<AUAudioUnitBusArray>(
        *this, AUAudioUnitBusType::Input, std::vector<std::shared_ptr<AUAudioUnitBus>>{_inputBus});
    _outputBusses = std::make_unique<AUAudioUnitBusArray>(
        *this, AUAudioUnitBusType::Output, std::vector<std::shared_ptr<AUAudioUnitBus>>{_outputBus});

    buildParameterTree(self);
    return std::nullopt;
}

void ThraskVellAudioUnit::buildParameterTree(const std::weak_ptr<ThraskVellAudioUnit>& self) {
    _parameterTree = makeThraskVellParameterTree();
    if (_parameterTree) connectParameterTree(*_parameterTree, self);
}

std::vector<int> ThraskVellAudioUnit::channelCapabilities() const {
    return {1, 1, 2, 2};
}

NSErrorOrSuccess ThraskVellAudioUnit::allocateRenderResources() {
    if (auto error = AUAudioUnit::allocateRenderResources()) return error;

    const auto& inFormat = *(*_inputBusses)[0]->format();
    const auto& outFormat = *(*_outputBusses)[0]->format();
    const double rate = outFormat.sampleRate();
    if (!(rate >= kMinimumSampleRate)) {
        AUAudioUnit::deallocateRenderResources();
        char text[96];
        std::snprintf(text, sizeof text, "The sample rate %g Hz is not supported (the lowest is %.0f Hz)",
                      rate, kMinimumSampleRate);
        return failedInitialization(text);
    }
    if (!_dspBridge->prepare(int(maximumFramesToRender()), rate, int(outFormat.channelCount()))) {
        AUAudioUnit::deallocateRenderResources();
        return failedInitialization("The effect could not be prepared for " +
                                    std::to_string(maximumFramesToRender()) + " frames");
    }
    logLine("ThraskVell: in=%d ch @ %.0f Hz, out=%d ch @ %.0f Hz", int(inFormat.channelCount()),
            inFormat.sampleRate(), int(outFormat.channelCount()), rate);
    return std::nullopt;
}

std::optional<StateDictionary> ThraskVellAudioUnit::fullState() const {
    StateDictionary state = AUAudioUnit::fullState().value_or(StateDictionary{});
    state[kThraskVellStateVersionKey] = std::string(kThraskVellStateVersion);
    if (_parameterTree)
        for (const auto& parameter : _parameterTree->allParameters())
            state[parameter->identifier()] = double(parameter->value());
    return state;
}

void ThraskVellAudioUnit::setFullState(const std::optional<StateDictionary>& state) {
    AUAudioUnit::setFullState(state);
    if (!state || !_parameterTree) return;
    for (const auto& parameter : _parameterTree->allParameters()) {
        const auto entry = state->find(parameter->identifier());
        if (entry == state->end()) continue;
        if (const auto value = parameterValueFromState(entry->second)) parameter->setValue(*value);
    }
}

std::string ThraskVellAudioUnit::fullStateText() const {
    return stateToText(fullState().value_or(StateDictionary{}));
}

NSErrorOrSuccess ThraskVellAudioUnit::setFullStateText(std::string_view text) {
    auto state = stateFromText(text);
    if (!state) return state.error();
    setFullState(state.value());
    return std::nullopt;
}

} // namespace thraskvell
