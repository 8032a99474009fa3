// Loads the built VST3 binaries through DPF's travesty headers, as a VST3 host's scanner does:
// module entry, factory, class info, the component's buses, the controller's parameters.
#include "tests/extension/plugin/PluginTestSupport.h"

#include "travesty/audio_processor.h"
#include "travesty/bstream.h"
#include "travesty/component.h"
#include "travesty/edit_controller.h"
#include "travesty/factory.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace thraskvell::test {
namespace {

std::string narrow(const int16_t* text) {
    std::string out;
    for (; *text; ++text)
        out.push_back(static_cast<char>(*text));
    return out;
}

// Host-side COM objects, laid out as travesty expects: a pointer to a table of the three
// v3_funknown functions followed by the interface's own. The host owns them; ref counts are moot.
v3_result V3_API noInterface(void*, const v3_tuid, void**) {
    return V3_NO_INTERFACE;
}
uint32_t V3_API oneRef(void*) {
    return 1;
}

// A project file's chunk: what get_state writes and set_state reads back.
struct Stream {
    struct Table {
        v3_funknown unknown;
        v3_bstream stream;
    };
    static Table kTable;
    Table* table = &kTable;
    std::vector<std::uint8_t> bytes;
    std::size_t position = 0;

    v3_bstream** object() { return reinterpret_cast<v3_bstream**>(&table); }
    static Stream& self(void* object) { return *static_cast<Stream*>(object); }
};
Stream::Table Stream::kTable{
    {noInterface, oneRef, oneRef},
    {[](void* o, void* buffer, int32_t size, int32_t* done) -> v3_result {
         Stream& s = Stream::self(o);
         const auto n = std::min<std::size_t>(static_cast<std::size_t>(size), s.bytes.size() - s.position);
         std::memcpy(buffer, s.bytes.data() + s.position, n);
         s.position += n;
         if (done) *done = static_cast<int32_t>(n);
         return V3_OK;
     },
     [](void* o, void* buffer, int32_t size, int32_t* done) -> v3_result {
         Stream& s = Stream::self(o);
         const auto* p = static_cast<const std::uint8_t*>(buffer);
         s.bytes.insert(s.bytes.end(), p, p + size);
         if (done) *done = size;
         return V3_OK;
     },
     [](void* o, int64_t pos, int32_t mode, int64_t* result) -> v3_result {
         Stream& s = Stream::self(o);
         const int64_t base = mode == V3_SEEK_SET   ? 0
                              : mode == V3_SEEK_CUR ? static_cast<int64_t>(s.position)
                                                    : static_cast<int64_t>(s.bytes.size());
         s.position = static_cast<std::size_t>(
             std::clamp<int64_t>(base + pos, 0, static_cast<int64_t>(s.bytes.size())));
         if (result) *result = static_cast<int64_t>(s.position);
         return V3_OK;
     },
     [](void* o, int64_t* pos) -> v3_result {
         *pos = static_cast<int64_t>(Stream::self(o).position);
         return V3_OK;
     }}};

// Parameter changes for one process call, each one point at frame 0.
struct ParameterChanges {
    struct Queue {
        struct Table {
            v3_funknown unknown;
            v3_param_value_queue queue;
        };
        static Table kTable;
        Table* table = &kTable;
        v3_param_id id = 0;
        double value = 0.0;
    };
    struct Table {
        v3_funknown unknown;
        v3_param_changes changes;
    };
    static Table kTable;
    Table* table = &kTable;
    std::vector<Queue> queues;

    v3_param_changes** object() { return reinterpret_cast<v3_param_changes**>(&table); }
};
ParameterChanges::Queue::Table ParameterChanges::Queue::kTable{
    {noInterface, oneRef, oneRef},
    {[](void* o) { return static_cast<Queue*>(o)->id; }, [](void*) { return int32_t{1}; },
     [](void* o, int32_t index, int32_t* offset, double* value) -> v3_result {
         if (index != 0) return V3_INVALID_ARG;
         *offset = 0;
         *value = static_cast<Queue*>(o)->value;
         return V3_OK;
     },
     [](void*, int32_t, double, int32_t*) -> v3_result { return V3_NOT_IMPLEMENTED; }}};
ParameterChanges::Table ParameterChanges::kTable{
    {noInterface, oneRef, oneRef},
    {[](void* o) { return static_cast<int32_t>(static_cast<ParameterChanges*>(o)->queues.size()); },
     [](void* o, int32_t index) -> v3_param_value_queue** {
         auto& queues = static_cast<ParameterChanges*>(o)->queues;
         return reinterpret_cast<v3_param_value_queue**>(&queues[static_cast<std::size_t>(index)].table);
     },
     [](void*, v3_param_id*, int32_t*) -> v3_param_value_queue** { return nullptr; }}};

// One instance of the effect as a VST3 host holds it: component, processor, controller.
class Vst3Instance {
public:
    Vst3Instance(v3_plugin_factory** factory, const v3_tuid classId) {
        if (v3_cpp_obj(factory)->create_instance(factory, classId, v3_component_iid,
                                                 reinterpret_cast<void**>(&_component)) != V3_OK)
            return;
        v3_cpp_obj_initialize(_component, nullptr);
        v3_cpp_obj_query_interface(_component, v3_audio_processor_iid, &_processor);
        v3_cpp_obj_query_interface(_component, v3_edit_controller_iid, &_controller);
    }
    ~Vst3Instance() {
        stop();
        if (_processor) v3_cpp_obj_unref(_processor);
        if (_controller) v3_cpp_obj_unref(_controller);
        if (_component) {
            v3_cpp_obj_terminate(_component);
            v3_cpp_obj_unref(_component);
        }
    }
    Vst3Instance(const Vst3Instance&) = delete;
    Vst3Instance& operator=(const Vst3Instance&) = delete;

    bool valid() const { return _component && _processor && _controller; }
    v3_component** component() const { return _component; }
    v3_edit_controller** controller() const { return _controller; }

    bool start(double rate, int32_t maxBlock) {
        v3_process_setup setup{V3_REALTIME, V3_SAMPLE_32, maxBlock, rate};
        if (v3_cpp_obj(_processor)->setup_processing(_processor, &setup) != V3_OK) return false;
        _active = v3_cpp_obj(_component)->set_active(_component, true) == V3_OK;
        _processing = _active && v3_cpp_obj(_processor)->set_processing(_processor, true) == V3_OK;
        return _processing;
    }
    void stop() {
        if (_processing) v3_cpp_obj(_processor)->set_processing(_processor, false);
        if (_active) v3_cpp_obj(_component)->set_active(_component, false);
        _active = _processing = false;
    }

    // Parameters travel normalised, as hosts send them; they arrive with the next block.
    void queueSettings(const Settings& settings) {
        _changes.queues.clear();
        for (const auto& definition : allParameters())
            _changes.queues.push_back({&ParameterChanges::Queue::kTable,
                                       static_cast<v3_param_id>(definition.address),
                                       settings[definition.address] / 100.0});
    }

    Channels play(const Channels& input, const std::vector<std::size_t>& blocks) {
        Channels in = input;
        Channels out(input.size(), std::vector<float>(input[0].size(), -7.0f));
        std::size_t position = 0;
        for (const std::size_t block : blocks) {
            float* inPointers[2] = {};
            float* outPointers[2] = {};
            for (std::size_t c = 0; c < input.size(); ++c) {
                inPointers[c] = in[c].data() + position;
                outPointers[c] = out[c].data() + position;
            }
            v3_audio_bus_buffers inBus{static_cast<int32_t>(input.size()), 0, {inPointers}};
            v3_audio_bus_buffers outBus{static_cast<int32_t>(input.size()), 0, {outPointers}};
            v3_process_data data{};
            data.process_mode = V3_REALTIME;
            data.symbolic_sample_size = V3_SAMPLE_32;
            data.nframes = static_cast<int32_t>(block);
            data.num_input_buses = data.num_output_buses = 1;
            data.inputs = &inBus;
            data.outputs = &outBus;
            data.input_params = _changes.object();
            data.output_params = _outputChanges.object();
            EXPECT_EQ(v3_cpp_obj(_processor)->process(_processor, &data), V3_OK);
            _changes.queues.clear();
            position += block;
        }
        return out;
    }

    std::vector<std::uint8_t> saveState() {
        Stream stream;
        EXPECT_EQ(v3_cpp_obj(_component)->get_state(_component, stream.object()), V3_OK);
        return stream.bytes;
    }
    void loadState(const std::vector<std::uint8_t>& bytes) {
        Stream stream;
        stream.bytes = bytes;
        EXPECT_EQ(v3_cpp_obj(_component)->set_state(_component, stream.object()), V3_OK);
        stream.position = 0;
        v3_cpp_obj(_controller)->set_component_state(_controller, stream.object());
    }

private:
    v3_component** _component = nullptr;
    v3_audio_processor** _processor = nullptr;
    v3_edit_controller** _controller = nullptr;
    ParameterChanges _changes;
    ParameterChanges _outputChanges; // takes nothing: the effect has no output parameters
    bool _active = false;
    bool _processing = false;
};

class Vst3LoadTest : public ::testing::TestWithParam<PluginVariant> {
protected:
    void SetUp() override {
        _handle = dlopen(GetParam().vst3Path, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(_handle, nullptr) << dlerror();
        auto entry = reinterpret_cast<bool (*)(void*)>(dlsym(_handle, "ModuleEntry"));
        auto getFactory = reinterpret_cast<const void* (*)()>(dlsym(_handle, "GetPluginFactory"));
        ASSERT_TRUE(entry && getFactory);
        ASSERT_TRUE(entry(_handle));
        _entered = true;
        _factory = static_cast<v3_plugin_factory**>(const_cast<void*>(getFactory()));
        ASSERT_NE(_factory, nullptr);
    }
    void TearDown() override {
        if (_factory) v3_cpp_obj_unref(_factory);
        if (_entered) reinterpret_cast<bool (*)()>(dlsym(_handle, "ModuleExit"))();
        if (_handle) dlclose(_handle);
    }

    // The effect's class: the one in the "Audio Module Class" category.
    bool effectClass(v3_class_info& info) const {
        for (int32_t i = 0; i < v3_cpp_obj(_factory)->num_classes(_factory); ++i)
            if (v3_cpp_obj(_factory)->get_class_info(_factory, i, &info) == V3_OK &&
                std::string(info.category) == "Audio Module Class")
                return true;
        return false;
    }

    void* _handle = nullptr;
    bool _entered = false;
    v3_plugin_factory** _factory = nullptr;
};

TEST_P(Vst3LoadTest, FactoryClassBusesAndParametersMatchTheVariant) {
    v3_factory_info factoryInfo{};
    ASSERT_EQ(v3_cpp_obj(_factory)->get_factory_info(_factory, &factoryInfo), V3_OK);
    EXPECT_STREQ(factoryInfo.vendor, "Thrask Vell");

    // Hosts store the class id with every project: it is a published, golden value.
    const std::string expectedId =
        GetParam().channels == 1 ? "2046504473616C636D66565400000000" : "2046504473616C637366565400000000";
    v3_class_info classInfo{};
    bool found = false;
    for (int32_t i = 0; i < v3_cpp_obj(_factory)->num_classes(_factory) && !found; ++i) {
        ASSERT_EQ(v3_cpp_obj(_factory)->get_class_info(_factory, i, &classInfo), V3_OK);
        found = std::string(classInfo.category) == "Audio Module Class";
    }
    ASSERT_TRUE(found);
    std::string hex;
    for (const char byte : classInfo.class_id) {
        char digits[3];
        std::snprintf(digits, sizeof digits, "%02X", static_cast<unsigned>(static_cast<std::uint8_t>(byte)));
        hex += digits;
    }
    EXPECT_EQ(hex, expectedId);
    EXPECT_EQ(std::string(classInfo.name),
              std::string("Thrask Vell ") + (GetParam().channels == 1 ? "Mono" : "Stereo"));

    v3_component** component = nullptr;
    ASSERT_EQ(v3_cpp_obj(_factory)->create_instance(_factory, classInfo.class_id, v3_component_iid,
                                                    reinterpret_cast<void**>(&component)),
              V3_OK);
    ASSERT_NE(component, nullptr);
    ASSERT_EQ(v3_cpp_obj_initialize(component, nullptr), V3_OK);
    for (const int32_t direction : {V3_INPUT, V3_OUTPUT}) {
        ASSERT_EQ(v3_cpp_obj(component)->get_bus_count(component, V3_AUDIO, direction), 1);
        v3_bus_info bus{};
        ASSERT_EQ(v3_cpp_obj(component)->get_bus_info(component, V3_AUDIO, direction, 0, &bus), V3_OK);
        EXPECT_EQ(static_cast<std::uint32_t>(bus.channel_count), GetParam().channels);
    }

    // As hosts do: a separate controller class if the factory makes one, else the component's own.
    v3_tuid controllerId{};
    ASSERT_EQ(v3_cpp_obj(component)->get_controller_class_id(component, controllerId), V3_OK);
    v3_edit_controller** controller = nullptr;
    bool separate = v3_cpp_obj(_factory)->create_instance(_factory, controllerId, v3_edit_controller_iid,
                                                          reinterpret_cast<void**>(&controller)) == V3_OK;
    if (separate)
        ASSERT_EQ(v3_cpp_obj_initialize(controller, nullptr), V3_OK);
    else
        ASSERT_EQ(v3_cpp_obj_query_interface(component, v3_edit_controller_iid, &controller), V3_OK);
    ASSERT_NE(controller, nullptr);
    ASSERT_GE(v3_cpp_obj(controller)->get_parameter_count(controller), static_cast<int32_t>(kParameterCount));
    for (const auto& definition : allParameters()) {
        v3_param_info info{};
        ASSERT_EQ(
            v3_cpp_obj(controller)->get_parameter_info(controller, static_cast<int32_t>(definition.address), &info),
            V3_OK);
        EXPECT_EQ(info.param_id, definition.address);
        EXPECT_EQ(narrow(info.title), std::string(definition.name));
        EXPECT_EQ(info.step_count, 0) << "switches stay plain 0..100 parameters";
        EXPECT_DOUBLE_EQ(info.default_normalised_value, definition.defaultValue / 100.0);
        EXPECT_DOUBLE_EQ(
            v3_cpp_obj(controller)->normalised_parameter_to_plain(controller, info.param_id, 1.0), 100.0);
    }
    if (separate) v3_cpp_obj_terminate(controller);
    v3_cpp_obj_unref(controller);
    v3_cpp_obj_terminate(component);
    v3_cpp_obj_unref(component);
}

TEST_P(Vst3LoadTest, SoundsBitIdenticalToTheBridgeAndFollowsParameterChanges) {
    constexpr double kRate = 48000.0;
    constexpr std::uint32_t kMaxBlock = 256;
    v3_class_info info{};
    ASSERT_TRUE(effectClass(info));
    const auto input = testSignal(GetParam().channels, 4000, kRate);
    const auto blocks = raggedBlocks(4000, kMaxBlock);
    for (const Settings& settings : {defaultSettings(), distinctSettings()}) {
        Vst3Instance instance(_factory, info.class_id);
        ASSERT_TRUE(instance.valid());
        ASSERT_TRUE(instance.start(kRate, kMaxBlock));
        instance.queueSettings(settings);
        EXPECT_TRUE(bitIdentical(instance.play(input, blocks),
                                 renderWithBridge(settings, input, kRate, kMaxBlock, blocks)));
        Settings quiet = settings;
        quiet[kVolume] = 0.0f;
        instance.queueSettings(quiet);
        const auto silent = instance.play(input, {kMaxBlock});
        EXPECT_LT(rms(std::vector<float>(silent[0].begin(), silent[0].begin() + kMaxBlock)), 1e-4);
    }
}

TEST_P(Vst3LoadTest, SavedStateRestoresEveryParameterExactly) {
    v3_class_info info{};
    ASSERT_TRUE(effectClass(info));
    const Settings settings = distinctSettings();
    std::vector<std::uint8_t> saved;
    {
        Vst3Instance original(_factory, info.class_id);
        ASSERT_TRUE(original.valid());
        ASSERT_TRUE(original.start(48000.0, 128));
        original.queueSettings(settings);
        original.play(testSignal(GetParam().channels, 128), {128});
        original.stop();
        saved = original.saveState();
    }
    ASSERT_FALSE(saved.empty());
    Vst3Instance fresh(_factory, info.class_id);
    ASSERT_TRUE(fresh.valid());
    fresh.loadState(saved);
    for (const auto& definition : allParameters()) {
        const double normalised =
            v3_cpp_obj(fresh.controller())
                ->get_parameter_normalised(fresh.controller(), static_cast<v3_param_id>(definition.address));
        const double plain = v3_cpp_obj(fresh.controller())
                                 ->normalised_parameter_to_plain(
                                     fresh.controller(), static_cast<v3_param_id>(definition.address), normalised);
        EXPECT_EQ(static_cast<float>(plain), settings[definition.address]) << definition.identifier;
    }
    ASSERT_TRUE(fresh.start(48000.0, 128));
    const auto input = testSignal(GetParam().channels, 512);
    const std::vector<std::size_t> blocks(4, 128);
    EXPECT_TRUE(
        bitIdentical(fresh.play(input, blocks), renderWithBridge(settings, input, 48000.0, 128, blocks)));
}

INSTANTIATE_TEST_SUITE_P(Variants, Vst3LoadTest, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace thraskvell::test
