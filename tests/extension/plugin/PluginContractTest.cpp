// What every plug-in format must keep, checked through each format's own host path (lilv for LV2,
// the CLAP entry, the VST3 factory) for both variants: it identifies itself as projects remember
// it, it sounds exactly like the bridge, automation is heard at the next block, saved state brings
// a fresh instance back, and host blocks longer than the prepared maximum are played in chunks.
#include "tests/extension/plugin/ClapHost.h"
#include "tests/extension/plugin/PluginTestSupport.h"
#include "tests/support/AllocationCounter.h"

#include <gtest/gtest.h>

namespace thraskvell::test {
namespace {

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
    // Hosts store these ids in every project: published, golden values.
    const char* identity;
};

void PrintTo(const Subject& subject, std::ostream* os) {
    *os << subject.name;
}

const Subject kSubjects[] = {
    {"lv2_mono", makeLv2Adapter, &kVariants[0], "urn:thraskvell:fuzz:mono Thrask Vell Mono"},
    {"lv2_stereo", makeLv2Adapter, &kVariants[1], "urn:thraskvell:fuzz:stereo Thrask Vell Stereo"},
    {"clap_mono", makeClapAdapter, &kVariants[0],
     "org.thraskvell.fuzz.mono Thrask Vell Mono by Thrask Vell: audio-effect distortion mono"},
    {"clap_stereo", makeClapAdapter, &kVariants[1],
     "org.thraskvell.fuzz.stereo Thrask Vell Stereo by Thrask Vell: audio-effect distortion stereo"},
    {"vst3_mono", makeVst3Adapter, &kVariants[0],
     "2046504473616C636D66565400000000 Thrask Vell Mono by Thrask Vell"},
    {"vst3_stereo", makeVst3Adapter, &kVariants[1],
     "2046504473616C637366565400000000 Thrask Vell Stereo by Thrask Vell"},
};

// The plug-in and a reference bridge fed the same signal, the same host blocks and the same
// parameter changes; what the plug-in's process calls allocate is counted.
struct Duet {
    Duet(PluginAdapter& p, std::uint32_t c)
        : plugin(p), channels(c), input(testSignal(c, 40000)), hostInput(input),
          output(c, std::vector<float>(input[0].size(), -7.0f)), expected(output) {
        for (const auto& definition : allParameters())
            settings[definition.address] = definition.defaultValue;
    }

    bool activate(double rate, std::uint32_t maxBlock) {
        // A new instance has a new bridge: the reference starts afresh at the same settings.
        if (plugin.reinstantiates(rate, maxBlock)) {
            reference = std::make_unique<ReferenceBridge>();
            for (std::uint32_t i = 0; i < kParameterCount; ++i)
                reference->set(i, settings[i]);
        }
        return plugin.activate(rate, maxBlock) && reference->prepare(maxBlock, rate, channels);
    }
    void set(std::uint32_t index, float value) {
        plugin.setParameter(index, value);
        reference->set(index, value);
        settings[index] = value;
    }
    void setAll(const Settings& all) {
        for (std::uint32_t i = 0; i < kParameterCount; ++i)
            set(i, all[i]);
    }
    void play(std::size_t block) {
        ASSERT_LE(position + block, input[0].size());
        float* in[2] = {};
        float* out[2] = {};
        for (std::size_t c = 0; c < channels; ++c) {
            in[c] = hostInput[c].data() + position;
            out[c] = output[c].data() + position;
        }
        const AllocationScope scope;
        EXPECT_TRUE(plugin.process(in, out, static_cast<std::uint32_t>(block)));
        allocations += scope.allocations();
        reference->render(input, expected, position, block);
        position += block;
    }
    // Bit for bit over everything played so far.
    ::testing::AssertionResult same() const {
        if (bitIdentical(output, expected) && position > 0) return ::testing::AssertionSuccess();
        for (std::size_t c = 0; c < channels; ++c)
            for (std::size_t n = 0; n < position; ++n)
                if (std::bit_cast<std::uint32_t>(output[c][n]) !=
                    std::bit_cast<std::uint32_t>(expected[c][n]))
                    return ::testing::AssertionFailure() << "channel " << c << " frame " << n << ": "
                                                         << output[c][n] << " instead of " << expected[c][n];
        return ::testing::AssertionFailure() << "nothing played";
    }

    PluginAdapter& plugin;
    std::uint32_t channels;
    Channels input, hostInput, output, expected;
    std::unique_ptr<ReferenceBridge> reference = std::make_unique<ReferenceBridge>();
    Settings settings;
    std::size_t allocations = 0, position = 0;
};

class PluginContract : public ::testing::TestWithParam<Subject> {
protected:
    std::unique_ptr<PluginAdapter> load() const {
        auto plugin = GetParam().load(*GetParam().variant);
        EXPECT_NE(plugin, nullptr) << GetParam().name;
        return plugin;
    }
    std::uint32_t channels() const { return GetParam().variant->channels; }
};

TEST_P(PluginContract, LoadsAndIdentifiesItself) {
    const auto plugin = load();
    ASSERT_NE(plugin, nullptr);
    EXPECT_EQ(plugin->identity(), GetParam().identity);
    EXPECT_EQ(plugin->audioPorts(), (std::array{channels(), channels()}));
    const auto parameters = plugin->parameters();
    ASSERT_EQ(parameters.size(), kParameterCount);
    for (const auto& definition : allParameters()) {
        const HostParameter& parameter = parameters[definition.address];
        EXPECT_EQ(parameter.name, definition.name);
        if (!parameter.symbol.empty()) {
            EXPECT_EQ(parameter.symbol, definition.identifier);
        }
        EXPECT_EQ(parameter.min, definition.minValue) << definition.identifier;
        EXPECT_EQ(parameter.max, definition.maxValue) << definition.identifier;
        EXPECT_EQ(parameter.defaultValue, definition.defaultValue) << definition.identifier;
        EXPECT_TRUE(parameter.automatable) << definition.identifier;
        EXPECT_FALSE(parameter.stepped) << definition.identifier << ": switches stay plain 0..100 parameters";
        EXPECT_EQ(plugin->parameterValue(definition.address), definition.defaultValue)
            << definition.identifier;
    }
}

// Defaults first, then every parameter changed; re-activation at other rates and block sizes
// prepares again; blocks of 0 and 1 frames among the ragged ones.
TEST_P(PluginContract, SoundsLikeTheBridgeInRaggedBlocks) {
    const auto plugin = load();
    ASSERT_NE(plugin, nullptr);
    Duet duet(*plugin, channels());
    struct Round {
        double rate;
        std::uint32_t maxBlock;
    };
    for (const Round& round : {Round{48000, 256}, Round{96000, 64}, Round{96000, 64}, Round{22050, 2}}) {
        ASSERT_TRUE(duet.activate(round.rate, round.maxBlock)) << round.rate;
        if (round.rate != 48000) duet.setAll(distinctSettings());
        const std::size_t max = round.maxBlock;
        for (int repeat = 0; repeat < 6; ++repeat)
            for (const std::size_t block :
                 {max, std::size_t{1}, std::size_t{0}, std::min<std::size_t>(17, max), max / 2, max - 1,
                  std::min<std::size_t>(64, max)})
                duet.play(block);
    }
    EXPECT_TRUE(duet.same());
}

// Every parameter changes between blocks, four times over; the one allocation proof through a
// real host path: process, parameter changes included, never touches the heap.
TEST_P(PluginContract, AutomationIsHeardAtTheNextBlockWithoutAllocating) {
    const auto plugin = load();
    ASSERT_NE(plugin, nullptr);
    Duet duet(*plugin, channels());
    ASSERT_TRUE(duet.activate(48000, 256));
    duet.play(256);
    for (std::uint32_t k = 0; k < 4 * kParameterCount; ++k) {
        duet.set(k % kParameterCount, static_cast<float>((k * 37) % 101));
        duet.play(k % 3 == 0 ? 256 : 100);
    }
    EXPECT_TRUE(duet.same());
    EXPECT_EQ(duet.allocations, 0u);
}

TEST_P(PluginContract, StateRestoresIntoAFreshInstance) {
    const Settings settings = distinctSettings();
    std::string saved;
    {
        const auto original = load();
        ASSERT_NE(original, nullptr);
        Duet duet(*original, channels());
        ASSERT_TRUE(duet.activate(48000, 256));
        duet.setAll(settings);
        duet.play(64);
        saved = original->saveState();
    }
    // The unit's full state travels as JSON text inside the format's own container.
    for (const auto& definition : allParameters())
        EXPECT_EQ(jsonNumber(saved, definition.identifier), settings[definition.address])
            << definition.identifier << " in\n"
            << saved;

    const auto fresh = load();
    ASSERT_NE(fresh, nullptr);
    Duet duet(*fresh, channels());
    ASSERT_TRUE(duet.activate(48000, 256));
    ASSERT_TRUE(fresh->restoreState(saved));
    for (const auto& definition : allParameters()) {
        EXPECT_EQ(fresh->parameterValue(definition.address), settings[definition.address])
            << definition.identifier;
        duet.reference->set(definition.address, settings[definition.address]);
    }
    for (int block = 0; block < 4; ++block)
        duet.play(256);
    EXPECT_TRUE(duet.same());
}

// DPF's VST3 wrapper sizes its own buffers to the prepared maximum, so only LV2 and CLAP hosts
// reach the plug-in with longer blocks.
class LongerHostBlocks : public PluginContract {};

TEST_P(LongerHostBlocks, ArePlayedInChunks) {
    const auto plugin = load();
    ASSERT_NE(plugin, nullptr);
    Duet duet(*plugin, channels());
    ASSERT_TRUE(duet.activate(48000, 64));
    duet.setAll(distinctSettings());
    for (int repeat = 0; repeat < 3; ++repeat)
        for (const std::size_t block : {256, 1, 0, 200, 64, 65, 129, 255})
            duet.play(block);
    EXPECT_TRUE(duet.same());
}

// A block size the unit cannot prepare for (its bridge refuses 2^30 frames) leaves the plug-in
// silent rather than playing whatever the host's buffers held.
TEST(PluginAdapter, PlaysSilenceWhenTheUnitCannotBePrepared) {
    const auto plugin = makeClapAdapter(kVariants[1]);
    ASSERT_NE(plugin, nullptr);
    ASSERT_TRUE(plugin->activate(48000, 1u << 30));
    auto input = testSignal(2, 64);
    Channels output(2, std::vector<float>(64, -7.0f));
    float* in[2] = {input[0].data(), input[1].data()};
    float* out[2] = {output[0].data(), output[1].data()};
    ASSERT_TRUE(plugin->process(in, out, 64));
    EXPECT_EQ(output, Channels(2, std::vector<float>(64, 0.0f)));
}

INSTANTIATE_TEST_SUITE_P(Formats, PluginContract, ::testing::ValuesIn(kSubjects),
                         [](const auto& info) { return std::string(info.param.name); });
INSTANTIATE_TEST_SUITE_P(Formats, LongerHostBlocks, ::testing::ValuesIn(kSubjects, kSubjects + 4),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace thraskvell::test
