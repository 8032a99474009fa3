// What every format keeps through its own host path (lilv, the CLAP entry, the VST3 factory), both variants:
// its identity as projects remember it, the bridge's sound bit for bit whatever the blocks, values and
// re-activations, without allocating, and state into a fresh instance; the LV2 presets; a host's threads.
#include "tests/extension/plugin/ClapHost.h"
#include "tests/support/AllocationCounter.h"

#include "travesty/audio_processor.h"
#include "travesty/component.h"
#include "travesty/edit_controller.h"
#include "travesty/factory.h"

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/port-props/port-props.h>
#include <lv2/presets/presets.h>
#include <lv2/worker/worker.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <fstream>
#include <map>
#include <ranges>
#include <span>
#include <sstream>
#include <thread>
#include <tuple>

namespace thraskvell::test {
namespace {

template <class T> using Owned = std::unique_ptr<T, void (*)(T*)>;

// The LV2 bundles through lilv, as LV2 hosts load them: the host owns the control ports' values,
// instantiates afresh for each rate and block size, and keeps lilv's Turtle state in its projects.
class Lv2Adapter final : public PluginAdapter {
public:
    explicit Lv2Adapter(const PluginVariant& variant) {
        reinstantiates = true; // rate and block lengths are fixed at instantiation
        const auto bundle = own(lilv_new_file_uri(_world.get(), nullptr, variant.lv2Bundle)),
                   uri = node(variant.lv2Uri);
        lilv_world_load_bundle(_world.get(), bundle.get());
        if (!(_plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(_world.get()), uri.get()))) return;
        const std::uint32_t ports = lilv_plugin_get_num_ports(_plugin);
        std::vector<float> min(ports), max(ports), init(ports);
        lilv_plugin_get_port_ranges_float(_plugin, min.data(), max.data(), init.data());
        for (std::uint32_t i = 0; i < ports; ++i) {
            const bool input = is(i, LV2_CORE__InputPort);
            if (is(i, LV2_CORE__AudioPort)) (input ? _audioIn : _audioOut).push_back(i);
            if (is(i, LV2_ATOM__AtomPort)) (input ? _eventsInPort : _eventsOutPort) = i;
            if (!input || !is(i, LV2_CORE__ControlPort)) continue;
            const auto name = own(lilv_port_get_name(_plugin, port(i)));
            const char* symbol = lilv_node_as_string(lilv_port_get_symbol(_plugin, port(i)));
            parameters.push_back({lilv_node_as_string(name.get()), symbol, min[i], max[i], init[i],
                                  !is(i, LV2_PORT_PROPS__notAutomatic, true),
                                  is(i, LV2_CORE__toggled, true)});
            _controls.emplace_back(i, &(_values[symbol] = init[i]));
        }
        const auto name = own(lilv_plugin_get_name(_plugin));
        identity = std::string(lilv_node_as_uri(lilv_plugin_get_uri(_plugin))) + " " +
                   lilv_node_as_string(name.get()) + "; " + std::to_string(_audioIn.size()) + " in, " +
                   std::to_string(_audioOut.size()) + " out";
    }

    // The nominal length is the prepared one; the maximum, the longest block a host sends.
    bool activate(double rate, std::uint32_t maxBlock) override {
        _instance.reset();
        _blocks = {std::int32_t(maxBlock), std::int32_t(overrun * maxBlock)};
        LV2_Options_Option options[] = {{LV2_OPTIONS_INSTANCE, 0, map(LV2_BUF_SIZE__nominalBlockLength),
                                         sizeof(std::int32_t), map(LV2_ATOM__Int), &_blocks[0]},
                                        {LV2_OPTIONS_INSTANCE, 0, map(LV2_BUF_SIZE__maxBlockLength),
                                         sizeof(std::int32_t), map(LV2_ATOM__Int), &_blocks[1]},
                                        {}};
        const LV2_Feature mapping{LV2_URID__map, &_map}, optionsFeature{LV2_OPTIONS__options, options},
            worker{LV2_WORKER__schedule, &_worker};
        const LV2_Feature* features[] = {&mapping, &optionsFeature, &worker, nullptr};
        _instance.reset(lilv_plugin_instantiate(_plugin, rate, features));
        if (!_instance) return false;
        for (const auto& [index, value] : _controls)
            lilv_instance_connect_port(_instance.get(), index, value);
        lilv_instance_connect_port(_instance.get(), _eventsInPort, _eventsIn.data());
        lilv_instance_connect_port(_instance.get(), _eventsOutPort, _eventsOut.data());
        lilv_instance_activate(_instance.get());
        return true;
    }
    void setParameter(std::uint32_t index, float value) override { *_controls[index].second = value; }
    bool process(float** in, float** out, std::uint32_t frames) override {
        for (std::size_t c = 0; c < _audioIn.size(); ++c) {
            lilv_instance_connect_port(_instance.get(), _audioIn[c], in[c]);
            lilv_instance_connect_port(_instance.get(), _audioOut[c], out[c]);
        }
        *reinterpret_cast<LV2_Atom_Sequence*>(_eventsIn.data()) = {
            {sizeof(LV2_Atom_Sequence_Body), map(LV2_ATOM__Sequence)}, {0, 0}};
        reinterpret_cast<LV2_Atom*>(_eventsOut.data())->size = sizeof _eventsOut - sizeof(LV2_Atom);
        lilv_instance_run(_instance.get(), frames);
        return true;
    }

    std::string saveState() override {
        const Owned<LilvState> state{
            lilv_state_new_from_instance(
                _plugin, _instance.get(), &_map, nullptr, nullptr, nullptr, nullptr,
                [](const char* symbol, void* self, std::uint32_t* size, std::uint32_t* type) -> const void* {
                    *size = sizeof(float);
                    *type = static_cast<Lv2Adapter*>(self)->map(LV2_ATOM__Float);
                    return &static_cast<Lv2Adapter*>(self)->_values.find(symbol)->second;
                },
                this, 0, nullptr),
            lilv_state_free};
        const Owned<char> text{lilv_state_to_string(_world.get(), &_map, &_unmap, state.get(),
                                                    "urn:thraskvell:test:state", nullptr),
                               [](char* text) { lilv_free(text); }};
        return text ? text.get() : "";
    }
    bool restoreState(const std::string& turtle) override {
        return restore(lilv_state_new_from_string(_world.get(), &_map, turtle.c_str()));
    }
    Owned<LilvNodes> presets() const {
        return {lilv_plugin_get_related(_plugin, node(LV2_PRESETS__Preset).get()), lilv_nodes_free};
    }
    // Loads one as jalv does, port values and state text: its one label, empty when it did not load.
    std::string loadPreset(const LilvNode* preset) {
        lilv_world_load_resource(_world.get(), preset);
        const Owned<LilvNodes> labels{
            lilv_world_find_nodes(_world.get(), preset, node(LILV_NS_RDFS "label").get(), nullptr),
            lilv_nodes_free};
        const std::string name =
            lilv_nodes_size(labels.get()) == 1 ? lilv_node_as_string(lilv_nodes_get_first(labels.get())) : "";
        return restore(lilv_state_new_from_world(_world.get(), &_map, preset)) ? name : "";
    }

private:
    bool restore(LilvState* loaded) {
        const Owned<LilvState> state{loaded, lilv_state_free};
        if (state)
            lilv_state_restore(
                state.get(), _instance.get(),
                [](const char* symbol, void* self, const void* value, std::uint32_t, std::uint32_t) {
                    static_cast<Lv2Adapter*>(self)->_values[symbol] = *static_cast<const float*>(value);
                },
                this, 0, nullptr);
        return state != nullptr;
    }
    LV2_URID map(const char* uri) {
        auto found = std::find(_uris.begin(), _uris.end(), uri);
        if (found == _uris.end()) found = _uris.emplace(found, uri);
        return LV2_URID(found - _uris.begin() + 1);
    }
    bool is(std::uint32_t index, const char* uri, bool property = false) const {
        return (property ? lilv_port_has_property : lilv_port_is_a)(_plugin, port(index), node(uri).get());
    }
    static Owned<LilvNode> own(LilvNode* node) { return {node, lilv_node_free}; }
    Owned<LilvNode> node(const char* uri) const { return own(lilv_new_uri(_world.get(), uri)); }
    const LilvPort* port(std::uint32_t index) const { return lilv_plugin_get_port_by_index(_plugin, index); }

    const Owned<LilvWorld> _world{lilv_world_new(), lilv_world_free};
    const LilvPlugin* _plugin = nullptr;
    Owned<LilvInstance> _instance{nullptr, [](LilvInstance* instance) {
                                      lilv_instance_deactivate(instance);
                                      lilv_instance_free(instance);
                                  }};
    std::deque<std::string> _uris; // URID - 1; a deque keeps unmapped strings in place
    LV2_URID_Map _map{this, [](LV2_URID_Map_Handle self, const char* uri) {
                          return static_cast<Lv2Adapter*>(self)->map(uri);
                      }};
    LV2_URID_Unmap _unmap{this, [](LV2_URID_Unmap_Handle self, LV2_URID urid) {
                              const auto& uris = static_cast<Lv2Adapter*>(self)->_uris;
                              return urid > 0 && urid <= uris.size() ? uris[urid - 1].c_str() : nullptr;
                          }};
    LV2_Worker_Schedule _worker{};         // required, but DPF schedules work only for an editor's messages
    std::array<std::int32_t, 2> _blocks{}; // nominal, maximum
    std::vector<std::uint32_t> _audioIn, _audioOut;
    std::map<std::string, float, std::less<>> _values;       // by symbol: the host's, as saved
    std::vector<std::pair<std::uint32_t, float*>> _controls; // port index, value, in address order
    std::uint32_t _eventsInPort = 0, _eventsOutPort = 0;
    std::array<std::uint64_t, 128> _eventsIn{}, _eventsOut{}; // 8-byte aligned, as atoms require
};

struct ClapAdapter : ClapLibrary, ClapInstance {
    explicit ClapAdapter(const PluginVariant& v) : ClapLibrary(v.clapPath), ClapInstance(*this, v.clapId) {}
};

// Host objects as travesty lays them out: a pointer to a table of v3_funknown's three entries and the
// interface's own, then the object's data. DPF never queries or counts the host's objects.
template <class Interface, class Data> struct HostObject {
    struct Table {
        v3_funknown unknown;
        Interface methods;
    };
    const Table* table;
    Data data;
    Interface** object() { return reinterpret_cast<Interface**>(this); }
    static Data& of(void* self) { return static_cast<HostObject*>(self)->data; }
};

// The state chunk and how much of it was read: DPF writes at the end and reads front to back.
using Vst3Stream = HostObject<v3_bstream, std::pair<std::string, std::size_t>>;
constexpr Vst3Stream::Table kStream{
    {},
    {[](void* self, void* data, std::int32_t size, std::int32_t* done) {
         auto& [bytes, read] = Vst3Stream::of(self);
         read +=
             std::size_t(*done = std::int32_t(bytes.copy(static_cast<char*>(data), std::size_t(size), read)));
         return v3_result{V3_OK};
     },
     [](void* self, void* data, std::int32_t size, std::int32_t* done) {
         Vst3Stream::of(self).first.append(static_cast<const char*>(data), std::size_t(*done = size));
         return v3_result{V3_OK};
     },
     nullptr, nullptr}};

// The parameter changes of one process call, one point each at the first frame, in fixed storage.
using Vst3Queue = HostObject<v3_param_value_queue, std::pair<v3_param_id, double>>;
using Vst3Changes =
    HostObject<v3_param_changes, std::pair<std::int32_t, std::array<Vst3Queue, 2 * kParameterCount>>>;
constexpr Vst3Queue::Table kQueue{{},
                                  {[](void* self) { return Vst3Queue::of(self).first; },
                                   [](void*) { return std::int32_t{1}; },
                                   [](void* self, std::int32_t, std::int32_t* offset, double* value) {
                                       *offset = 0;
                                       *value = Vst3Queue::of(self).second;
                                       return v3_result{V3_OK};
                                   },
                                   nullptr}};
constexpr Vst3Changes::Table kChanges{
    {},
    {[](void* self) { return Vst3Changes::of(self).first; },
     [](void* self, std::int32_t i) { return Vst3Changes::of(self).second[std::size_t(i)].object(); },
     [](void*, v3_param_id*, std::int32_t*) -> v3_param_value_queue** { return nullptr; }}};

// VST3 through DPF's travesty headers, as hosts drive it: the factory's first class, the effect, whose
// component DPF makes the processor and controller too; parameters travel normalised in process calls.
class Vst3Adapter final : public PluginAdapter {
public:
    explicit Vst3Adapter(const PluginVariant& variant) : _channels(std::int32_t(variant.channels)) {
        overrun = 1; // DPF's VST3 wrapper sizes its buffers to the prepared maximum, as VST3 allows
        // The module stays loaded, as hosts keep it, but is entered only for the scan.
        void* module = dlopen(variant.vst3Path, RTLD_NOW | RTLD_LOCAL);
        const auto symbol = [&](const char* name) { return module ? dlsym(module, name) : nullptr; };
        const auto enter = reinterpret_cast<bool (*)(void*)>(symbol("ModuleEntry"));
        const auto get = reinterpret_cast<v3_plugin_factory** (*)()>(symbol("GetPluginFactory"));
        v3_plugin_factory** factory = enter && get && enter(module) ? get() : nullptr;
        v3_factory_info about{};
        v3_class_info effect{};
        if (factory && v3_cpp_obj(factory)->get_factory_info(factory, &about) == V3_OK &&
            v3_cpp_obj(factory)->get_class_info(factory, 0, &effect) == V3_OK)
            v3_cpp_obj(factory)->create_instance(factory, effect.class_id, v3_component_iid,
                                                 reinterpret_cast<void**>(&_component));
        char hex[3];
        for (const std::uint8_t byte : effect.class_id)
            identity.append(hex, std::snprintf(hex, sizeof hex, "%02X", byte));
        identity += std::string(" ") + effect.category + ": " + effect.name + " by " + about.vendor;
        if (factory) {
            v3_cpp_obj_unref(factory);
            reinterpret_cast<bool (*)()>(symbol("ModuleExit"))();
        }
        if (!_component || v3_cpp_obj_initialize(_component, nullptr) != V3_OK ||
            v3_cpp_obj_query_interface(_component, v3_audio_processor_iid, &_processor) != V3_OK ||
            v3_cpp_obj_query_interface(_component, v3_edit_controller_iid, &_controller) != V3_OK)
            return;
        for (std::int32_t i = 0; i < v3_cpp_obj(_controller)->get_parameter_count(_controller); ++i) {
            v3_param_info info{};
            v3_cpp_obj(_controller)->get_parameter_info(_controller, i, &info);
            const auto end = std::find(std::begin(info.title), std::end(info.title), 0);
            parameters.push_back({std::string(std::begin(info.title), end), "", plain(info.param_id, 0.0),
                                  plain(info.param_id, 1.0),
                                  plain(info.param_id, info.default_normalised_value),
                                  (info.flags & V3_PARAM_CAN_AUTOMATE) != 0, info.step_count != 0});
        }
    }
    ~Vst3Adapter() override {
        if (_processor) stop();
        if (_processor) v3_cpp_obj_unref(_processor);
        if (_controller) v3_cpp_obj_unref(_controller);
        if (_component) {
            v3_cpp_obj_terminate(_component);
            v3_cpp_obj_unref(_component);
        }
    }

    bool activate(double rate, std::uint32_t maxBlock) override {
        stop();
        v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, std::int32_t(maxBlock), rate};
        return v3_cpp_obj(_processor)->setup_processing(_processor, &setup) == V3_OK &&
               v3_cpp_obj(_component)->set_active(_component, true) == V3_OK &&
               v3_cpp_obj(_processor)->set_processing(_processor, true) == V3_OK;
    }
    void setParameter(std::uint32_t index, float value) override {
        auto& [count, queues] = _changes.data;
        const double normalised =
            v3_cpp_obj(_controller)->plain_parameter_to_normalised(_controller, index, value);
        if (count < std::int32_t(queues.size()))
            queues[std::size_t(count++)] = {&kQueue, {index, normalised}};
    }
    bool process(float** in, float** out, std::uint32_t frames) override {
        v3_audio_bus_buffers buses[2] = {{_channels, 0, {in}}, {_channels, 0, {out}}};
        // The effect has no output parameters: the same list takes nothing back.
        v3_process_data data{
            V3_REALTIME, V3_SAMPLE_32,      std::int32_t(frames), 1,       1,       &buses[0],
            &buses[1],   _changes.object(), _changes.object(),    nullptr, nullptr, nullptr};
        const bool ok = v3_cpp_obj(_processor)->process(_processor, &data) == V3_OK;
        _changes.data.first = 0;
        return ok;
    }
    std::string saveState() override {
        Vst3Stream stream{&kStream, {}};
        return v3_cpp_obj(_component)->get_state(_component, stream.object()) == V3_OK ? stream.data.first
                                                                                       : "";
    }
    // DPF's controller is the component itself, so the component's state reaches both.
    bool restoreState(const std::string& bytes) override {
        Vst3Stream stream{&kStream, {bytes, 0}};
        return v3_cpp_obj(_component)->set_state(_component, stream.object()) == V3_OK;
    }

private:
    double plain(v3_param_id id, double normalised) const {
        return v3_cpp_obj(_controller)->normalised_parameter_to_plain(_controller, id, normalised);
    }
    // DPF ignores stopping what has not started, which a host would not ask.
    void stop() {
        v3_cpp_obj(_processor)->set_processing(_processor, false);
        v3_cpp_obj(_component)->set_active(_component, false);
    }

    std::int32_t _channels;
    v3_component** _component = nullptr;
    v3_audio_processor** _processor = nullptr;
    v3_edit_controller** _controller = nullptr;
    Vst3Changes _changes{&kChanges, {}};
};

// A plug-in that shows a host no parameters did not load.
template <class Adapter> std::unique_ptr<PluginAdapter> load(const PluginVariant& variant) {
    auto adapter = std::make_unique<Adapter>(variant);
    return adapter->parameters.empty() ? nullptr : std::move(adapter);
}

struct Subject {
    const char* format;
    std::unique_ptr<PluginAdapter> (*load)(const PluginVariant&);
    const PluginVariant& variant;
    const char* identity; // hosts store these ids in every project: published, golden values
};

const Subject kSubjects[] = {
    {"lv2", load<Lv2Adapter>, kVariants[0], "urn:thraskvell:fuzz:mono Thrask Vell Mono; 1 in, 1 out"},
    {"lv2", load<Lv2Adapter>, kVariants[1], "urn:thraskvell:fuzz:stereo Thrask Vell Stereo; 2 in, 2 out"},
    {"clap", load<ClapAdapter>, kVariants[0],
     "org.thraskvell.fuzz.mono Thrask Vell Mono by Thrask Vell: audio-effect distortion mono; 1 in, 1 out"},
    {"clap", load<ClapAdapter>, kVariants[1],
     "org.thraskvell.fuzz.stereo Thrask Vell Stereo by Thrask Vell: audio-effect distortion stereo; 2 in, 2 "
     "out"},
    {"vst3", load<Vst3Adapter>, kVariants[0],
     "2046504473616C636D66565400000000 Audio Module Class: Thrask Vell Mono by Thrask Vell"},
    {"vst3", load<Vst3Adapter>, kVariants[1],
     "2046504473616C637366565400000000 Audio Module Class: Thrask Vell Stereo by Thrask Vell"},
};

// A parameter's value in the unit's JSON text, also escaped inside Turtle; -1 when it is missing.
float jsonValue(std::string text, std::string_view identifier) {
    std::erase(text, '\\');
    const auto at = text.find('"' + std::string(identifier) + "\":");
    return at == std::string::npos ? -1.0f : std::strtof(&text[at + identifier.size() + 3], nullptr);
}

// The plug-in and a bridge from the plug-in's declared defaults, fed the same signal, blocks and changes.
struct Duet {
    Duet(PluginAdapter& p, std::uint32_t c)
        : plugin(p), channels(c), input(testSignal(c, 40000)),
          output(c, std::vector<float>(input[0].size(), -7.0f)), expected(output) {
        for (std::size_t i = 0; i < kParameterCount; ++i)
            settings[i] = float(plugin.parameters[i].defaultValue);
    }

    bool activate(double rate, std::uint32_t maxBlock) {
        // A new instance has a new bridge: the reference starts afresh at the same settings.
        if (plugin.reinstantiates || !bridge) {
            bridge = std::make_unique<DSPBridge>();
            for (const auto& definition : allParameters())
                bridge->setParameter(definition.identifier, settings[definition.address]);
        }
        return plugin.activate(rate, maxBlock) && bridge->prepare(int(maxBlock), rate, int(channels));
    }
    // A host sends a switch, a toggle, only one of its ends; the unit hears the rest held to the range.
    void set(std::uint32_t index, float value) {
        const float min = float(plugin.parameters[index].min), max = float(plugin.parameters[index].max);
        if (isSwitchParameter(index) && value >= min && value <= max) value = value > 50.0f ? max : min;
        plugin.setParameter(index, value);
        if (!std::isnan(value)) settings[index] = std::clamp(value, min, max);
        bridge->setParameter(allParameters()[index].identifier, settings[index]);
    }
    // The bridge plays in place, whole host blocks: its kernel takes any length.
    void play(std::uint32_t block) {
        ASSERT_LE(position + block, input[0].size());
        float *in[2] = {}, *out[2] = {};
        AudioBufferList list{channels, {}};
        for (std::size_t c = 0; c < channels; ++c) {
            in[c] = input[c].data() + position;
            out[c] = output[c].data() + position;
            list.mBuffers[c].mData = expected[c].data() + position;
            std::copy_n(in[c], block, list.mBuffers[c].mData);
        }
        const AllocationScope scope;
        EXPECT_TRUE(plugin.process(in, out, block));
        allocations += scope.allocations();
        bridge->processBufferList(&list, int(block));
        position += block;
    }
    ::testing::AssertionResult same() const {
        for (std::size_t c = 0; c < channels; ++c)
            for (std::size_t n = 0; n < position; ++n)
                if (std::memcmp(&output[c][n], &expected[c][n], sizeof(float)))
                    return ::testing::AssertionFailure() << "channel " << c << " frame " << n << ": "
                                                         << output[c][n] << " instead of " << expected[c][n];
        return position ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "nothing played";
    }

    PluginAdapter& plugin;
    std::uint32_t channels;
    Settings settings;
    Channels input, output, expected;
    std::unique_ptr<DSPBridge> bridge;
    std::size_t allocations = 0, position = 0;
};

class PluginContract : public ::testing::TestWithParam<Subject> {
protected:
    void SetUp() override { ASSERT_EQ(plugin ? plugin->parameters.size() : 0, kParameterCount); }
    std::unique_ptr<PluginAdapter> load() const { return GetParam().load(GetParam().variant); }
    std::uint32_t channels() const { return GetParam().variant.channels; }
    std::unique_ptr<PluginAdapter> plugin = load();
};

TEST_P(PluginContract, IdentifiesItselfAndItsParameters) {
    EXPECT_EQ(plugin->identity, GetParam().identity);
    for (const auto& definition : allParameters()) {
        const HostParameter& p = plugin->parameters[definition.address];
        const std::string identifier(definition.identifier);
        EXPECT_EQ(std::tuple(p.name, p.symbol.empty() ? identifier : p.symbol, p.min, p.max, p.defaultValue,
                             p.automatable, p.stepped),
                  std::tuple(std::string(definition.name), identifier, double(definition.minValue),
                             double(definition.maxValue), double(definition.defaultValue), true,
                             isSwitchParameter(definition.address)));
    }
}

// Defaults, a parameter changed before every block, re-activations at other rates and sizes, ragged blocks,
// values off the range (not VST3's, normalised): the one host-path proof that nothing allocates.
TEST_P(PluginContract, SoundsLikeTheBridgeWhateverTheBlocksAndValuesWithoutAllocating) {
    Duet duet(*plugin, channels());
    std::uint32_t changes = 0;
    for (const auto& [rate, max] : {std::pair{48e3, 256u}, {96e3, 64u}, {96e3, 64u}, {22050.0, 2u}}) {
        ASSERT_TRUE(duet.activate(rate, max)) << rate;
        for (int repeat = 0; repeat < 3; ++repeat)
            for (auto block : {4 * max, 1u, 0u, std::min(17u, max), max / 2, max - 1, max, 3 * max + 1}) {
                // None with an empty block, which DPF's wrappers may pass over.
                if (block && duet.position) {
                    duet.set(changes % kParameterCount, float((changes * 37) % 101));
                    ++changes;
                }
                duet.play(std::min(block, plugin->overrun * max));
            }
    }
    for (std::uint32_t i = 0; i < kParameterCount && GetParam().load != test::load<Vst3Adapter>; ++i)
        for (const float wild : {1e38f, NAN, -1e38f, 250.0f, -3.5f}) {
            duet.set(i, wild);
            duet.play(16);
        }
    EXPECT_TRUE(duet.same());
    EXPECT_EQ(duet.allocations, 0u);
}

// Hosts keep the parameters next to the state text, and only their copy is current once a value changed
// while the plug-in was stopped: theirs win, also when set back to a default the text does not hold.
TEST_P(PluginContract, StateRestoresIntoAFreshInstanceWithTheHostsValues) {
    Settings settings = distinctSettings();
    {
        Duet duet(*plugin, channels());
        ASSERT_TRUE(duet.activate(48000, 256));
        for (std::uint32_t i = 0; i < kParameterCount; ++i)
            duet.set(i, settings[i]);
        duet.play(64);
    }
    // Half here, half in the other variant; not VST3: DPF's controller keeps them to the next process call.
    for (auto i = channels() % 2; i < kParameterCount && GetParam().load != test::load<Vst3Adapter>; i += 2)
        plugin->setParameter(i, settings[i] = float(plugin->parameters[i].defaultValue));
    plugin->flush();
    std::string saved = plugin->saveState();
    plugin.reset();

    // An entry the unit does not know, as a newer version may write, comes back with the next save.
    const std::size_t version = saved.find("thraskVellVersion");
    ASSERT_NE(version, std::string::npos);
    const std::string quote = saved[version - 2] == '\\' ? "\\\"" : "\"";
    saved.insert(version - quote.size(), quote + "later" + quote + ":1.0,");

    const auto fresh = load();
    Duet duet(*fresh, channels());
    duet.settings = settings;
    ASSERT_TRUE(duet.activate(48000, 256));
    ASSERT_TRUE(fresh->restoreState(saved));
    for (int block = 0; block < 4; ++block)
        duet.play(256);
    EXPECT_TRUE(duet.same());
    const std::string unitsView = fresh->saveState();
    EXPECT_NE(unitsView.find("later"), std::string::npos);
    for (const auto& definition : allParameters())
        EXPECT_EQ(jsonValue(unitsView, definition.identifier), settings[definition.address]) << unitsView;
}

// Each bundle lists every factory preset by name; each loads as jalv loads it and plays as its file says.
TEST(FactoryPresets, LoadThroughLilvAndPlayAsTheirFilesSay) {
    const auto read = [](auto path) { return (std::ostringstream() << std::ifstream(path).rdbuf()).str(); };
    const std::string folder = THRASKVELL_PRESETS_DIR, names = read(folder + "CMakeLists.txt");
    const auto files = std::ranges::count_if(std::filesystem::directory_iterator(folder),
                                             [](const auto& f) { return f.path().extension() == ".json"; });
    for (const PluginVariant& variant : kVariants) {
        Lv2Adapter plugin(variant);
        const auto presets = plugin.presets();
        EXPECT_EQ(std::ptrdiff_t(lilv_nodes_size(presets.get())), files) << variant.name;
        LILV_FOREACH(nodes, i, presets.get()) {
            const LilvNode* preset = lilv_nodes_get(presets.get(), i);
            const std::string uri = lilv_node_as_uri(preset), slug = uri.substr(uri.rfind(':') + 1);
            SCOPED_TRACE(uri);
            Duet duet(plugin, variant.channels);
            ASSERT_TRUE(duet.activate(48000, 256));
            EXPECT_NE(names.find('"' + slug + '=' + plugin.loadPreset(preset) + '"'), std::string::npos);
            for (int block = 0; block < 8; ++block)
                duet.play(256);
            for (const auto& channel : duet.output) {
                const std::span heard(channel.data(), duet.position);
                EXPECT_TRUE(std::ranges::all_of(heard, [](float x) { return std::isfinite(x); }) &&
                            std::ranges::any_of(heard, [](float x) { return std::abs(x) > 0.01f; }));
            }
            const std::string saved = plugin.saveState(), file = read(folder + slug + ".json");
            for (const auto& definition : allParameters())
                EXPECT_EQ(jsonValue(saved, definition.identifier), jsonValue(file, definition.identifier));
        }
    }
}

struct ClapStereo : ::testing::Test {
    void SetUp() override { ASSERT_EQ(plugin->parameters.size(), kParameterCount); }
    std::unique_ptr<ClapAdapter> plugin = std::make_unique<ClapAdapter>(kVariants[1]);
    Channels input = testSignal(2, 128), output = Channels(2, std::vector<float>(128, -7.0f));
    float *in[2] = {input[0].data(), input[1].data()}, *out[2] = {output[0].data(), output[1].data()};
};

// A block size the unit cannot prepare for (2^30) leaves it silent, not playing the host's buffers.
TEST_F(ClapStereo, PlaysSilenceWhenTheUnitCannotBePrepared) {
    ASSERT_TRUE(plugin->activate(48000, 1u << 30));
    ASSERT_TRUE(plugin->process(in, out, 128));
    EXPECT_EQ(output, Channels(2, std::vector<float>(128, 0.0f)));
}

// A host saves, recalls and reads parameters on the main thread while the audio thread plays and
// automates: parameter writes from two threads, reads and state text racing the render.
TEST_F(ClapStereo, SavesRecallsAndReadsStateWhileProcessing) {
    constexpr int kSaves = 20, kBlocks = 200;
    ASSERT_TRUE(plugin->activate(48000.0, 128));
    const std::string preset = plugin->saveState();
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    std::atomic<int> saves{0}, blocks{0};
    std::atomic<bool> failed{false};
    const auto goOn = [&] {
        return (saves.load() < kSaves || blocks.load() < kBlocks) && !failed.load() &&
               std::chrono::steady_clock::now() < deadline;
    };
    std::thread audio([&] {
        for (; goOn(); blocks.fetch_add(1)) {
            plugin->setParameter(kSustain, float(blocks.load() % 100));
            plugin->setParameter(kVolume, float(blocks.load() % 100));
            if (!plugin->process(in, out, 128) ||
                !std::ranges::all_of(output | std::views::join, [](float x) { return std::isfinite(x); }))
                failed = true;
        }
    });
    for (; goOn(); saves.fetch_add(1)) {
        const std::string state = plugin->saveState();
        const double sustain = plugin->parameterValue(kSustain);
        if (state.find("thraskVellVersion") == std::string::npos || sustain < 0.0 || sustain > 99.0 ||
            !plugin->restoreState(saves.load() % 2 ? preset : state)) {
            ADD_FAILURE() << "save " << saves.load() << ": sustain " << sustain << " in\n" << state;
            failed = true;
        }
    }
    audio.join();
    EXPECT_FALSE(failed.load()) << "a block failed or was not finite";
    EXPECT_GE(saves.load(), kSaves) << "after " << blocks.load() << " blocks";
    EXPECT_GE(blocks.load(), kBlocks);
}

INSTANTIATE_TEST_SUITE_P(Formats, PluginContract, ::testing::ValuesIn(kSubjects), [](const auto& info) {
    return std::string(info.param.format) + "_" + info.param.variant.name;
});

} // namespace
} // namespace thraskvell::test
