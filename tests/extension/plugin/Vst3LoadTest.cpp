// Loads the built VST3 binaries through DPF's travesty headers, as a VST3 host's scanner does:
// module entry, factory, class info, the component's buses, the controller's parameters.
#include "tests/extension/plugin/PluginTestSupport.h"

#include "travesty/component.h"
#include "travesty/edit_controller.h"
#include "travesty/factory.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace thraskvell::test {
namespace {

std::string narrow(const int16_t* text) {
    std::string out;
    for (; *text; ++text)
        out.push_back(static_cast<char>(*text));
    return out;
}

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
    for (const auto& spec : allParameters()) {
        v3_param_info info{};
        ASSERT_EQ(
            v3_cpp_obj(controller)->get_parameter_info(controller, static_cast<int32_t>(spec.address), &info),
            V3_OK);
        EXPECT_EQ(info.param_id, spec.address);
        EXPECT_EQ(narrow(info.title), std::string(spec.name));
        EXPECT_EQ(info.step_count, 0) << "switches stay plain 0..100 parameters";
        EXPECT_DOUBLE_EQ(info.default_normalised_value, spec.defaultValue / 100.0);
        EXPECT_DOUBLE_EQ(
            v3_cpp_obj(controller)->normalised_parameter_to_plain(controller, info.param_id, 1.0), 100.0);
    }
    if (separate) v3_cpp_obj_terminate(controller);
    v3_cpp_obj_unref(controller);
    v3_cpp_obj_terminate(component);
    v3_cpp_obj_unref(component);
}

INSTANTIATE_TEST_SUITE_P(Variants, Vst3LoadTest, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace thraskvell::test
