// A minimal CLAP host over the headers DPF ships: loads a .clap, creates the plug-in, and drives
// parameters, audio ports, processing and state. Shared by the host test and the benchmark.
//
// Threads: main, except process(), which a real host calls on its audio thread; here the caller's.
#pragma once

#include "clap/entry.h"
#include "clap/ext/audio-ports.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/plugin-factory.h"

#include <dlfcn.h>

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace thraskvell::test {

// One loaded binary: dlopen, entry init / deinit.
class ClapLibrary {
public:
    explicit ClapLibrary(const std::string& path) : _handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (!_handle) return;
        _entry = static_cast<const clap_plugin_entry_t*>(dlsym(_handle, "clap_entry"));
        if (_entry && !_entry->init(path.c_str())) _entry = nullptr;
    }
    ~ClapLibrary() {
        if (_entry) _entry->deinit();
        if (_handle) dlclose(_handle);
    }
    ClapLibrary(const ClapLibrary&) = delete;
    ClapLibrary& operator=(const ClapLibrary&) = delete;

    const clap_plugin_entry_t* entry() const { return _entry; }
    const clap_plugin_factory_t* factory() const {
        return _entry ? static_cast<const clap_plugin_factory_t*>(_entry->get_factory(CLAP_PLUGIN_FACTORY_ID))
                      : nullptr;
    }

private:
    void* _handle;
    const clap_plugin_entry_t* _entry = nullptr;
};

// One plug-in instance and the host object it talks to.
class ClapInstance {
public:
    ClapInstance(const ClapLibrary& library, const char* id) {
        _host.host_data = this;
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
    }
    ~ClapInstance() {
        if (!_plugin) return;
        if (_processing) _plugin->stop_processing(_plugin);
        if (_active) _plugin->deactivate(_plugin);
        _plugin->destroy(_plugin);
    }
    ClapInstance(const ClapInstance&) = delete;
    ClapInstance& operator=(const ClapInstance&) = delete;

    const clap_plugin_t* plugin() const { return _plugin; }
    const clap_plugin_params_t* params() const { return _params; }
    const clap_plugin_audio_ports_t* ports() const { return _ports; }

    bool activate(double rate, std::uint32_t maxFrames) {
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
        _events.push_back(event);
    }

    // One block: in and out hold channel pointers of one port each.
    bool process(float** in, float** out, std::uint32_t channels, std::uint32_t frames) {
        clap_audio_buffer_t input{in, nullptr, channels, 0, 0};
        clap_audio_buffer_t output{out, nullptr, channels, 0, 0};
        const clap_input_events_t inEvents{
            this,
            [](const clap_input_events_t* list) {
                return static_cast<std::uint32_t>(static_cast<ClapInstance*>(list->ctx)->_events.size());
            },
            [](const clap_input_events_t* list, std::uint32_t index) -> const clap_event_header_t* {
                return &static_cast<ClapInstance*>(list->ctx)->_events[index].header;
            }};
        const clap_output_events_t outEvents{
            nullptr, [](const clap_output_events_t*, const clap_event_header_t*) { return true; }};
        clap_process_t data{};
        data.steady_time = _steadyTime;
        data.frames_count = frames;
        data.audio_inputs = &input;
        data.audio_outputs = &output;
        data.audio_inputs_count = 1;
        data.audio_outputs_count = 1;
        data.in_events = &inEvents;
        data.out_events = &outEvents;
        const clap_process_status status = _plugin->process(_plugin, &data);
        _events.clear();
        _steadyTime += frames;
        return status != CLAP_PROCESS_ERROR;
    }

    std::vector<std::uint8_t> saveState() const {
        std::vector<std::uint8_t> bytes;
        const clap_ostream_t stream{&bytes,
                                    [](const clap_ostream_t* s, const void* buffer, std::uint64_t size) {
                                        auto* out = static_cast<std::vector<std::uint8_t>*>(s->ctx);
                                        const auto* p = static_cast<const std::uint8_t*>(buffer);
                                        out->insert(out->end(), p, p + size);
                                        return static_cast<std::int64_t>(size);
                                    }};
        if (!_state || !_state->save(_plugin, &stream)) bytes.clear();
        return bytes;
    }
    bool loadState(const std::vector<std::uint8_t>& bytes) {
        struct Reader {
            const std::vector<std::uint8_t>* bytes;
            std::size_t position;
        } reader{&bytes, 0};
        const clap_istream_t stream{&reader, [](const clap_istream_t* s, void* buffer, std::uint64_t size) {
                                        auto* r = static_cast<Reader*>(s->ctx);
                                        const std::size_t n =
                                            std::min<std::size_t>(size, r->bytes->size() - r->position);
                                        std::memcpy(buffer, r->bytes->data() + r->position, n);
                                        r->position += n;
                                        return static_cast<std::int64_t>(n);
                                    }};
        return _state && _state->load(_plugin, &stream);
    }

    double parameterValue(clap_id id) const {
        double value = -1.0;
        return _params && _params->get_value(_plugin, id, &value) ? value : -1.0;
    }

private:
    clap_host_t _host{CLAP_VERSION,
                      nullptr,
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
    std::vector<clap_event_param_value_t> _events;
    std::int64_t _steadyTime = 0;
    bool _active = false;
    bool _processing = false;
};

} // namespace thraskvell::test
