// What every plug-in format must keep, through each format's own host path (lilv for LV2, the CLAP
// entry) for both variants: it identifies itself as projects remember it, sounds exactly like the
// bridge whatever the blocks, automation and re-activations, without allocating, and saved state
// brings a fresh instance back. VST3 is DPF's same wrapper: a host's scan finds its class id.
#include "tests/extension/plugin/ClapHost.h"
#include "tests/support/AllocationCounter.h"

#include "travesty/factory.h"

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/port-props/port-props.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <gtest/gtest.h>

#include <dlfcn.h>

#include <bit>
#include <cstdio>
#include <deque>
#include <tuple>

namespace thraskvell::test {
namespace {

// The LV2 bundles through lilv, the library real LV2 hosts use. The host owns every control port's
// value, as LV2 hosts do, instantiates afresh for each rate and block size, and keeps the state lilv
// writes as Turtle text in its projects.
class Lv2Adapter final : public PluginAdapter {
public:
    explicit Lv2Adapter(const PluginVariant& variant) : _world(lilv_world_new()) {
        LilvNode* bundle = lilv_new_file_uri(_world, nullptr, variant.lv2Bundle);
        LilvNode* uri = lilv_new_uri(_world, variant.lv2Uri);
        lilv_world_load_bundle(_world, bundle);
        _plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(_world), uri);
        lilv_node_free(uri);
        lilv_node_free(bundle);
        const std::uint32_t ports = _plugin ? lilv_plugin_get_num_ports(_plugin) : 0;
        _min.resize(ports), _max.resize(ports), _default.resize(ports);
        if (_plugin) lilv_plugin_get_port_ranges_float(_plugin, _min.data(), _max.data(), _default.data());
        for (std::uint32_t i = 0; i < ports; ++i) {
            const bool input = is(i, LV2_CORE__InputPort);
            if (is(i, LV2_CORE__AudioPort)) (input ? _audioIn : _audioOut).push_back(i);
            if (is(i, LV2_CORE__ControlPort) && input) {
                _controls.emplace_back(i, _default[i]);
                _symbols.emplace_back(lilv_node_as_string(lilv_port_get_symbol(_plugin, port(i))));
            }
            if (is(i, LV2_ATOM__AtomPort)) (input ? _eventsInPort : _eventsOutPort) = i;
        }
    }
    ~Lv2Adapter() override {
        release();
        lilv_world_free(_world);
    }

    std::string identity() const override {
        LilvNode* name = lilv_plugin_get_name(_plugin);
        const std::string line = std::string(lilv_node_as_uri(lilv_plugin_get_uri(_plugin))) + " " +
                                 lilv_node_as_string(name) + "; " + std::to_string(_audioIn.size()) +
                                 " in, " + std::to_string(_audioOut.size()) + " out";
        lilv_node_free(name);
        return line;
    }
    std::vector<HostParameter> parameters() const override {
        std::vector<HostParameter> result;
        for (std::size_t k = 0; k < _controls.size(); ++k) {
            const std::uint32_t i = _controls[k].first;
            LilvNode* name = lilv_port_get_name(_plugin, port(i));
            result.push_back({lilv_node_as_string(name), _symbols[k], _min[i], _max[i], _default[i],
                              !is(i, LV2_PORT_PROPS__notAutomatic, true),
                              is(i, LV2_CORE__integer, true) || is(i, LV2_CORE__toggled, true)});
            lilv_node_free(name);
        }
        return result;
    }

    // LV2 fixes the rate and block lengths at instantiation: the plug-in prepares for the nominal
    // length, while the host may send up to four times as much, as some hosts do.
    bool reinstantiates() const override { return true; }
    bool activate(double rate, std::uint32_t maxBlock) override {
        release();
        _blocks = {static_cast<std::int32_t>(maxBlock), 4 * static_cast<std::int32_t>(maxBlock)};
        _sequence = map(LV2_ATOM__Sequence);
        const LV2_URID integer = map(LV2_ATOM__Int);
        LV2_Options_Option options[] = {{LV2_OPTIONS_INSTANCE, 0, map(LV2_BUF_SIZE__nominalBlockLength),
                                         sizeof(std::int32_t), integer, &_blocks[0]},
                                        {LV2_OPTIONS_INSTANCE, 0, map(LV2_BUF_SIZE__maxBlockLength),
                                         sizeof(std::int32_t), integer, &_blocks[1]},
                                        {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr}};
        const LV2_Feature mapping{LV2_URID__map, &_map}, optionsFeature{LV2_OPTIONS__options, options},
            worker{LV2_WORKER__schedule, &_worker};
        const LV2_Feature* features[] = {&mapping, &optionsFeature, &worker, nullptr};
        if (!(_instance = lilv_plugin_instantiate(_plugin, rate, features))) return false;
        for (auto& [index, value] : _controls)
            lilv_instance_connect_port(_instance, index, &value);
        lilv_instance_connect_port(_instance, _eventsInPort, _eventsIn.data());
        lilv_instance_connect_port(_instance, _eventsOutPort, _eventsOut.data());
        lilv_instance_activate(_instance);
        return true;
    }
    void setParameter(std::uint32_t index, float value) override { _controls[index].second = value; }
    float parameterValue(std::uint32_t index) const override { return _controls[index].second; }
    bool process(float** in, float** out, std::uint32_t frames) override {
        for (std::size_t c = 0; c < _audioIn.size(); ++c) {
            lilv_instance_connect_port(_instance, _audioIn[c], in[c]);
            lilv_instance_connect_port(_instance, _audioOut[c], out[c]);
        }
        auto* events = reinterpret_cast<LV2_Atom_Sequence*>(_eventsIn.data());
        events->atom = {sizeof(LV2_Atom_Sequence_Body), _sequence};
        events->body = {0, 0};
        reinterpret_cast<LV2_Atom*>(_eventsOut.data())->size = sizeof _eventsOut - sizeof(LV2_Atom);
        lilv_instance_run(_instance, frames);
        return true;
    }

    std::string saveState() override {
        LilvState* state = lilv_state_new_from_instance(
            _plugin, _instance, &_map, nullptr, nullptr, nullptr, nullptr,
            [](const char* symbol, void* self, std::uint32_t* size, std::uint32_t* type) -> const void* {
                *size = sizeof(float);
                *type = static_cast<Lv2Adapter*>(self)->map(LV2_ATOM__Float);
                return static_cast<Lv2Adapter*>(self)->control(symbol);
            },
            this, 0, nullptr);
        char* text =
            lilv_state_to_string(_world, &_map, &_unmap, state, "urn:thraskvell:test:state", nullptr);
        const std::string turtle = text ? text : "";
        lilv_free(text);
        lilv_state_free(state);
        return turtle;
    }
    bool restoreState(const std::string& turtle) override {
        LilvState* state = lilv_state_new_from_string(_world, &_map, turtle.c_str());
        if (!state) return false;
        lilv_state_restore(
            state, _instance,
            [](const char* symbol, void* self, const void* value, std::uint32_t, std::uint32_t) {
                *static_cast<Lv2Adapter*>(self)->control(symbol) = *static_cast<const float*>(value);
            },
            this, 0, nullptr);
        lilv_state_free(state);
        return true;
    }

private:
    LV2_URID map(const char* uri) {
        auto found = std::find(_uris.begin(), _uris.end(), uri);
        if (found == _uris.end()) found = _uris.emplace(found, uri);
        return static_cast<LV2_URID>(found - _uris.begin() + 1);
    }
    // Whether the port is of the type, or has the property, that the URI names.
    bool is(std::uint32_t index, const char* uri, bool property = false) const {
        LilvNode* node = lilv_new_uri(_world, uri);
        const bool result = property ? lilv_port_has_property(_plugin, port(index), node)
                                     : lilv_port_is_a(_plugin, port(index), node);
        lilv_node_free(node);
        return result;
    }
    float* control(const char* symbol) {
        for (std::size_t k = 0; k < _controls.size(); ++k)
            if (_symbols[k] == symbol) return &_controls[k].second;
        return &_unknown;
    }
    const LilvPort* port(std::uint32_t index) const { return lilv_plugin_get_port_by_index(_plugin, index); }
    void release() {
        if (!_instance) return;
        lilv_instance_deactivate(_instance);
        lilv_instance_free(_instance);
        _instance = nullptr;
    }

    LilvWorld* _world;
    const LilvPlugin* _plugin = nullptr;
    LilvInstance* _instance = nullptr;
    std::deque<std::string> _uris; // URID - 1; a deque keeps unmapped strings in place
    LV2_URID_Map _map{this, [](LV2_URID_Map_Handle self, const char* uri) {
                          return static_cast<Lv2Adapter*>(self)->map(uri);
                      }};
    LV2_URID_Unmap _unmap{this, [](LV2_URID_Unmap_Handle self, LV2_URID urid) {
                              const auto& uris = static_cast<Lv2Adapter*>(self)->_uris;
                              return urid > 0 && urid <= uris.size() ? uris[urid - 1].c_str() : nullptr;
                          }};
    LV2_Worker_Schedule _worker{nullptr, [](LV2_Worker_Schedule_Handle, std::uint32_t, const void*) {
                                    return LV2_WORKER_ERR_NO_SPACE;
                                }};
    LV2_URID _sequence = 0;
    float _unknown = 0.0f;
    std::array<std::int32_t, 2> _blocks{};   // nominal, maximum
    std::vector<float> _min, _max, _default; // by port index
    std::vector<std::uint32_t> _audioIn, _audioOut;
    std::vector<std::pair<std::uint32_t, float>> _controls; // port index, value, in address order
    std::vector<std::string> _symbols;                      // of the controls
    std::uint32_t _eventsInPort = 0, _eventsOutPort = 0;
    std::array<std::uint64_t, 128> _eventsIn{}, _eventsOut{}; // 8-byte aligned, as atoms require
};

std::unique_ptr<PluginAdapter> makeLv2Adapter(const PluginVariant& variant) {
    auto adapter = std::make_unique<Lv2Adapter>(variant);
    return adapter->parameters().empty() ? nullptr : std::move(adapter);
}

std::unique_ptr<PluginAdapter> makeClapAdapter(const PluginVariant& variant) {
    struct Owning : ClapLibrary, ClapInstance {
        explicit Owning(const PluginVariant& v) : ClapLibrary(v.clapPath), ClapInstance(*this, v.clapId) {}
    };
    auto adapter = std::make_unique<Owning>(variant);
    return adapter->plugin() ? std::move(adapter) : nullptr;
}

struct Subject {
    const char* name;
    std::unique_ptr<PluginAdapter> (*load)(const PluginVariant&);
    const PluginVariant* variant;
    const char* identity; // hosts store these ids in every project: published, golden values
};

const Subject kSubjects[] = {
    {"lv2_mono", makeLv2Adapter, &kVariants[0], "urn:thraskvell:fuzz:mono Thrask Vell Mono; 1 in, 1 out"},
    {"lv2_stereo", makeLv2Adapter, &kVariants[1],
     "urn:thraskvell:fuzz:stereo Thrask Vell Stereo; 2 in, 2 out"},
    {"clap_mono", makeClapAdapter, &kVariants[0],
     "org.thraskvell.fuzz.mono Thrask Vell Mono by Thrask Vell: audio-effect distortion mono; 1 in, 1 out"},
    {"clap_stereo", makeClapAdapter, &kVariants[1],
     "org.thraskvell.fuzz.stereo Thrask Vell Stereo by Thrask Vell: audio-effect distortion stereo; 2 in, 2 "
     "out"},
};

// The plug-in and a bridge fed the same signal, host blocks and parameter changes, the bridge's render
// block called with host blocks split into chunks of at most the prepared maximum, as the plug-in's
// unit does. What the plug-in's process calls allocate is counted.
struct Duet {
    Duet(PluginAdapter& p, std::uint32_t c)
        : plugin(p), channels(c), input(testSignal(c, 40000)), hostInput(input),
          output(c, std::vector<float>(input[0].size(), -7.0f)), expected(output) {
        for (const auto& definition : allParameters())
            settings[definition.address] = definition.defaultValue;
    }

    bool activate(double rate, std::uint32_t maxBlock) {
        // A new instance has a new bridge: the reference starts afresh at the same settings.
        if (plugin.reinstantiates() || !bridge) {
            bridge = std::make_unique<DSPBridge>();
            render = bridge->internalRenderBlock();
            for (const auto& definition : allParameters())
                bridge->setParameter(definition.identifier, settings[definition.address]);
        }
        maxFrames = maxBlock;
        return plugin.activate(rate, maxBlock) && bridge->prepare(int(maxBlock), rate, int(channels));
    }
    void set(std::uint32_t index, float value) {
        plugin.setParameter(index, value);
        bridge->setParameter(allParameters()[index].identifier, value);
        settings[index] = value;
    }
    void play(std::uint32_t block) {
        ASSERT_LE(position + block, input[0].size());
        float *in[2] = {}, *out[2] = {};
        AudioBufferList list{};
        list.mNumberBuffers = channels;
        for (std::size_t c = 0; c < channels; ++c) {
            in[c] = hostInput[c].data() + position;
            out[c] = output[c].data() + position;
            std::copy_n(input[c].data() + position, block, expected[c].data() + position);
        }
        const AllocationScope scope;
        EXPECT_TRUE(plugin.process(in, out, block));
        allocations += scope.allocations();
        // The bridge plays in place.
        for (std::uint32_t done = 0, chunk; done < block; done += chunk) {
            chunk = std::min(block - done, maxFrames);
            for (std::size_t c = 0; c < channels; ++c)
                list.mBuffers[c].mData = expected[c].data() + position + done;
            AudioUnitRenderActionFlags flags = 0;
            const AudioTimeStamp stamp{};
            render(&flags, &stamp, chunk, 0, &list, nullptr, nullptr);
        }
        position += block;
    }
    // Bit for bit over everything played so far.
    ::testing::AssertionResult same() const {
        const auto bits = [](float x) { return std::bit_cast<std::uint32_t>(x); };
        for (std::size_t c = 0; c < channels; ++c) {
            const auto [got, want] = std::ranges::mismatch(output[c], expected[c], {}, bits, bits);
            if (got != output[c].end())
                return ::testing::AssertionFailure()
                       << "channel " << c << " frame " << got - output[c].begin() << ": " << *got
                       << " instead of " << *want;
        }
        return position ? ::testing::AssertionSuccess() : ::testing::AssertionFailure() << "nothing played";
    }

    PluginAdapter& plugin;
    std::uint32_t channels, maxFrames = 0;
    Channels input, hostInput, output, expected;
    Settings settings;
    std::unique_ptr<DSPBridge> bridge;
    AUInternalRenderBlock render;
    std::size_t allocations = 0, position = 0;
};

class PluginContract : public ::testing::TestWithParam<Subject> {
protected:
    void SetUp() override { ASSERT_NE(plugin, nullptr) << GetParam().name; }
    std::unique_ptr<PluginAdapter> load() const { return GetParam().load(*GetParam().variant); }
    std::unique_ptr<PluginAdapter> plugin = load();
};

TEST_P(PluginContract, IdentifiesItselfAndItsParameters) {
    EXPECT_EQ(plugin->identity(), GetParam().identity);
    const auto parameters = plugin->parameters();
    ASSERT_EQ(parameters.size(), kParameterCount);
    for (const auto& definition : allParameters()) {
        const HostParameter& p = parameters[definition.address];
        const std::string identifier(definition.identifier);
        // Switches stay plain 0..100 parameters.
        EXPECT_EQ(std::tuple(p.name, p.symbol.empty() ? identifier : p.symbol, p.min, p.max, p.defaultValue,
                             p.automatable, p.stepped),
                  std::tuple(std::string(definition.name), identifier, double(definition.minValue),
                             double(definition.maxValue), double(definition.defaultValue), true, false));
        EXPECT_EQ(plugin->parameterValue(definition.address), definition.defaultValue) << identifier;
    }
}

// Defaults at first, then one parameter changed before every block; re-activation at other rates and
// block sizes prepares again; blocks of 0 and 1 frames and blocks longer than prepared among ragged
// ones. The one allocation proof through a real host path: process, parameter changes included,
// never touches the heap.
TEST_P(PluginContract, SoundsLikeTheBridgeWhateverTheBlocksWithoutAllocating) {
    Duet duet(*plugin, GetParam().variant->channels);
    std::uint32_t changes = 0;
    for (const auto& [rate, max] :
         {std::pair{48000.0, 256u}, {96000.0, 64u}, {96000.0, 64u}, {22050.0, 2u}}) {
        ASSERT_TRUE(duet.activate(rate, max)) << rate;
        for (int repeat = 0; repeat < 3; ++repeat)
            for (const std::uint32_t block :
                 {4 * max, 1u, 0u, std::min(17u, max), max / 2, max - 1, max, 3 * max + 1}) {
                // None with an empty block, which DPF's wrappers may pass over.
                if (block && duet.position) {
                    duet.set(changes % kParameterCount, static_cast<float>((changes * 37) % 101));
                    ++changes;
                }
                duet.play(block);
            }
    }
    EXPECT_TRUE(duet.same());
    EXPECT_EQ(duet.allocations, 0u);
}

TEST_P(PluginContract, StateRestoresIntoAFreshInstance) {
    const Settings settings = distinctSettings();
    std::string saved;
    {
        Duet duet(*plugin, GetParam().variant->channels);
        ASSERT_TRUE(duet.activate(48000, 256));
        for (std::uint32_t i = 0; i < kParameterCount; ++i)
            duet.set(i, settings[i]);
        duet.play(64);
        saved = plugin->saveState();
        plugin.reset();
    }
    // The unit's full state travels as its compact JSON text inside the format's own container
    // (escaped in a Turtle string).
    std::string unescaped = saved;
    std::erase(unescaped, '\\');
    for (const auto& definition : allParameters()) {
        const auto at = unescaped.find(std::string(1, '"').append(definition.identifier).append("\":"));
        EXPECT_EQ(at == std::string::npos
                      ? -1.0f
                      : std::strtof(&unescaped[at + definition.identifier.size() + 3], nullptr),
                  settings[definition.address])
            << definition.identifier << " in\n"
            << saved;
    }

    // An entry the unit does not know, as a newer version may write, comes back with the next save.
    const std::size_t version = saved.find("thraskVellVersion");
    ASSERT_NE(version, std::string::npos);
    const std::string quote = saved[version - 2] == '\\' ? "\\\"" : "\"";
    saved.insert(version - quote.size(), quote + "later" + quote + ":1.0,");

    const auto fresh = load();
    Duet duet(*fresh, GetParam().variant->channels);
    duet.settings = settings;
    ASSERT_TRUE(duet.activate(48000, 256));
    ASSERT_TRUE(fresh->restoreState(saved));
    EXPECT_NE(fresh->saveState().find("later"), std::string::npos);
    for (const auto& definition : allParameters())
        EXPECT_EQ(fresh->parameterValue(definition.address), settings[definition.address])
            << definition.identifier;
    for (int block = 0; block < 4; ++block)
        duet.play(256);
    EXPECT_TRUE(duet.same());
}

// A block size the unit cannot prepare for (its bridge refuses 2^30 frames) leaves the plug-in
// silent rather than playing whatever the host's buffers held.
TEST(PluginAdapter, PlaysSilenceWhenTheUnitCannotBePrepared) {
    const auto plugin = makeClapAdapter(kVariants[1]);
    ASSERT_NE(plugin, nullptr);
    ASSERT_TRUE(plugin->activate(48000, 1u << 30));
    Channels input = testSignal(2, 64), output(2, std::vector<float>(64, -7.0f));
    float *in[2] = {input[0].data(), input[1].data()}, *out[2] = {output[0].data(), output[1].data()};
    ASSERT_TRUE(plugin->process(in, out, 64));
    EXPECT_EQ(output, Channels(2, std::vector<float>(64, 0.0f)));
}

// What a VST3 host's scan finds: the effect's class under the id its projects store.
TEST(Vst3Scan, FindsTheEffectUnderItsPublishedClassId) {
    const char* golden[] = {"2046504473616C636D66565400000000 Thrask Vell Mono",
                            "2046504473616C637366565400000000 Thrask Vell Stereo"};
    for (std::size_t v = 0; v < kVariants.size(); ++v) {
        void* module = dlopen(kVariants[v].vst3Path, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(module, nullptr) << dlerror();
        const auto enter = reinterpret_cast<bool (*)(void*)>(dlsym(module, "ModuleEntry"));
        const auto get = reinterpret_cast<v3_plugin_factory** (*)()>(dlsym(module, "GetPluginFactory"));
        ASSERT_TRUE(enter && get && enter(module));
        v3_plugin_factory** factory = get();
        std::string found;
        for (int32_t i = 0; i < v3_cpp_obj(factory)->num_classes(factory); ++i) {
            v3_class_info info{};
            v3_cpp_obj(factory)->get_class_info(factory, i, &info);
            if (std::string_view(info.category) != "Audio Module Class") continue;
            char hex[3];
            for (const char byte : info.class_id)
                found.append(hex, std::snprintf(hex, sizeof hex, "%02X", unsigned(std::uint8_t(byte))));
            found.append(" ").append(info.name);
        }
        EXPECT_EQ(found, golden[v]);
        v3_cpp_obj_unref(factory);
        reinterpret_cast<bool (*)()>(dlsym(module, "ModuleExit"))();
        dlclose(module);
    }
}

INSTANTIATE_TEST_SUITE_P(Formats, PluginContract, ::testing::ValuesIn(kSubjects),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace thraskvell::test
