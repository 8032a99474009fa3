#include "platform/AUAudioUnit.h"

#include <climits>
#include <string>

namespace {

NSError auError(std::int32_t code, std::string description) {
    return NSError{NSOSStatusErrorDomain, code, std::move(description)};
}

} // namespace

NSResult<std::shared_ptr<AUAudioUnitBus>> AUAudioUnitBus::make(std::shared_ptr<const AVAudioFormat> format) {
    if (!format || !format->isStandard())
        return auError(kAudioUnitErr_FormatNotSupported, "A bus needs a float32 non-interleaved format");
    return std::shared_ptr<AUAudioUnitBus>(new AUAudioUnitBus(std::move(format)));
}

NSErrorOrSuccess AUAudioUnitBus::setFormat(std::shared_ptr<const AVAudioFormat> format) {
    if (!format || !format->isStandard())
        return auError(kAudioUnitErr_FormatNotSupported, "A bus needs a float32 non-interleaved format");
    if (format->channelCount() > _maximumChannelCount)
        return auError(kAudioUnitErr_FormatNotSupported,
                       "The format has " + std::to_string(format->channelCount()) +
                           " channels; this bus carries at most " + std::to_string(_maximumChannelCount));
    if (_owner && _owner->renderResourcesAllocated())
        return auError(kAudioUnitErr_CannotDoInCurrentContext,
                       "A bus format cannot change while render resources are allocated");
    _format = std::move(format);
    return std::nullopt;
}

AUAudioUnitBusArray::AUAudioUnitBusArray(const AUAudioUnit& unit, AUAudioUnitBusType busType,
                                         std::vector<std::shared_ptr<AUAudioUnitBus>> busses)
    : _busType(busType), _busses(std::move(busses)) {
    for (auto& bus : _busses)
        if (bus) bus->_owner = &unit;
}

AUAudioUnit::~AUAudioUnit() = default;

NSErrorOrSuccess AUAudioUnit::initWithComponentDescription(const AudioComponentDescription& description,
                                                           AudioComponentInstantiationOptions options) {
    _componentDescription = description;
    _options = options;
    return std::nullopt;
}

NSErrorOrSuccess AUAudioUnit::setMaximumFramesToRender(AUAudioFrameCount frames) {
    if (frames == 0 || frames > AUAudioFrameCount(INT32_MAX))
        return auError(kAudioUnitErr_InvalidPropertyValue,
                       "The maximum frames to render must lie between 1 and 2147483647");
    if (_renderResourcesAllocated)
        return auError(kAudioUnitErr_CannotDoInCurrentContext,
                       "The maximum frames to render cannot change while render resources are allocated");
    _maximumFramesToRender = frames;
    return std::nullopt;
}

NSErrorOrSuccess AUAudioUnit::allocateRenderResources() {
    const auto* inputs = inputBusses();
    const auto* outputs = outputBusses();
    const AUAudioUnitBus* input = inputs ? inputs->objectAtIndexedSubscript(0) : nullptr;
    const AUAudioUnitBus* output = outputs ? outputs->objectAtIndexedSubscript(0) : nullptr;
    if (!output || !output->format())
        return auError(kAudioUnitErr_FormatNotSupported, "The unit has no output bus with a format");
    const int inChannels = input && input->format() ? int(input->format()->channelCount()) : 0;
    const int outChannels = int(output->format()->channelCount());
    const auto capabilities = channelCapabilities();
    bool supported = capabilities.empty();
    for (std::size_t i = 0; i + 1 < capabilities.size() && !supported; i += 2) {
        const bool inMatches = capabilities[i] == -1 || capabilities[i] == inChannels;
        const bool outMatches = capabilities[i + 1] == -1 || capabilities[i + 1] == outChannels;
        supported = inMatches && outMatches;
    }
    if (!supported)
        return auError(kAudioUnitErr_FormatNotSupported,
                       "The unit does not support " + std::to_string(inChannels) + " input with " +
                           std::to_string(outChannels) + " output channels");
    _renderResourcesAllocated = true;
    return std::nullopt;
}

std::optional<StateDictionary> AUAudioUnit::fullState() const {
    StateDictionary state = _givenState.value_or(StateDictionary{});
    state["type"] = double(_componentDescription.componentType);
    state["subtype"] = double(_componentDescription.componentSubType);
    state["manufacturer"] = double(_componentDescription.componentManufacturer);
    return state;
}
