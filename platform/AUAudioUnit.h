// The audio-unit base a plug-in object derives from, with its buses and bus arrays.
//
// The base holds the component description, the maximum block size, whether render resources are
// allocated, and the host-supplied state it was last given. A subclass overrides the bus arrays,
// the parameter tree, the render block, the channel capabilities, the full state and allocation.
// Objects are created by their owners and held by std::shared_ptr; a bus array belongs to its unit.
//
// Threads: everything here runs on the host's ordinary threads ("main"), never on the audio thread,
// except the render block a subclass hands out. The host never renders while it allocates or
// deallocates render resources, and changes no bus format while resources are allocated.
#pragma once

#include "dsp/AudioTypes.h"
#include "platform/AVAudioFormat.h"
#include "platform/NSError.h"
#include "platform/StateDictionary.h"

#include <cstdint>
#include <memory>
#include <optional>
#include <vector>

class AUAudioUnit;
class AUParameterTree;

using OSType = std::uint32_t;
using AudioComponentInstantiationOptions = std::uint32_t;

struct AudioComponentDescription {
    OSType componentType = 0;
    OSType componentSubType = 0;
    OSType componentManufacturer = 0;
    std::uint32_t componentFlags = 0;
    std::uint32_t componentFlagsMask = 0;
    friend bool operator==(const AudioComponentDescription&, const AudioComponentDescription&) = default;
};

// "aufx" → its four-character code.
constexpr OSType fourCharCode(const char (&code)[5]) {
    return (OSType(std::uint8_t(code[0])) << 24) | (OSType(std::uint8_t(code[1])) << 16) |
           (OSType(std::uint8_t(code[2])) << 8) | OSType(std::uint8_t(code[3]));
}

enum class AUAudioUnitBusType : std::int64_t { Input = 1, Output = 2 };

class AUAudioUnitBus {
public:
    // Main. A bus carrying format, with no channel limit; kAudioUnitErr_FormatNotSupported for a null
    // or non-standard format.
    static NSResult<std::shared_ptr<AUAudioUnitBus>> make(std::shared_ptr<const AVAudioFormat> format);

    // Any thread (read-only while the host renders).
    const std::shared_ptr<const AVAudioFormat>& format() const { return _format; }
    AVAudioChannelCount maximumChannelCount() const { return _maximumChannelCount; }

    // Main. Refused with kAudioUnitErr_FormatNotSupported for a null or non-standard format or more
    // channels than the maximum, and with kAudioUnitErr_CannotDoInCurrentContext while the owning
    // unit's render resources are allocated. A refused format leaves the bus as it was.
    NSErrorOrSuccess setFormat(std::shared_ptr<const AVAudioFormat> format);
    // Main. Does not touch the current format.
    void setMaximumChannelCount(AVAudioChannelCount count) { _maximumChannelCount = count; }

private:
    friend class AUAudioUnitBusArray;
    explicit AUAudioUnitBus(std::shared_ptr<const AVAudioFormat> format) : _format(std::move(format)) {}

    std::shared_ptr<const AVAudioFormat> _format;
    AVAudioChannelCount _maximumChannelCount = ~AVAudioChannelCount{0};
    const AUAudioUnit* _owner = nullptr; // set by the owning bus array
};

class AUAudioUnitBusArray {
public:
    // Main. The buses become the unit's: the array and its buses must not outlive the unit.
    AUAudioUnitBusArray(const AUAudioUnit& unit, AUAudioUnitBusType busType,
                        std::vector<std::shared_ptr<AUAudioUnitBus>> busses);

    // Any thread.
    AUAudioUnitBusType busType() const { return _busType; }
    std::size_t count() const { return _busses.size(); }
    // Any thread. nullptr past the end.
    AUAudioUnitBus* objectAtIndexedSubscript(std::size_t index) const {
        return index < _busses.size() ? _busses[index].get() : nullptr;
    }
    AUAudioUnitBus* operator[](std::size_t index) const { return objectAtIndexedSubscript(index); }

private:
    AUAudioUnitBusType _busType;
    std::vector<std::shared_ptr<AUAudioUnitBus>> _busses;
};

class AUAudioUnit {
public:
    static constexpr AUAudioFrameCount kDefaultMaximumFramesToRender = 512;

    virtual ~AUAudioUnit();
    AUAudioUnit(const AUAudioUnit&) = delete;
    AUAudioUnit& operator=(const AUAudioUnit&) = delete;

    // Main.
    const AudioComponentDescription& componentDescription() const { return _componentDescription; }
    AudioComponentInstantiationOptions instantiationOptions() const { return _options; }

    // Main. The largest frame count the host asks of one render call. Refused with
    // kAudioUnitErr_InvalidPropertyValue for 0 or more than INT32_MAX, and with
    // kAudioUnitErr_CannotDoInCurrentContext while render resources are allocated.
    AUAudioFrameCount maximumFramesToRender() const { return _maximumFramesToRender; }
    NSErrorOrSuccess setMaximumFramesToRender(AUAudioFrameCount frames);

    // Main. Pairs of supported (input, output) channel counts; -1 stands for any count. Empty means
    // the unit accepts any pairing.
    virtual std::vector<int> channelCapabilities() const { return {}; }

    // Main. Buses are absent until the subclass makes them.
    virtual AUAudioUnitBusArray* inputBusses() const { return nullptr; }
    virtual AUAudioUnitBusArray* outputBusses() const { return nullptr; }

    virtual std::shared_ptr<AUParameterTree> parameterTree() const { return nullptr; }
    virtual void setParameterTree(std::shared_ptr<AUParameterTree>) {}

    // Main. The base's part: checks that bus 0 of each array has a format and that the pair of
    // channel counts is among the channel capabilities (kAudioUnitErr_FormatNotSupported if not),
    // then marks render resources allocated. A failure leaves them as they were.
    virtual NSErrorOrSuccess allocateRenderResources();
    // Main.
    virtual void deallocateRenderResources() { _renderResourcesAllocated = false; }
    bool renderResourcesAllocated() const { return _renderResourcesAllocated; }

    // Main. The render block the host calls on its audio thread; the base has none (an empty one).
    virtual AUInternalRenderBlock internalRenderBlock() { return {}; }

    // Main. The base's own entries ("type", "subtype", "manufacturer" as numbers) over the entries of
    // the state it was last given, so keys it does not understand survive a save.
    virtual std::optional<StateDictionary> fullState() const;
    // Main. Remembers the state (nothing forgets it).
    virtual void setFullState(const std::optional<StateDictionary>& state) { _givenState = state; }

protected:
    AUAudioUnit() = default;
    // Main. Initialises the base with the description and options. The base itself never fails;
    // the result keeps the platform's shape for subclasses that pass failures on.
    NSErrorOrSuccess initWithComponentDescription(const AudioComponentDescription& description,
                                                  AudioComponentInstantiationOptions options);

private:
    AudioComponentDescription _componentDescription;
    AudioComponentInstantiationOptions _options = 0;
    AUAudioFrameCount _maximumFramesToRender = kDefaultMaximumFramesToRender;
    bool _renderResourcesAllocated = false;
    std::optional<StateDictionary> _givenState;
};
