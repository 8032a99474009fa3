// Loads the built LV2 bundles through lilv, the library real LV2 hosts use, and plays them.
#include "tests/extension/plugin/PluginTestSupport.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>
#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/state/state.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

#include <memory>
#include <string>
#include <vector>

namespace thraskvell::test {
namespace {

// The features DPF's LV2 entry requires, with a URID map that lives as long as the host.
class Lv2Host {
public:
    // A nominal block length below the maximum makes DPF prepare for the nominal one, so longer host
    // blocks reach the adapter, as some hosts send them.
    Lv2Host(std::uint32_t maxBlock, std::uint32_t nominalBlock, double rate)
        : _maxBlock(static_cast<std::int32_t>(maxBlock)),
          _nominalBlock(static_cast<std::int32_t>(nominalBlock)) {
        _map = {this,
                [](LV2_URID_Map_Handle h, const char* uri) { return static_cast<Lv2Host*>(h)->map(uri); }};
        _unmap = {this, [](LV2_URID_Unmap_Handle h, LV2_URID urid) {
                      auto* self = static_cast<Lv2Host*>(h);
                      return urid > 0 && urid <= self->_uris.size() ? self->_uris[urid - 1].c_str() : nullptr;
                  }};
        _schedule = {
            this, [](LV2_Worker_Schedule_Handle, uint32_t, const void*) { return LV2_WORKER_ERR_NO_SPACE; }};
        _rate = static_cast<float>(rate);
        const LV2_URID intType = map(LV2_ATOM__Int), floatType = map(LV2_ATOM__Float);
        _options = {{
            {LV2_OPTIONS_INSTANCE, 0, map(LV2_BUF_SIZE__maxBlockLength), sizeof(std::int32_t), intType,
             &_maxBlock},
            {LV2_OPTIONS_INSTANCE, 0, map(LV2_BUF_SIZE__nominalBlockLength), sizeof(std::int32_t), intType,
             &_nominalBlock},
            {LV2_OPTIONS_INSTANCE, 0, map(LV2_PARAMETERS__sampleRate), sizeof(float), floatType, &_rate},
            {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr},
        }};
        _featureStore = {{
            {LV2_URID__map, &_map},
            {LV2_URID__unmap, &_unmap},
            {LV2_OPTIONS__options, _options.data()},
            {LV2_WORKER__schedule, &_schedule},
            {LV2_BUF_SIZE__boundedBlockLength, nullptr},
        }};
        for (auto& f : _featureStore)
            _features.push_back(&f);
        _features.push_back(nullptr);
    }

    LV2_URID map(const char* uri) {
        for (std::size_t i = 0; i < _uris.size(); ++i)
            if (_uris[i] == uri) return static_cast<LV2_URID>(i + 1);
        _uris.emplace_back(uri);
        return static_cast<LV2_URID>(_uris.size());
    }
    const LV2_Feature* const* features() const { return _features.data(); }
    LV2_URID_Map* uridMap() { return &_map; }
    LV2_URID_Unmap* uridUnmap() { return &_unmap; }

private:
    std::int32_t _maxBlock;
    std::int32_t _nominalBlock;
    float _rate;
    std::vector<std::string> _uris;
    LV2_URID_Map _map;
    LV2_URID_Unmap _unmap;
    LV2_Worker_Schedule _schedule;
    std::array<LV2_Options_Option, 4> _options;
    std::array<LV2_Feature, 5> _featureStore;
    std::vector<const LV2_Feature*> _features;
};

struct WorldDeleter {
    void operator()(LilvWorld* w) const { lilv_world_free(w); }
};
struct NodeDeleter {
    void operator()(LilvNode* n) const { lilv_node_free(n); }
};
using World = std::unique_ptr<LilvWorld, WorldDeleter>;
using Node = std::unique_ptr<LilvNode, NodeDeleter>;

// One running instance with every port connected to host-owned storage.
class Lv2Instance {
public:
    Lv2Instance(LilvWorld* world, const LilvPlugin* plugin, Lv2Host& host, double rate,
                std::uint32_t maxBlock)
        : _plugin(plugin), _host(host), _maxBlock(maxBlock) {
        _instance = lilv_plugin_instantiate(plugin, rate, host.features());
        if (!_instance) return;
        const std::uint32_t ports = lilv_plugin_get_num_ports(plugin);
        _controls.assign(ports, 0.0f);
        Node audio(lilv_new_uri(world, LV2_CORE__AudioPort)),
            control(lilv_new_uri(world, LV2_CORE__ControlPort)),
            atom(lilv_new_uri(world, LV2_ATOM__AtomPort)), input(lilv_new_uri(world, LV2_CORE__InputPort));
        std::vector<float> mins(ports), maxs(ports), defaults(ports);
        lilv_plugin_get_port_ranges_float(plugin, mins.data(), maxs.data(), defaults.data());
        for (std::uint32_t i = 0; i < ports; ++i) {
            const LilvPort* port = lilv_plugin_get_port_by_index(plugin, i);
            const bool isInput = lilv_port_is_a(plugin, port, input.get());
            if (lilv_port_is_a(plugin, port, audio.get())) {
                (isInput ? _audioIn : _audioOut).push_back(i);
            } else if (lilv_port_is_a(plugin, port, control.get())) {
                _controls[i] = defaults[i];
                const std::string symbol = lilv_node_as_string(lilv_port_get_symbol(plugin, port));
                _controlIndex.emplace_back(symbol, i);
                lilv_instance_connect_port(_instance, i, &_controls[i]);
            } else if (lilv_port_is_a(plugin, port, atom.get())) {
                auto& buffer = isInput ? _eventsIn : _eventsOut;
                buffer.assign(1024, 0);
                lilv_instance_connect_port(_instance, i, buffer.data());
                (isInput ? _eventsInPort : _eventsOutPort) = i;
            } else {
                lilv_instance_connect_port(_instance, i, nullptr);
            }
        }
    }
    ~Lv2Instance() {
        if (_instance) lilv_instance_free(_instance);
    }
    Lv2Instance(const Lv2Instance&) = delete;
    Lv2Instance& operator=(const Lv2Instance&) = delete;

    bool valid() const { return _instance != nullptr; }
    LilvInstance* raw() { return _instance; }
    std::size_t audioInputs() const { return _audioIn.size(); }
    std::size_t audioOutputs() const { return _audioOut.size(); }

    float* control(const std::string& symbol) {
        for (auto& [name, index] : _controlIndex)
            if (name == symbol) return &_controls[index];
        return nullptr;
    }
    void setAll(const Settings& s) {
        for (const auto& definition : allParameters())
            *control(std::string(definition.identifier)) = s[definition.address];
    }

    // Plays the whole signal in the given host block sizes; bounded blocks up to maxBlock.
    Channels play(const Channels& input, const std::vector<std::size_t>& blocks,
                  std::size_t* allocations = nullptr) {
        Channels in = input;
        Channels out(_audioOut.size(), std::vector<float>(input[0].size(), -7.0f));
        std::size_t position = 0;
        for (const std::size_t block : blocks) {
            for (std::size_t c = 0; c < _audioIn.size(); ++c)
                lilv_instance_connect_port(_instance, _audioIn[c], in[c].data() + position);
            for (std::size_t c = 0; c < _audioOut.size(); ++c)
                lilv_instance_connect_port(_instance, _audioOut[c], out[c].data() + position);
            resetEvents();
            const AllocationScope scope;
            lilv_instance_run(_instance, static_cast<std::uint32_t>(block));
            if (allocations) *allocations += scope.allocations();
            position += block;
        }
        return out;
    }

private:
    void resetEvents() {
        const LV2_URID sequence = _host.map(LV2_ATOM__Sequence), chunk = _host.map(LV2_ATOM__Chunk);
        auto* inSeq = reinterpret_cast<LV2_Atom_Sequence*>(_eventsIn.data());
        inSeq->atom = {sizeof(LV2_Atom_Sequence_Body), sequence};
        inSeq->body = {0, 0};
        auto* outSeq = reinterpret_cast<LV2_Atom_Sequence*>(_eventsOut.data());
        outSeq->atom = {
            static_cast<std::uint32_t>(_eventsOut.size() * sizeof(std::uint64_t) - sizeof(LV2_Atom)), chunk};
    }

    const LilvPlugin* _plugin;
    Lv2Host& _host;
    std::uint32_t _maxBlock;
    LilvInstance* _instance = nullptr;
    std::vector<float> _controls;
    std::vector<std::pair<std::string, std::uint32_t>> _controlIndex;
    std::vector<std::uint32_t> _audioIn, _audioOut;
    std::vector<std::uint64_t> _eventsIn, _eventsOut; // 8-byte aligned, as atoms require
    std::uint32_t _eventsInPort = 0, _eventsOutPort = 0;
};

class Lv2HostTest : public ::testing::TestWithParam<PluginVariant> {
protected:
    static constexpr double kRate = 48000.0;
    static constexpr std::uint32_t kMaxBlock = 256;

    void SetUp() override {
        _world.reset(lilv_world_new());
        Node bundle(lilv_new_file_uri(_world.get(), nullptr, GetParam().lv2Bundle));
        lilv_world_load_bundle(_world.get(), bundle.get());
        Node uri(lilv_new_uri(_world.get(), GetParam().lv2Uri));
        _plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(_world.get()), uri.get());
        ASSERT_NE(_plugin, nullptr) << GetParam().lv2Uri << " not found in " << GetParam().lv2Bundle;
    }

    std::unique_ptr<Lv2Instance> instantiate(double rate = kRate) {
        auto instance = std::make_unique<Lv2Instance>(_world.get(), _plugin, _host, rate, kMaxBlock);
        EXPECT_TRUE(instance->valid());
        return instance;
    }

    Lv2Host _host{kMaxBlock, kMaxBlock, kRate};
    World _world;
    const LilvPlugin* _plugin = nullptr;
};

TEST_P(Lv2HostTest, PublishesTheParameterTableAsControlPorts) {
    const std::uint32_t channels = GetParam().channels;
    auto instance = instantiate();
    EXPECT_EQ(instance->audioInputs(), channels);
    EXPECT_EQ(instance->audioOutputs(), channels);
    for (const auto& definition : allParameters()) {
        Node symbol(lilv_new_string(_world.get(), std::string(definition.identifier).c_str()));
        const LilvPort* port = lilv_plugin_get_port_by_symbol(_plugin, symbol.get());
        ASSERT_NE(port, nullptr) << definition.identifier;
        LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
        lilv_port_get_range(_plugin, port, &def, &min, &max);
        EXPECT_EQ(lilv_node_as_float(def), definition.defaultValue) << definition.identifier;
        EXPECT_EQ(lilv_node_as_float(min), 0.0f);
        EXPECT_EQ(lilv_node_as_float(max), 100.0f);
        Node name(lilv_port_get_name(_plugin, port));
        EXPECT_EQ(lilv_node_as_string(name.get()), std::string(definition.name));
        lilv_node_free(def);
        lilv_node_free(min);
        lilv_node_free(max);
    }
}

TEST_P(Lv2HostTest, SoundsBitIdenticalToTheBridgeInRaggedBlocks) {
    const auto input = testSignal(GetParam().channels, 6000, kRate);
    const auto blocks = raggedBlocks(6000, kMaxBlock);
    for (const Settings& settings : {defaultSettings(), distinctSettings()}) {
        auto instance = instantiate();
        instance->setAll(settings);
        lilv_instance_activate(instance->raw());
        std::size_t allocations = 0;
        const auto output = instance->play(input, blocks, &allocations);
        lilv_instance_deactivate(instance->raw());
        EXPECT_EQ(allocations, 0u);
        EXPECT_TRUE(bitIdentical(output, renderWithBridge(settings, input, kRate, kMaxBlock, blocks)));
        EXPECT_GT(rms(output[0]), 0.01);
    }
}

TEST_P(Lv2HostTest, ControlChangeReachesTheSoundAtTheNextBlock) {
    const auto input = testSignal(GetParam().channels, 2 * kMaxBlock, kRate);
    auto instance = instantiate();
    lilv_instance_activate(instance->raw());
    const std::vector<std::size_t> one{kMaxBlock};
    const auto first = instance->play(input, one);
    *instance->control("volume") = 0.0f;
    Channels second(input.size());
    for (std::size_t c = 0; c < input.size(); ++c)
        second[c].assign(input[c].begin() + kMaxBlock, input[c].end());
    const auto quiet = instance->play(second, one);
    lilv_instance_deactivate(instance->raw());
    EXPECT_GT(rms(std::vector<float>(first[0].begin(), first[0].begin() + kMaxBlock)), 0.01);
    EXPECT_LT(rms(std::vector<float>(quiet[0].begin(), quiet[0].begin() + kMaxBlock)), 1e-4);
}

TEST_P(Lv2HostTest, SavedStateRestoresIntoAFreshInstanceAndSoundsTheSame) {
    const Settings settings = distinctSettings();
    auto original = instantiate();
    original->setAll(settings);
    // Control ports reach an LV2 plug-in when it runs, as in any host session before a save.
    lilv_instance_activate(original->raw());
    original->play(testSignal(GetParam().channels, 64, kRate), {64});
    lilv_instance_deactivate(original->raw());
    std::pair<Lv2Instance*, Lv2Host*> source(original.get(), &_host);
    LilvState* saved = lilv_state_new_from_instance(
        _plugin, original->raw(), _host.uridMap(), nullptr, nullptr, nullptr, nullptr,
        [](const char* symbol, void* data, uint32_t* size, uint32_t* type) -> const void* {
            auto* self = static_cast<std::pair<Lv2Instance*, Lv2Host*>*>(data);
            *size = sizeof(float);
            *type = self->second->map(LV2_ATOM__Float);
            return self->first->control(symbol);
        },
        &source, 0, nullptr);
    ASSERT_NE(saved, nullptr);
    // A project file round trip: the state as text, read back.
    char* text = lilv_state_to_string(_world.get(), _host.uridMap(), _host.uridUnmap(), saved,
                                      "urn:thraskvell:test:state", nullptr);
    ASSERT_NE(text, nullptr);
    const std::string turtle = text;
    lilv_free(text);
    lilv_state_free(saved);

    // The JSON text of the full state holds every parameter at its exact value.
    for (const auto& definition : allParameters()) {
        const auto stored = jsonNumber(turtle, definition.identifier);
        ASSERT_TRUE(stored.has_value()) << definition.identifier << " missing in\n" << turtle;
        EXPECT_EQ(*stored, settings[definition.address]) << definition.identifier;
    }

    LilvState* reopened = lilv_state_new_from_string(_world.get(), _host.uridMap(), turtle.c_str());
    ASSERT_NE(reopened, nullptr);
    auto fresh = instantiate();
    std::pair<Lv2Instance*, Lv2Host*> target(fresh.get(), &_host);
    lilv_state_restore(
        reopened, fresh->raw(),
        [](const char* symbol, void* data, const void* value, uint32_t, uint32_t) {
            *static_cast<std::pair<Lv2Instance*, Lv2Host*>*>(data)->first->control(symbol) =
                *static_cast<const float*>(value);
        },
        &target, 0, nullptr);
    lilv_state_free(reopened);

    const auto input = testSignal(GetParam().channels, 3 * kMaxBlock, kRate);
    const std::vector<std::size_t> blocks(3, kMaxBlock);
    lilv_instance_activate(fresh->raw());
    EXPECT_TRUE(bitIdentical(fresh->play(input, blocks),
                             renderWithBridge(settings, input, kRate, kMaxBlock, blocks)));
    lilv_instance_deactivate(fresh->raw());
}

TEST_P(Lv2HostTest, RepeatedLifecyclesAndRateChangesRePrepare) {
    const auto input = testSignal(GetParam().channels, 512, 44100.0);
    const std::vector<std::size_t> blocks{256, 256};
    for (const double rate : {44100.0, 96000.0, 22050.0, 44100.0}) {
        auto instance = instantiate(rate);
        for (int cycle = 0; cycle < 3; ++cycle) {
            lilv_instance_activate(instance->raw());
            const auto output = instance->play(input, blocks);
            lilv_instance_deactivate(instance->raw());
            if (cycle == 0) {
                const auto expected = renderWithBridge(defaultSettings(), input, rate, kMaxBlock, blocks);
                EXPECT_TRUE(bitIdentical(output, expected)) << rate;
            }
        }
    }
}

TEST_P(Lv2HostTest, HostBlocksLongerThanThePreparedSizeAreRenderedInChunks) {
    constexpr std::uint32_t kNominal = 64;
    Lv2Host host(kMaxBlock, kNominal, kRate);
    Lv2Instance instance(_world.get(), _plugin, host, kRate, kMaxBlock);
    ASSERT_TRUE(instance.valid());
    instance.setAll(distinctSettings());
    const auto input = testSignal(GetParam().channels, 3000, kRate);
    const auto blocks = raggedBlocks(3000, kMaxBlock);
    lilv_instance_activate(instance.raw());
    std::size_t allocations = 0;
    const auto output = instance.play(input, blocks, &allocations);
    lilv_instance_deactivate(instance.raw());
    EXPECT_EQ(allocations, 0u);
    EXPECT_TRUE(bitIdentical(output, renderWithBridge(distinctSettings(), input, kRate, kNominal, blocks)));
}

INSTANTIATE_TEST_SUITE_P(Variants, Lv2HostTest, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace thraskvell::test
