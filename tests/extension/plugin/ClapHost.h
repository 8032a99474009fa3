// A minimal CLAP host over the headers DPF ships: loads a .clap, creates the plug-in, and drives
// parameters, audio ports, processing and state. Shared by the host tests and the benchmark.
//
// Threads: main, except process(), which a real host calls on its audio thread.
#pragma once

#include "dsp/ParameterSpec.h"
#include "tests/extension/plugin/PluginAdapter.h"

#include "clap/entry.h"
#include "clap/ext/audio-ports.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/plugin-factory.h"

#include <dlfcn.h>

#include <cstring>

namespace thraskvell::test {

// One loaded binary: dlopen, entry init / deinit.
class ClapLibrary {
public:
    explicit ClapLibrary(const std::string& path) : _handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (_handle) _entry = static_cast<const clap_plugin_entry_t*>(dlsym(_handle, "clap_entry"));
        if (_entry && !_entry->init(path.c_str())) _entry = nullptr;
    }
    ~ClapLibrary() {
        if (_entry) _entry->deinit();
        if (_handle) dlclose(_handle);
    }
    ClapLibrary(const ClapLibrary&) = delete;
    ClapLibrary& operator=(const ClapLibrary&) = delete;

    const clap_plugin_factory_t* factory() const {
        return _entry ? static_cast<const clap_plugin_factory_t*>(_entry->get_factory(CLAP_PLUGIN_FACTORY_ID))
                      : nullptr;
    }

private:
    void* _handle;
    const clap_plugin_entry_t* _entry = nullptr;
};

// One plug-in instance and the host object it talks to.
class ClapInstance : public PluginAdapter {
public:
    ClapInstance(const ClapLibrary& library, const char* id) {
        if (const auto* factory = library.factory()) _plugin = factory->create_plugin(factory, &_host, id);
        if (_plugin && !_plugin->init(_plugin)) {
            _plugin->destroy(_plugin);
            _plugin = nullptr;
        }
        if (!_plugin) return;
        _params = static_cast<const clap_plugin_params_t*>(_plugin->get_extension(_plugin, CLAP_EXT_PARAMS));
        _ports = static_cast<const clap_plugin_audio_ports_t*>(
            _plugin->get_extension(_plugin, CLAP_EXT_AUDIO_PORTS));
        _state = static_cast<const clap_plugin_state_t*>(_plugin->get_extension(_plugin, CLAP_EXT_STATE));
        _channels = audioPorts()[0];
    }
    ~ClapInstance() override {
        if (!_plugin) return;
        deactivate();
        _plugin->destroy(_plugin);
    }
    ClapInstance(const ClapInstance&) = delete;
    ClapInstance& operator=(const ClapInstance&) = delete;

    const clap_plugin_t* plugin() const { return _plugin; }

    bool activate(double rate, std::uint32_t maxFrames) override {
        deactivate();
        _active = _plugin->activate(_plugin, rate, 1, maxFrames);
        _processing = _active && _plugin->start_processing(_plugin);
        return _processing;
    }
    void deactivate() {
        if (_processing) _plugin->stop_processing(_plugin);
        if (_active) _plugin->deactivate(_plugin);
        _active = _processing = false;
    }

    // Queues a parameter value event for the next process call, at its first frame.
    void queueParameter(clap_id id, double value) {
        clap_event_param_value_t event{};
        event.header = {sizeof(event), 0, CLAP_CORE_EVENT_SPACE_ID, CLAP_EVENT_PARAM_VALUE, 0};
        event.param_id = id;
        event.note_id = event.port_index = event.channel = event.key = -1;
        event.value = value;
        if (_eventCount < _events.size()) _events[_eventCount++] = event;
    }

    // One block: in and out hold the channel pointers of one port each.
    bool process(float** in, float** out, std::uint32_t channels, std::uint32_t frames) {
        clap_audio_buffer_t input{in, nullptr, channels, 0, 0};
        clap_audio_buffer_t output{out, nullptr, channels, 0, 0};
        const clap_input_events_t inEvents{
            this,
            [](const clap_input_events_t* list) {
                return static_cast<const ClapInstance*>(list->ctx)->_eventCount;
            },
            [](const clap_input_events_t* list, std::uint32_t index) -> const clap_event_header_t* {
                return &static_cast<const ClapInstance*>(list->ctx)->_events[index].header;
            }};
        const clap_output_events_t outEvents{
            nullptr, [](const clap_output_events_t*, const clap_event_header_t*) { return true; }};
        clap_process_t data{};
        data.steady_time = -1;
        data.frames_count = frames;
        data.audio_inputs = &input;
        data.audio_outputs = &output;
        data.audio_inputs_count = data.audio_outputs_count = 1;
        data.in_events = &inEvents;
        data.out_events = &outEvents;
        const clap_process_status status = _plugin->process(_plugin, &data);
        _eventCount = 0;
        return status != CLAP_PROCESS_ERROR;
    }

    // The contract tests' view.
    std::string identity() const override {
        std::string line =
            std::string(_plugin->desc->id) + " " + _plugin->desc->name + " by " + _plugin->desc->vendor + ":";
        for (const char* const* feature = _plugin->desc->features; feature && *feature; ++feature)
            line += std::string(" ") + *feature;
        return line;
    }
    std::array<std::uint32_t, 2> audioPorts() const override {
        std::array<std::uint32_t, 2> channels{};
        for (const bool isInput : {true, false}) {
            clap_audio_port_info_t info{};
            if (_ports->count(_plugin, isInput) == 1 && _ports->get(_plugin, 0, isInput, &info))
                channels[isInput ? 0 : 1] = info.channel_count;
        }
        return channels;
    }
    std::vector<HostParameter> parameters() const override {
        std::vector<HostParameter> result;
        for (std::uint32_t i = 0; i < _params->count(_plugin); ++i) {
            clap_param_info_t info{};
            _params->get_info(_plugin, i, &info);
            result.push_back({info.name, "", info.min_value, info.max_value, info.default_value,
                              (info.flags & CLAP_PARAM_IS_AUTOMATABLE) != 0,
                              (info.flags & CLAP_PARAM_IS_STEPPED) != 0});
        }
        return result;
    }
    void setParameter(std::uint32_t index, float value) override { queueParameter(index, value); }
    float parameterValue(std::uint32_t index) const override {
        double value = -1.0;
        return _params->get_value(_plugin, index, &value) ? static_cast<float>(value) : -1.0f;
    }
    bool process(float** in, float** out, std::uint32_t frames) override {
        return process(in, out, _channels, frames);
    }

    std::string saveState() override {
        std::string bytes;
        const clap_ostream_t stream{
            &bytes, [](const clap_ostream_t* s, const void* buffer, std::uint64_t size) {
                static_cast<std::string*>(s->ctx)->append(static_cast<const char*>(buffer), size);
                return static_cast<std::int64_t>(size);
            }};
        return _state->save(_plugin, &stream) ? bytes : std::string();
    }
    bool restoreState(const std::string& bytes) override {
        std::string_view rest = bytes;
        const clap_istream_t stream{&rest, [](const clap_istream_t* s, void* buffer, std::uint64_t size) {
                                        auto* r = static_cast<std::string_view*>(s->ctx);
                                        const std::size_t n = r->copy(static_cast<char*>(buffer), size);
                                        r->remove_prefix(n);
                                        return static_cast<std::int64_t>(n);
                                    }};
        return _state->load(_plugin, &stream);
    }

private:
    clap_host_t _host{CLAP_VERSION,
                      this,
                      "Thrask Vell test host",
                      "Thrask Vell",
                      "https://thraskvell.org",
                      "1.0.0",
                      [](const clap_host_t*, const char*) -> const void* { return nullptr; },
                      [](const clap_host_t*) {},
                      [](const clap_host_t*) {},
                      [](const clap_host_t*) {}};
    const clap_plugin_t* _plugin = nullptr;
    const clap_plugin_params_t* _params = nullptr;
    const clap_plugin_audio_ports_t* _ports = nullptr;
    const clap_plugin_state_t* _state = nullptr;
    // Fixed storage: queueing and processing run on the audio thread and must not allocate.
    std::array<clap_event_param_value_t, 2 * kParameterCount> _events{};
    std::uint32_t _eventCount = 0;
    std::uint32_t _channels = 0;
    bool _active = false;
    bool _processing = false;
};

} // namespace thraskvell::test
