// A minimal CLAP host over the headers DPF ships, for the host tests and the benchmark.
// Threads: main, except process(), which a real host calls on its audio thread.
#pragma once

#include "tests/extension/plugin/PluginTestSupport.h"

#include "clap/entry.h"
#include "clap/ext/audio-ports.h"
#include "clap/ext/params.h"
#include "clap/ext/state.h"
#include "clap/plugin-factory.h"

#include <dlfcn.h>

#include <utility>

namespace thraskvell::test {

struct ClapLibrary {
    explicit ClapLibrary(const std::string& path) : handle(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL)) {
        if (handle) entry = static_cast<const clap_plugin_entry_t*>(dlsym(handle, "clap_entry"));
        if (entry && !entry->init(path.c_str())) entry = nullptr;
    }
    ~ClapLibrary() {
        if (entry) entry->deinit();
        if (handle) dlclose(handle);
    }
    void* handle;
    const clap_plugin_entry_t* entry = nullptr;
};

class ClapInstance : public PluginAdapter {
public:
    ClapInstance(const ClapLibrary& library, const char* id) {
        const auto* factory = static_cast<const clap_plugin_factory_t*>(
            library.entry ? library.entry->get_factory(CLAP_PLUGIN_FACTORY_ID) : nullptr);
        if (factory) _plugin = factory->create_plugin(factory, &_host, id);
        if (_plugin && !_plugin->init(_plugin)) _plugin->destroy(std::exchange(_plugin, nullptr));
        if (!_plugin) return;
        const clap_plugin_descriptor_t& about = *_plugin->desc;
        identity = std::string(about.id) + " " + about.name + " by " + about.vendor + ":";
        for (const char* const* feature = about.features; feature && *feature; ++feature)
            identity.append(" ").append(*feature);
        _channels = ports(true);
        identity += "; " + std::to_string(_channels) + " in, " + std::to_string(ports(false)) + " out";
        const auto* params = extension<clap_plugin_params_t>(CLAP_EXT_PARAMS);
        for (std::uint32_t i = 0; i < params->count(_plugin); ++i) {
            clap_param_info_t info{};
            params->get_info(_plugin, i, &info);
            parameters.push_back({info.name, "", info.min_value, info.max_value, info.default_value,
                                  (info.flags & CLAP_PARAM_IS_AUTOMATABLE) != 0,
                                  (info.flags & CLAP_PARAM_IS_STEPPED) != 0});
        }
    }
    ~ClapInstance() override {
        deactivate();
        if (_plugin) _plugin->destroy(_plugin);
    }

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

    void queueParameter(clap_id id, double value) {
        const clap_event_header_t header{sizeof(clap_event_param_value_t), 0, CLAP_CORE_EVENT_SPACE_ID,
                                         CLAP_EVENT_PARAM_VALUE, 0};
        if (_eventCount < _events.size())
            _events[_eventCount++] = {header, id, nullptr, -1, -1, -1, -1, value};
    }
    void setParameter(std::uint32_t index, float value) override { queueParameter(index, value); }
    float parameterValue(std::uint32_t index) const {
        double value = -1.0;
        extension<clap_plugin_params_t>(CLAP_EXT_PARAMS)->get_value(_plugin, index, &value);
        return static_cast<float>(value);
    }

    // One block: in and out hold the channel pointers of one port each.
    bool process(float** in, float** out, std::uint32_t channels, std::uint32_t frames) {
        clap_audio_buffer_t input{in, nullptr, channels, 0, 0}, output{out, nullptr, channels, 0, 0};
        const clap_process_t data{-1, frames, nullptr, &input, &output, 1, 1, &_queued, &_ignored};
        const bool ok = _plugin->process(_plugin, &data) != CLAP_PROCESS_ERROR;
        _eventCount = 0;
        return ok;
    }
    bool process(float** in, float** out, std::uint32_t n) override { return process(in, out, _channels, n); }
    void flush() override {
        deactivate(); // flushing on the main thread, as hosts do while stopped
        extension<clap_plugin_params_t>(CLAP_EXT_PARAMS)->flush(_plugin, &_queued, &_ignored);
        _eventCount = 0;
    }

    std::string saveState() override {
        std::string bytes;
        const clap_ostream_t stream{
            &bytes, [](const clap_ostream_t* s, const void* data, std::uint64_t size) {
                static_cast<std::string*>(s->ctx)->append(static_cast<const char*>(data), size);
                return static_cast<std::int64_t>(size);
            }};
        return extension<clap_plugin_state_t>(CLAP_EXT_STATE)->save(_plugin, &stream) ? bytes : "";
    }
    bool restoreState(const std::string& bytes) override {
        std::string_view rest = bytes;
        const clap_istream_t stream{&rest, [](const clap_istream_t* s, void* data, std::uint64_t size) {
                                        auto& rest = *static_cast<std::string_view*>(s->ctx);
                                        const std::size_t n = rest.copy(static_cast<char*>(data), size);
                                        rest.remove_prefix(n);
                                        return static_cast<std::int64_t>(n);
                                    }};
        return extension<clap_plugin_state_t>(CLAP_EXT_STATE)->load(_plugin, &stream);
    }

private:
    template <class Extension> const Extension* extension(const char* id) const {
        return static_cast<const Extension*>(_plugin->get_extension(_plugin, id));
    }
    std::uint32_t ports(bool input) const {
        const auto* ports = extension<clap_plugin_audio_ports_t>(CLAP_EXT_AUDIO_PORTS);
        clap_audio_port_info_t info{};
        return ports->count(_plugin, input) == 1 && ports->get(_plugin, 0, input, &info) ? info.channel_count
                                                                                         : 0;
    }

    static ClapInstance& of(const clap_input_events_t* l) { return *static_cast<ClapInstance*>(l->ctx); }
    static const void* noExtension(const clap_host_t*, const char*) { return nullptr; }
    static void ignore(const clap_host_t*) {}

    clap_host_t _host{CLAP_VERSION, this,  "Thrask Vell test host", "", "", "1.0.0", noExtension, ignore,
                      ignore,       ignore};
    const clap_plugin_t* _plugin = nullptr;
    // Fixed storage: queueing and processing run on the audio thread and must not allocate.
    std::array<clap_event_param_value_t, 2 * kParameterCount> _events{};
    std::uint32_t _eventCount = 0, _channels = 0;
    const clap_input_events_t _queued{
        this, [](const clap_input_events_t* list) { return of(list)._eventCount; },
        [](const clap_input_events_t* list, std::uint32_t i) -> const clap_event_header_t* {
            return &of(list)._events[i].header;
        }};
    const clap_output_events_t _ignored{
        nullptr, [](const clap_output_events_t*, const clap_event_header_t*) { return true; }};
    bool _active = false, _processing = false;
};

} // namespace thraskvell::test
