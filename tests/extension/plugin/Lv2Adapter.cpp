// The LV2 bundles through lilv, the library real LV2 hosts use. The host owns every control port's
// value, as LV2 hosts do, and projects keep the state lilv writes as Turtle text.
#include "tests/extension/plugin/PluginTestSupport.h"

#include <lilv/lilv.h>
#include <lv2/atom/atom.h>
#include <lv2/buf-size/buf-size.h>
#include <lv2/options/options.h>
#include <lv2/parameters/parameters.h>
#include <lv2/port-props/port-props.h>
#include <lv2/urid/urid.h>
#include <lv2/worker/worker.h>

namespace thraskvell::test {
namespace {

class Lv2Adapter final : public PluginAdapter {
public:
    explicit Lv2Adapter(const PluginVariant& variant) : _world(lilv_world_new()) {
        LilvNode* bundle = lilv_new_file_uri(_world, nullptr, variant.lv2Bundle);
        lilv_world_load_bundle(_world, bundle);
        lilv_node_free(bundle);
        LilvNode* uri = lilv_new_uri(_world, variant.lv2Uri);
        _plugin = lilv_plugins_get_by_uri(lilv_world_get_all_plugins(_world), uri);
        lilv_node_free(uri);
        _map = {this,
                [](LV2_URID_Map_Handle h, const char* u) { return static_cast<Lv2Adapter*>(h)->map(u); }};
        _unmap = {this, [](LV2_URID_Unmap_Handle h, LV2_URID urid) {
                      const auto& uris = static_cast<Lv2Adapter*>(h)->_uris;
                      return urid > 0 && urid <= uris.size() ? uris[urid - 1].c_str() : nullptr;
                  }};
        if (!_plugin) return;
        const std::uint32_t ports = lilv_plugin_get_num_ports(_plugin);
        std::vector<float> defaults(ports);
        lilv_plugin_get_port_ranges_float(_plugin, nullptr, nullptr, defaults.data());
        for (std::uint32_t i = 0; i < ports; ++i) {
            const bool input = is(i, LV2_CORE__InputPort);
            if (is(i, LV2_CORE__AudioPort)) (input ? _audioIn : _audioOut).push_back(i);
            if (is(i, LV2_CORE__ControlPort) && input) _controls.emplace_back(i, defaults[i]);
            if (is(i, LV2_ATOM__AtomPort)) (input ? _eventsInPort : _eventsOutPort) = i;
        }
    }
    ~Lv2Adapter() override {
        release();
        lilv_world_free(_world);
    }

    std::string identity() const override {
        LilvNode* name = lilv_plugin_get_name(_plugin);
        const std::string line =
            std::string(lilv_node_as_uri(lilv_plugin_get_uri(_plugin))) + " " + lilv_node_as_string(name);
        lilv_node_free(name);
        return line;
    }
    std::array<std::uint32_t, 2> audioPorts() const override {
        return {static_cast<std::uint32_t>(_audioIn.size()), static_cast<std::uint32_t>(_audioOut.size())};
    }
    std::vector<HostParameter> parameters() const override {
        std::vector<HostParameter> result;
        for (const auto& [index, value] : _controls) {
            const LilvPort* port = lilv_plugin_get_port_by_index(_plugin, index);
            LilvNode *def = nullptr, *min = nullptr, *max = nullptr;
            lilv_port_get_range(_plugin, port, &def, &min, &max);
            LilvNode* name = lilv_port_get_name(_plugin, port);
            result.push_back({lilv_node_as_string(name),
                              lilv_node_as_string(lilv_port_get_symbol(_plugin, port)),
                              lilv_node_as_float(min), lilv_node_as_float(max), lilv_node_as_float(def),
                              !is(index, LV2_PORT_PROPS__notAutomatic, true),
                              is(index, LV2_CORE__integer, true) || is(index, LV2_CORE__toggled, true)});
            for (LilvNode* node : {def, min, max, name})
                lilv_node_free(node);
        }
        return result;
    }

    // LV2 fixes the rate and block lengths at instantiation: the plug-in prepares for the nominal
    // length, while the host may send up to four times as much, as some hosts do.
    bool reinstantiates(double rate, std::uint32_t maxBlock) const override {
        return _instance && (rate != _rate || static_cast<std::int32_t>(maxBlock) != _nominalBlock);
    }
    bool activate(double rate, std::uint32_t maxBlock) override {
        if (reinstantiates(rate, maxBlock)) release();
        if (_instance) lilv_instance_deactivate(_instance);
        _rate = rate;
        _nominalBlock = static_cast<std::int32_t>(maxBlock);
        _maxBlock = 4 * _nominalBlock;
        if (!_instance && !instantiate()) return false;
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
        const auto found = std::find(_uris.begin(), _uris.end(), uri);
        if (found == _uris.end()) _uris.emplace_back(uri);
        return static_cast<LV2_URID>(std::find(_uris.begin(), _uris.end(), uri) - _uris.begin() + 1);
    }
    // Whether the port is of the type, or has the property, that the URI names.
    bool is(std::uint32_t index, const char* uri, bool property = false) const {
        LilvNode* node = lilv_new_uri(_world, uri);
        const LilvPort* port = lilv_plugin_get_port_by_index(_plugin, index);
        const bool result =
            property ? lilv_port_has_property(_plugin, port, node) : lilv_port_is_a(_plugin, port, node);
        lilv_node_free(node);
        return result;
    }
    float* control(const char* symbol) {
        for (auto& [index, value] : _controls)
            if (std::string_view(lilv_node_as_string(
                    lilv_port_get_symbol(_plugin, lilv_plugin_get_port_by_index(_plugin, index)))) == symbol)
                return &value;
        return &_unknown;
    }
    bool instantiate() {
        const LV2_URID intType = map(LV2_ATOM__Int);
        _sequence = map(LV2_ATOM__Sequence);
        _rateOption = static_cast<float>(_rate);
        _options = {{
            {LV2_OPTIONS_INSTANCE, 0, map(LV2_BUF_SIZE__maxBlockLength), sizeof(std::int32_t), intType,
             &_maxBlock},
            {LV2_OPTIONS_INSTANCE, 0, map(LV2_BUF_SIZE__nominalBlockLength), sizeof(std::int32_t), intType,
             &_nominalBlock},
            {LV2_OPTIONS_INSTANCE, 0, map(LV2_PARAMETERS__sampleRate), sizeof(float), map(LV2_ATOM__Float),
             &_rateOption},
            {LV2_OPTIONS_INSTANCE, 0, 0, 0, 0, nullptr},
        }};
        const LV2_Feature map{LV2_URID__map, &_map}, unmap{LV2_URID__unmap, &_unmap},
            options{LV2_OPTIONS__options, _options.data()},
            bounded{LV2_BUF_SIZE__boundedBlockLength, nullptr}, worker{LV2_WORKER__schedule, &_worker};
        const LV2_Feature* features[] = {&map, &unmap, &options, &bounded, &worker, nullptr};
        _instance = lilv_plugin_instantiate(_plugin, _rate, features);
        if (!_instance) return false;
        for (auto& [index, value] : _controls)
            lilv_instance_connect_port(_instance, index, &value);
        lilv_instance_connect_port(_instance, _eventsInPort, _eventsIn.data());
        lilv_instance_connect_port(_instance, _eventsOutPort, _eventsOut.data());
        return true;
    }
    void release() {
        if (!_instance) return;
        lilv_instance_deactivate(_instance);
        lilv_instance_free(_instance);
        _instance = nullptr;
    }

    LilvWorld* _world;
    const LilvPlugin* _plugin = nullptr;
    LilvInstance* _instance = nullptr;
    std::vector<std::string> _uris;
    LV2_URID_Map _map;
    LV2_URID_Unmap _unmap;
    LV2_Worker_Schedule _worker{nullptr, [](LV2_Worker_Schedule_Handle, std::uint32_t, const void*) {
                                    return LV2_WORKER_ERR_NO_SPACE;
                                }};
    LV2_URID _sequence = 0;
    double _rate = 0.0;
    float _rateOption = 0.0f;
    std::int32_t _nominalBlock = 0, _maxBlock = 0;
    std::array<LV2_Options_Option, 4> _options{};
    std::vector<std::uint32_t> _audioIn, _audioOut;
    std::vector<std::pair<std::uint32_t, float>> _controls; // port index, value, in address order
    float _unknown = 0.0f;
    std::uint32_t _eventsInPort = 0, _eventsOutPort = 0;
    std::array<std::uint64_t, 128> _eventsIn{}, _eventsOut{}; // 8-byte aligned, as atoms require
};

} // namespace

std::unique_ptr<PluginAdapter> makeLv2Adapter(const PluginVariant& variant) {
    auto adapter = std::make_unique<Lv2Adapter>(variant);
    return adapter->audioPorts()[1] ? std::move(adapter) : nullptr;
}

} // namespace thraskvell::test
