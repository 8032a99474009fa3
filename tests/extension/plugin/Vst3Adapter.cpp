// The VST3 binaries through DPF's travesty headers, as a VST3 host drives them: module entry,
// factory, the effect's class, component, processor and controller. Parameters travel normalised
// in the process call; projects keep the component's state chunk.
#include "tests/extension/plugin/PluginTestSupport.h"

#include "travesty/audio_processor.h"
#include "travesty/bstream.h"
#include "travesty/component.h"
#include "travesty/edit_controller.h"
#include "travesty/factory.h"

#include <dlfcn.h>

#include <cstdio>
#include <cstring>
#include <map>

namespace thraskvell::test {
namespace {

// Host-side COM objects, laid out as travesty expects: a pointer to a table of the three
// v3_funknown functions followed by the interface's own. The host owns them; ref counts are moot.
v3_result V3_API noInterface(void*, const v3_tuid, void**) {
    return V3_NO_INTERFACE;
}
uint32_t V3_API oneRef(void*) {
    return 1;
}
template <class Interface> struct Com {
    v3_funknown unknown{noInterface, oneRef, oneRef};
    Interface methods;
};

// The project's chunk: DPF only writes and reads it front to back.
struct Stream {
    Com<v3_bstream>* table = &kTable;
    std::string bytes;
    v3_bstream** object() { return reinterpret_cast<v3_bstream**>(&table); }
    static Com<v3_bstream> kTable;
};
Com<v3_bstream> Stream::kTable{
    .methods = {[](void* o, void* buffer, int32_t size, int32_t* done) -> v3_result {
                    auto& bytes = static_cast<Stream*>(o)->bytes;
                    *done = static_cast<int32_t>(bytes.copy(static_cast<char*>(buffer), std::size_t(size)));
                    bytes.erase(0, std::size_t(*done));
                    return V3_OK;
                },
                [](void* o, void* buffer, int32_t size, int32_t* done) -> v3_result {
                    static_cast<Stream*>(o)->bytes.append(static_cast<const char*>(buffer),
                                                          std::size_t(*done = size));
                    return V3_OK;
                },
                [](void*, int64_t, int32_t, int64_t*) -> v3_result { return V3_NOT_IMPLEMENTED; },
                [](void*, int64_t*) -> v3_result { return V3_NOT_IMPLEMENTED; }}};

// Parameter changes for one process call, each one point at frame 0, in fixed storage.
struct Queue {
    Com<v3_param_value_queue>* table = &kTable;
    v3_param_id id = 0;
    double value = 0.0;
    static Com<v3_param_value_queue> kTable;
};
Com<v3_param_value_queue> Queue::kTable{
    .methods = {[](void* o) { return static_cast<Queue*>(o)->id; }, [](void*) { return int32_t{1}; },
                [](void* o, int32_t, int32_t* offset, double* value) -> v3_result {
                    *offset = 0;
                    *value = static_cast<Queue*>(o)->value;
                    return V3_OK;
                },
                [](void*, int32_t, double, int32_t*) -> v3_result { return V3_NOT_IMPLEMENTED; }}};
struct Changes {
    Com<v3_param_changes>* table = &kTable;
    std::array<Queue, kParameterCount> queues{};
    int32_t count = 0;
    static Com<v3_param_changes> kTable;
};
Com<v3_param_changes> Changes::kTable{
    .methods = {[](void* o) { return static_cast<Changes*>(o)->count; },
                [](void* o, int32_t index) {
                    return reinterpret_cast<v3_param_value_queue**>(
                        &static_cast<Changes*>(o)->queues[static_cast<std::size_t>(index)].table);
                },
                [](void*, v3_param_id*, int32_t*) -> v3_param_value_queue** { return nullptr; }}};

// Entered while some instance of the binary lives, as a host keeps the modules it uses.
struct Module {
    explicit Module(const char* path) : handle(dlopen(path, RTLD_NOW | RTLD_LOCAL)) {
        const auto entry = reinterpret_cast<bool (*)(void*)>(handle ? dlsym(handle, "ModuleEntry") : nullptr);
        const auto get = reinterpret_cast<void* (*)()>(handle ? dlsym(handle, "GetPluginFactory") : nullptr);
        if (entry && get && entry(handle)) factory = static_cast<v3_plugin_factory**>(get());
    }
    ~Module() {
        if (!factory) return;
        v3_cpp_obj_unref(factory);
        reinterpret_cast<bool (*)()>(dlsym(handle, "ModuleExit"))();
    }
    void* handle;
    v3_plugin_factory** factory = nullptr;
};

std::shared_ptr<Module> module(const char* path) {
    static std::map<std::string, std::weak_ptr<Module>> modules;
    auto shared = modules[path].lock();
    if (!shared) modules[path] = shared = std::make_shared<Module>(path);
    return shared;
}

class Vst3Adapter final : public PluginAdapter {
public:
    explicit Vst3Adapter(const PluginVariant& variant)
        : _module(module(variant.vst3Path)), _factory(_module->factory), _channels(variant.channels) {
        for (int32_t i = 0; _factory && i < v3_cpp_obj(_factory)->num_classes(_factory) && !_component; ++i)
            if (v3_cpp_obj(_factory)->get_class_info(_factory, i, &_class) == V3_OK &&
                std::string_view(_class.category) == "Audio Module Class")
                v3_cpp_obj(_factory)->create_instance(_factory, _class.class_id, v3_component_iid,
                                                      reinterpret_cast<void**>(&_component));
        if (!_component) return;
        v3_cpp_obj_initialize(_component, nullptr);
        v3_cpp_obj_query_interface(_component, v3_audio_processor_iid, &_processor);
        v3_cpp_obj_query_interface(_component, v3_edit_controller_iid, &_controller);
    }
    ~Vst3Adapter() override {
        stop();
        if (_processor) v3_cpp_obj_unref(_processor);
        if (_controller) v3_cpp_obj_unref(_controller);
        if (_component) {
            v3_cpp_obj_terminate(_component);
            v3_cpp_obj_unref(_component);
        }
    }
    bool valid() const { return _processor && _controller; }

    std::string identity() const override {
        v3_factory_info factory{};
        v3_cpp_obj(_factory)->get_factory_info(_factory, &factory);
        std::string line;
        for (const char byte : _class.class_id) {
            char digits[3];
            std::snprintf(digits, sizeof digits, "%02X",
                          static_cast<unsigned>(static_cast<std::uint8_t>(byte)));
            line += digits;
        }
        return line + " " + _class.name + " by " + factory.vendor;
    }
    std::array<std::uint32_t, 2> audioPorts() const override {
        std::array<std::uint32_t, 2> channels{};
        for (const int32_t direction : {V3_INPUT, V3_OUTPUT}) {
            v3_bus_info bus{};
            if (v3_cpp_obj(_component)->get_bus_count(_component, V3_AUDIO, direction) == 1 &&
                v3_cpp_obj(_component)->get_bus_info(_component, V3_AUDIO, direction, 0, &bus) == V3_OK)
                channels[direction == V3_INPUT ? 0 : 1] = static_cast<std::uint32_t>(bus.channel_count);
        }
        return channels;
    }
    std::vector<HostParameter> parameters() const override {
        std::vector<HostParameter> result;
        for (int32_t i = 0; i < v3_cpp_obj(_controller)->get_parameter_count(_controller); ++i) {
            v3_param_info info{};
            v3_cpp_obj(_controller)->get_parameter_info(_controller, i, &info);
            std::string title;
            for (const int16_t* c = info.title; *c; ++c)
                title.push_back(static_cast<char>(*c));
            result.push_back({title, "", plain(info.param_id, 0.0), plain(info.param_id, 1.0),
                              plain(info.param_id, info.default_normalised_value),
                              (info.flags & V3_PARAM_CAN_AUTOMATE) != 0, info.step_count != 0});
        }
        return result;
    }
    bool activate(double rate, std::uint32_t maxBlock) override {
        stop();
        v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, static_cast<int32_t>(maxBlock), rate};
        if (v3_cpp_obj(_processor)->setup_processing(_processor, &setup) != V3_OK) return false;
        _active = v3_cpp_obj(_component)->set_active(_component, true) == V3_OK;
        _processing = _active && v3_cpp_obj(_processor)->set_processing(_processor, true) == V3_OK;
        return _processing;
    }
    void setParameter(std::uint32_t index, float value) override {
        if (_changes.count < static_cast<int32_t>(kParameterCount))
            _changes.queues[static_cast<std::size_t>(_changes.count++)] = {
                &Queue::kTable, index,
                v3_cpp_obj(_controller)->plain_parameter_to_normalised(_controller, index, value)};
    }
    float parameterValue(std::uint32_t index) const override {
        return static_cast<float>(
            plain(index, v3_cpp_obj(_controller)->get_parameter_normalised(_controller, index)));
    }
    bool process(float** in, float** out, std::uint32_t frames) override {
        v3_audio_bus_buffers inBus{static_cast<int32_t>(_channels), 0, {in}};
        v3_audio_bus_buffers outBus{static_cast<int32_t>(_channels), 0, {out}};
        v3_process_data data{};
        data.process_mode = V3_REALTIME;
        data.symbolic_sample_size = V3_SAMPLE_32;
        data.nframes = static_cast<int32_t>(frames);
        data.num_input_buses = data.num_output_buses = 1;
        data.inputs = &inBus;
        data.outputs = &outBus;
        // The effect has no output parameters: the same list takes nothing back.
        data.input_params = data.output_params = reinterpret_cast<v3_param_changes**>(&_changes.table);
        const bool ok = v3_cpp_obj(_processor)->process(_processor, &data) == V3_OK;
        _changes.count = 0;
        return ok;
    }
    std::string saveState() override {
        Stream stream;
        return v3_cpp_obj(_component)->get_state(_component, stream.object()) == V3_OK ? stream.bytes : "";
    }
    // DPF's controller is the component itself, so the component's state reaches both.
    bool restoreState(const std::string& bytes) override {
        Stream stream{&Stream::kTable, bytes};
        return v3_cpp_obj(_component)->set_state(_component, stream.object()) == V3_OK;
    }

private:
    double plain(v3_param_id id, double normalised) const {
        return v3_cpp_obj(_controller)->normalised_parameter_to_plain(_controller, id, normalised);
    }
    void stop() {
        if (_processing) v3_cpp_obj(_processor)->set_processing(_processor, false);
        if (_active) v3_cpp_obj(_component)->set_active(_component, false);
        _active = _processing = false;
    }

    std::shared_ptr<Module> _module;
    v3_plugin_factory** _factory;
    std::uint32_t _channels;
    v3_class_info _class{};
    v3_component** _component = nullptr;
    v3_audio_processor** _processor = nullptr;
    v3_edit_controller** _controller = nullptr;
    Changes _changes;
    bool _active = false, _processing = false;
};

} // namespace

std::unique_ptr<PluginAdapter> makeVst3Adapter(const PluginVariant& variant) {
    auto adapter = std::make_unique<Vst3Adapter>(variant);
    return adapter->valid() ? std::move(adapter) : nullptr;
}

} // namespace thraskvell::test
