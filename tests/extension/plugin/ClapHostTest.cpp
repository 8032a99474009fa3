// Loads the built CLAP binaries the way a CLAP host does and checks what the host sees and hears.
#include "tests/extension/plugin/ClapHost.h"
#include "tests/extension/plugin/PluginTestSupport.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace thraskvell::test {
namespace {

class ClapHostTest : public ::testing::TestWithParam<PluginVariant> {
protected:
    static constexpr double kRate = 48000.0;
    static constexpr std::uint32_t kMaxBlock = 256;

    void SetUp() override {
        _library = std::make_unique<ClapLibrary>(GetParam().clapPath);
        ASSERT_NE(_library->factory(), nullptr) << GetParam().clapPath;
    }
    std::unique_ptr<ClapInstance> instantiate() {
        auto instance = std::make_unique<ClapInstance>(*_library, GetParam().clapId);
        EXPECT_NE(instance->plugin(), nullptr);
        return instance;
    }
    static void queueAll(ClapInstance& instance, const Settings& settings) {
        for (const auto& definition : allParameters())
            instance.queueParameter(static_cast<clap_id>(definition.address), settings[definition.address]);
    }
    // Plays the signal in the given blocks; parameters queued before the call arrive with the first.
    // Counts the allocations made inside the plug-in's process calls.
    static Channels play(ClapInstance& instance, const Channels& input,
                         const std::vector<std::size_t>& blocks, std::size_t* allocations = nullptr) {
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
            const AllocationScope scope;
            EXPECT_TRUE(instance.process(inPointers, outPointers, static_cast<std::uint32_t>(input.size()),
                                         static_cast<std::uint32_t>(block)));
            if (allocations) *allocations += scope.allocations();
            position += block;
        }
        return out;
    }

    std::unique_ptr<ClapLibrary> _library;
};

TEST_P(ClapHostTest, FactoryDescribesOneEffectUnderItsStableId) {
    const auto* factory = _library->factory();
    ASSERT_EQ(factory->get_plugin_count(factory), 1u);
    const clap_plugin_descriptor_t* descriptor = factory->get_plugin_descriptor(factory, 0);
    EXPECT_STREQ(descriptor->id, GetParam().clapId);
    EXPECT_STREQ(descriptor->vendor, "Thrask Vell");
    std::vector<std::string> features;
    for (const char* const* f = descriptor->features; f && *f; ++f)
        features.emplace_back(*f);
    EXPECT_EQ(features, (std::vector<std::string>{"audio-effect", "distortion", GetParam().name}));
}

TEST_P(ClapHostTest, PublishesParametersAndAudioPorts) {
    auto instance = instantiate();
    const auto* params = instance->params();
    ASSERT_NE(params, nullptr);
    ASSERT_EQ(params->count(instance->plugin()), kParameterCount);
    for (const auto& definition : allParameters()) {
        clap_param_info_t info{};
        ASSERT_TRUE(params->get_info(instance->plugin(), static_cast<std::uint32_t>(definition.address), &info));
        EXPECT_EQ(info.id, definition.address);
        EXPECT_EQ(std::string(info.name), std::string(definition.name));
        EXPECT_EQ(info.min_value, 0.0);
        EXPECT_EQ(info.max_value, 100.0);
        EXPECT_EQ(info.default_value, definition.defaultValue);
        EXPECT_TRUE(info.flags & CLAP_PARAM_IS_AUTOMATABLE);
        EXPECT_FALSE(info.flags & CLAP_PARAM_IS_STEPPED) << "switches stay plain 0..100 parameters";
        EXPECT_EQ(instance->parameterValue(info.id), definition.defaultValue);
    }
    const auto* ports = instance->ports();
    ASSERT_NE(ports, nullptr);
    for (const bool isInput : {true, false}) {
        ASSERT_EQ(ports->count(instance->plugin(), isInput), 1u);
        clap_audio_port_info_t info{};
        ASSERT_TRUE(ports->get(instance->plugin(), 0, isInput, &info));
        EXPECT_EQ(info.channel_count, GetParam().channels);
    }
}

TEST_P(ClapHostTest, SoundsBitIdenticalToTheBridgeAndProcessesWithoutAllocating) {
    const auto input = testSignal(GetParam().channels, 6000, kRate);
    const auto blocks = raggedBlocks(6000, kMaxBlock);
    for (const Settings& settings : {defaultSettings(), distinctSettings()}) {
        auto instance = instantiate();
        ASSERT_TRUE(instance->activate(kRate, kMaxBlock));
        queueAll(*instance, settings);
        std::size_t allocations = 0;
        const auto output = play(*instance, input, blocks, &allocations);
        EXPECT_EQ(allocations, 0u);
        EXPECT_TRUE(bitIdentical(output, renderWithBridge(settings, input, kRate, kMaxBlock, blocks)));
        EXPECT_GT(rms(output[0]), 0.01);
    }
}

TEST_P(ClapHostTest, ParameterEventReachesTheSoundAtTheNextBlockAndReadsBack) {
    const auto input = testSignal(GetParam().channels, kMaxBlock, kRate);
    auto instance = instantiate();
    ASSERT_TRUE(instance->activate(kRate, kMaxBlock));
    const auto loud = play(*instance, input, {kMaxBlock});
    instance->queueParameter(kVolume, 0.0);
    const auto quiet = play(*instance, input, {kMaxBlock});
    EXPECT_GT(rms(loud[0]), 0.01);
    EXPECT_LT(rms(quiet[0]), 1e-4);
    EXPECT_EQ(instance->parameterValue(kVolume), 0.0);
}

TEST_P(ClapHostTest, SavedStateRestoresEveryParameterExactlyAndTheSameSound) {
    const Settings settings = distinctSettings();
    auto original = instantiate();
    ASSERT_TRUE(original->activate(kRate, kMaxBlock));
    queueAll(*original, settings);
    play(*original, testSignal(GetParam().channels, 64, kRate), {64});
    const auto saved = original->saveState();
    ASSERT_FALSE(saved.empty());

    auto fresh = instantiate();
    ASSERT_TRUE(fresh->loadState(saved));
    for (const auto& definition : allParameters())
        EXPECT_EQ(fresh->parameterValue(static_cast<clap_id>(definition.address)), settings[definition.address])
            << definition.identifier;
    ASSERT_TRUE(fresh->activate(kRate, kMaxBlock));
    const auto input = testSignal(GetParam().channels, 3 * kMaxBlock, kRate);
    const std::vector<std::size_t> blocks(3, kMaxBlock);
    EXPECT_TRUE(bitIdentical(play(*fresh, input, blocks),
                             renderWithBridge(settings, input, kRate, kMaxBlock, blocks)));

    // Damaged state changes nothing and is reported as a failed load or ignored, never a crash.
    const std::vector<std::uint8_t> garbage{'{', '"', 't', 'r', 'i', 'm', '"', ':'};
    fresh->loadState(garbage);
    EXPECT_EQ(fresh->parameterValue(kTrim), settings[kTrim]);
}

TEST_P(ClapHostTest, ReactivationAtAnotherRateAndBlockSizeRePrepares) {
    auto instance = instantiate();
    ReferenceBridge reference(defaultSettings());
    const std::vector<std::pair<double, std::uint32_t>> formats{{44100.0, 512}, {96000.0, 64}, {22050.0, 2}};
    for (const auto& [rate, maxBlock] : formats) {
        ASSERT_TRUE(instance->activate(rate, maxBlock));
        ASSERT_TRUE(reference.prepare(static_cast<int>(maxBlock), rate, GetParam().channels));
        const auto input = testSignal(GetParam().channels, 4 * maxBlock + 1, rate);
        const std::vector<std::size_t> blocks{maxBlock, 1, maxBlock, maxBlock, maxBlock - 1, 1};
        EXPECT_TRUE(bitIdentical(play(*instance, input, blocks), reference.render(input, blocks)))
            << rate << " Hz, " << maxBlock << " frames";
    }
}

TEST_P(ClapHostTest, RepeatedInstantiateActivateDestroyCyclesWork) {
    const auto input = testSignal(GetParam().channels, 128, kRate);
    const auto expected = renderWithBridge(defaultSettings(), input, kRate, 128, {128});
    for (int cycle = 0; cycle < 20; ++cycle) {
        auto instance = instantiate();
        ASSERT_TRUE(instance->activate(kRate, 128));
        EXPECT_TRUE(bitIdentical(play(*instance, input, {128}), expected)) << cycle;
        instance->deactivate();
    }
}

INSTANTIATE_TEST_SUITE_P(Variants, ClapHostTest, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace thraskvell::test
