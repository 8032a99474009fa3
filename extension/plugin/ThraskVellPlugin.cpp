// DPF adapter: one ThraskVellAudioUnit per plug-in instance, seen by LV2, VST3 and CLAP hosts.
//
// Parameters, activation, audio and state are forwarded to the unit; this file holds no DSP and no
// parameter list of its own. DPF calls the constructor, init*, getState/setState and
// activate/deactivate on the host's main thread and run on its audio thread, never activate and run
// at once. Parameter values may be read and written on either thread.
//
// The unit has as many channels as the variant has inputs. A variant with more outputs (the live
// program's, 1 in and 2 out) plays the unit's first channel on the others too.
#include "DistrhoPlugin.hpp"

#include "dsp/ParameterSpec.h"
#include "extension/SavedState.h"
#include "extension/ThraskVellAudioUnit.h"
#include "extension/plugin/PluginUnitHooks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>

START_NAMESPACE_DISTRHO

namespace {

using namespace thraskvell;

constexpr std::uint32_t kChannels = DISTRHO_PLUGIN_NUM_INPUTS;
constexpr std::uint32_t kOutputs = DISTRHO_PLUGIN_NUM_OUTPUTS;
static_assert(kOutputs >= kChannels);
constexpr const char* kStateKey = "fullState";

// Set on the main thread before any plug-in exists; read there.
PluginUnitHooks gHooks;

std::shared_ptr<ThraskVellAudioUnit> makeUnit() {
    auto created = ThraskVellAudioUnit::create();
    if (created) return created.value();
    std::fprintf(stderr, "ThraskVell: cannot create the audio unit: %s\n",
                 created.error().localizedDescription.c_str());
    return nullptr;
}

} // namespace

class ThraskVellPlugin final : public Plugin {
public:
    // Any. The unit, for the editor that shares this process (null if creation failed).
    const std::shared_ptr<ThraskVellAudioUnit>& unit() const { return _unit; }

    // Main.
    ThraskVellPlugin() : Plugin(kParameterCount, 0, 1), _unit(makeUnit()) {
        if (_unit) _tree = _unit->parameterTree();
        _pull = [this](AudioUnitRenderActionFlags*, const AudioTimeStamp*, AUAudioFrameCount frames,
                       NSInteger, AudioBufferList* input) { return pullInput(frames, input); };
        if (_unit && gHooks.created) gHooks.created(*_unit);
    }
    // Main, after deactivate.
    ~ThraskVellPlugin() override {
        if (_unit && gHooks.destroying) gHooks.destroying(*_unit);
    }

protected:
    // Any: constant identity, also asked of a scanning host's throw-away instance.
    const char* getLabel() const override { return THRASKVELL_PLUGIN_LABEL; }
    const char* getDescription() const override {
        return "Bass fuzz and sustain: oversampled clipping with gate, tone, dry blend and compressor";
    }
    const char* getMaker() const override { return DISTRHO_PLUGIN_BRAND; }
    const char* getHomePage() const override { return DISTRHO_PLUGIN_HOMEPAGE; }
    const char* getLicense() const override { return "ISC"; }
    uint32_t getVersion() const override { return d_version(1, 0, 0); }
    int64_t getUniqueId() const override { return THRASKVELL_PLUGIN_UNIQUE_ID; }

    // Main. Index = address, symbol = identifier. Switches keep their 0..100 range and their
    // "above 0.5 is on" meaning, but are declared as toggles so generic host editors show a checkbox.
    void initParameter(uint32_t index, Parameter& parameter) override {
        const ParameterSpec& definition = allParameters()[index];
        parameter.hints = kParameterIsAutomatable | (isSwitchParameter(index) ? kParameterIsBoolean : 0u);
        parameter.name = std::string(definition.name).c_str();
        parameter.symbol = std::string(definition.identifier).c_str();
        if (!isSwitchParameter(index)) parameter.unit = "%";
        parameter.ranges = ParameterRanges(definition.defaultValue, definition.minValue, definition.maxValue);
    }

    // Main. The unit's full state as JSON text; an editor would never need it.
    void initState(uint32_t, State& state) override {
        state.key = kStateKey;
        state.label = "Full state";
        state.hints = kStateIsOnlyForDSP;
    }

    // Any thread: the tree reaches the bridge's atomic slots without lock or allocation.
    float getParameterValue(uint32_t index) const override {
        const auto parameter = _tree ? _tree->parameterWithAddress(index) : nullptr;
        return parameter ? parameter->value() : allParameters()[index].defaultValue;
    }
    // A host may send anything (an LV2 port is plain memory), so values are held to the declared
    // range here; NaN, which has no place in it, leaves the parameter as it was.
    void setParameterValue(uint32_t index, float value) override {
        const ParameterSpec& definition = allParameters()[index];
        if (std::isnan(value)) return;
        if (const auto parameter = _tree ? _tree->parameterWithAddress(index) : nullptr)
            parameter->setValue(std::clamp(value, definition.minValue, definition.maxValue));
    }

    // Main.
    String getState(const char* key) const override {
        if (!_unit || std::string_view(key) != kStateKey) return String();
        return String(_unit->fullStateText().c_str());
    }
    // Main. Every host saves the parameter values itself next to this text (LV2 as port values, VST3
    // and CLAP in DPF's parameter section, applied after it), and only the host's copy is current
    // when a value changed while the plug-in was not running. So the text's copy of the parameters
    // is dropped and the host's values decide. Text the unit refuses changes nothing; a host has no
    // channel to hear why, so it is logged.
    void setState(const char* key, const char* value) override {
        if (!_unit || value == nullptr || std::string_view(key) != kStateKey) return;
        auto state = stateFromText(value);
        if (!state) {
            std::fprintf(stderr, "ThraskVell: state not restored: %s\n",
                         state.error().localizedDescription.c_str());
            return;
        }
        for (const ParameterSpec& definition : allParameters())
            state.value().erase(std::string(definition.identifier));
        _unit->setFullState(state.value());
    }

    // Main, never during run. DPF deactivates and reactivates around rate and buffer-size changes,
    // so this is where the unit is re-prepared for the host's channels, rate and block size.
    void activate() override {
        _maxFrames = std::max<uint32_t>(getBufferSize(), 1);
        _render = nullptr;
        if (!_unit) return;
        _unit->deallocateRenderResources();
        const auto format = AVAudioFormat::makeStandard(getSampleRate(), kChannels);
        NSErrorOrSuccess error = _unit->inputBus().setFormat(format);
        if (!error) error = _unit->outputBus().setFormat(format);
        if (!error) error = _unit->setMaximumFramesToRender(_maxFrames);
        if (!error) error = _unit->allocateRenderResources();
        if (error) {
            std::fprintf(stderr, "ThraskVell: cannot prepare %u ch @ %.0f Hz, %u frames: %s\n", kChannels,
                         getSampleRate(), _maxFrames, error->localizedDescription.c_str());
            return;
        }
        _render = _unit->internalRenderBlock();
    }
    void deactivate() override {
        if (_unit) _unit->deallocateRenderResources();
    }

    // Audio. Host blocks longer than the prepared maximum are rendered in chunks.
    void run(const float** inputs, float** outputs, uint32_t frames) override {
        for (uint32_t offset = 0; offset < frames;) {
            const uint32_t chunk = std::min(frames - offset, _maxFrames);
            AudioBufferList output;
            output.mNumberBuffers = kChannels;
            for (uint32_t c = 0; c < kChannels; ++c) {
                _inputs[c] = inputs[c] + offset;
                output.mBuffers[c].mData = outputs[c] + offset;
                output.mBuffers[c].mDataByteSize = chunk * sizeof(float);
            }
            AudioUnitRenderActionFlags flags = 0;
            const AudioTimeStamp timestamp{};
            // A unit that could not be prepared plays silence rather than whatever the buffers held.
            if (!_render || _render(&flags, &timestamp, chunk, 0, &output, nullptr, &_pull) != 0)
                for (uint32_t c = 0; c < kChannels; ++c)
                    std::fill_n(outputs[c] + offset, chunk, 0.0f);
            if constexpr (kOutputs > kChannels)
                for (uint32_t c = kChannels; c < kOutputs; ++c)
                    std::copy_n(outputs[0] + offset, chunk, outputs[c] + offset);
            offset += chunk;
        }
    }

private:
    // Audio. Copies the host's input into the bridge's input storage; hosts may process in place,
    // so the input must be taken before the output is written.
    AUAudioUnitStatus pullInput(AUAudioFrameCount frames, AudioBufferList* input) {
        for (uint32_t c = 0; c < std::min(input->mNumberBuffers, kChannels); ++c) {
            if (input->mBuffers[c].mData == nullptr) return kAudioUnitErr_FailedInitialization;
            std::copy_n(_inputs[c], frames, input->mBuffers[c].mData);
        }
        return 0;
    }

    const std::shared_ptr<ThraskVellAudioUnit> _unit;
    std::shared_ptr<AUParameterTree> _tree;
    AUInternalRenderBlock _render; // set on the main thread while not running
    AURenderPullInputBlock _pull;
    const float* _inputs[kChannels] = {}; // written and read on the audio thread only
    uint32_t _maxFrames = 1;

    DISTRHO_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR(ThraskVellPlugin)
};

Plugin* createPlugin() {
    return new ThraskVellPlugin();
}

END_NAMESPACE_DISTRHO

void thraskvell::setPluginUnitHooks(PluginUnitHooks hooks) {
    DISTRHO::gHooks = std::move(hooks);
}

// Main. The editor's way to the unit, given DPF's instance pointer (the Plugin).
std::shared_ptr<thraskvell::ThraskVellAudioUnit> thraskvellAudioUnitOfPlugin(void* pluginInstance) {
    if (pluginInstance == nullptr) return nullptr;
    return static_cast<DISTRHO::ThraskVellPlugin*>(static_cast<DISTRHO::Plugin*>(pluginInstance))->unit();
}
