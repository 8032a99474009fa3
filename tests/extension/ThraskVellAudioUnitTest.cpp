#include "extension/ThraskVellAudioUnit.h"
#include "parameters/ThraskVellParameterTree.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>
#include <variant>

namespace thraskvell {
namespace {

using namespace std::string_literals;

using Values = std::array<float, kParameterCount>;

std::shared_ptr<ThraskVellAudioUnit> makeUnit() {
    auto made = ThraskVellAudioUnit::create();
    EXPECT_TRUE(made) << (made ? "" : made.error().localizedDescription);
    return made ? made.value() : nullptr;
}

Values values(const ThraskVellAudioUnit& unit) {
    Values result{};
    for (std::size_t i = 0; i < kParameterCount; ++i)
        result[i] = unit.parameterTree()->allParameters()[i]->value();
    return result;
}

void setAll(ThraskVellAudioUnit& unit, const Values& v) {
    for (std::size_t i = 0; i < kParameterCount; ++i)
        unit.parameterTree()->allParameters()[i]->setValue(v[i]);
}

// Distinct non-default values, so "unchanged" is told apart from "reset to default".
constexpr Values kCurrent{11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22};

Values with(std::initializer_list<std::pair<std::size_t, float>> changes) {
    auto v = kCurrent;
    for (const auto& [index, value] : changes)
        v[index] = value;
    return v;
}

// One unit as hosts drive it: allocated at the format it is created with, then at others. Each
// allocation logs one line and prepares the bridge from the output format; a refused one logs nothing,
// says why, and leaves the unit deallocated and the bridge as the last success left it.
TEST(ThraskVellAudioUnit, AllocationLogsOneLineAndPreparesTheBridgeFromTheOutputFormat) {
    const auto unit = makeUnit();
    for (auto* bus : {(*unit->inputBusses())[0], (*unit->outputBusses())[0]})
        EXPECT_EQ(bus->setFormat(AVAudioFormat::makeStandard(48000, 3))->code,
                  kAudioUnitErr_FormatNotSupported);
    constexpr NSInteger kFormat = kAudioUnitErr_FormatNotSupported,
                        kFailed = kAudioUnitErr_FailedInitialization;
    const struct {
        double inRate, outRate; // 0: as created
        AVAudioChannelCount inChannels, outChannels;
        AUAudioFrameCount maxFrames;
        NSInteger error;
        const char* says;                           // the log line after "ThraskVell: ", or part of the error
        std::tuple<int, float, std::size_t> bridge; // frames, rate, channels
    } steps[] = {
        {0, 0, 0, 0, 0, 0, "in=1 ch @ 44100 Hz, out=1 ch @ 44100 Hz", {512, 44100, 1}},
        {44100, 48000, 1, 1, 1024, 0, "in=1 ch @ 44100 Hz, out=1 ch @ 48000 Hz", {1024, 48000, 1}},
        {96000.25, 96000.25, 2, 2, 64, 0, "in=2 ch @ 96000 Hz, out=2 ch @ 96000 Hz", {64, 96000.25f, 2}},
        {8000, 8000, 1, 1, 256, 0, "in=1 ch @ 8000 Hz, out=1 ch @ 8000 Hz", {256, 8000, 1}},
        {48000, 48000, 2, 1, 2048, kFormat, "support 2 input with 1 output", {256, 8000, 1}},
        {48000, 48000, 1, 1, 1u << 30, kFailed, "prepared for 1073741824 frames", {256, 8000, 1}},
        {7999, 7999, 1, 1, 512, kFailed, "7999 Hz is not supported (the lowest is 8000 Hz)", {256, 8000, 1}},
    };
    for (const auto& s : steps) {
        SCOPED_TRACE(s.says);
        unit->deallocateRenderResources();
        if (s.inRate > 0) {
            ASSERT_FALSE(unit->inputBus().setFormat(AVAudioFormat::makeStandard(s.inRate, s.inChannels)));
            ASSERT_FALSE(unit->outputBus().setFormat(AVAudioFormat::makeStandard(s.outRate, s.outChannels)));
            ASSERT_FALSE(unit->setMaximumFramesToRender(s.maxFrames));
        }
        ::testing::internal::CaptureStderr();
        const auto error = unit->allocateRenderResources();
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  error ? "" : "ThraskVell: " + std::string(s.says) + "\n");
        EXPECT_EQ(error ? error->code : 0, s.error);
        EXPECT_TRUE(!error || error->localizedDescription.find(s.says) != std::string::npos)
            << error->localizedDescription;
        EXPECT_EQ(unit->renderResourcesAllocated(), s.error == 0);
        const auto& bridge = unit->dspBridge();
        EXPECT_EQ(
            std::tuple(bridge.maxFrames(), bridge.kernel().sampleRate, bridge.kernel().channelStates.size()),
            s.bridge);
    }
}

// The state keeps what a host gave for its own keys; the audio-unit base's identity ("aufx", "Thvl",
// "Thrk"), the version and every parameter win over entries of the same key. The tree reaches the
// bridge unclamped and holds the unit only weakly.
TEST(ThraskVellAudioUnit, StateHoldsBaseVersionAndParametersTreeReachesTheBridgeAndHoldsTheUnitWeakly) {
    auto unit = makeUnit();
    unit->setFullState(StateDictionary{
        {"type", "spoof"s}, {"trim", "from the host"s}, {"thraskVellVersion", 0.5}, {"kept", 1.0}});
    StateDictionary expected{{"type", 1635083896.0},
                             {"subtype", 1416132204.0},
                             {"manufacturer", 1416131179.0},
                             {"thraskVellVersion", "1.0.0"s},
                             {"kept", 1.0}};
    for (const auto& definition : allParameters())
        expected[std::string(definition.identifier)] = double(definition.defaultValue);
    EXPECT_EQ(unit->fullState(), expected);

    const auto tree = unit->parameterTree();
    tree->valueForKey("volume")->setValue(150.0f);
    tree->valueForKey("ratio")->setValue(-4.0f);
    EXPECT_EQ(unit->dspBridge().getParameter("volume"), 150.0f);
    EXPECT_EQ(unit->dspBridge().getParameter("ratio"), -4.0f);
    unit->dspBridge().setParameter("tone", 12.5f);
    EXPECT_EQ(tree->valueForKey("tone")->value(), 12.5f) << "reads ask the bridge";

    // A tree from outside is stored as it is, tied to nothing; without a tree, state holds no parameter.
    const auto foreign = makeThraskVellParameterTree();
    unit->setParameterTree(foreign);
    foreign->valueForKey("gate")->setValue(70.0f);
    EXPECT_EQ(unit->dspBridge().getParameter("gate"), 0.0f);
    unit->setParameterTree(nullptr);
    unit->setFullState(StateDictionary{{"trim", 1.0}});
    EXPECT_FALSE(unit->fullState()->contains("gate"));

    const std::weak_ptr<ThraskVellAudioUnit> watch = unit;
    unit.reset();
    EXPECT_TRUE(watch.expired()) << "the tree's blocks must not keep the unit alive";
    tree->valueForKey("volume")->setValue(80.0f);
    EXPECT_EQ(tree->valueForKey("volume")->value(), 0.0f);
}

// Each case starts from a unit at kCurrent that a host gave {"kept": 1}, and hands it a dictionary
// (as a host does) or text (as files and plug-in formats do). What is accepted applies in address
// order, every observer hearing each applied entry, replaces what the host gave, and what the unit
// then saves restores in another unit. Refused text changes nothing and says why.
TEST(SavedState, AppliesUsableEntriesRefusesMalformedTextWholeAndRestoresWhatItSaves) {
    const double nan = std::nan("");
    // Finite floats that stress a text round trip, none clamped: signed zero, subnormals, extremes,
    // every digit needed, and a double between two floats that becomes the nearest.
    const Values stress{-0.0f,       std::numeric_limits<float>::denorm_min(),
                        -FLT_MIN,    std::nextafter(FLT_MIN, 0.0f),
                        1.0f / 3.0f, std::nextafter(100.0f, 0.0f),
                        16777215.0f, -1e-30f,
                        FLT_MAX,     0.1f,
                        150.0f,      -FLT_MAX};
    StateDictionary stressed;
    for (const auto& definition : allParameters())
        stressed[std::string(definition.identifier)] = double(stress[definition.address]);
    stressed["dynamicsEnable"] = 0.1;
    // The limits as literals, so a changed constant shows: 128 KiB of text, 16 levels of nesting, 64 KiB
    // besides the effect's own entries counted as the unit writes them back (0 becomes 0.0), so a text
    // read at the limit still reads back once saved: 4680 entries of 14 bytes and one of 16 fill it.
    const auto sized = [](std::size_t bytes) { return "{\"trim\": 80" + std::string(bytes - 12, ' ') + "}"; };
    const auto nest = [](int levels) {
        return "{\"trim\": 80, \"a\":" + std::string(levels, '[') + std::string(levels, ']') + "}";
    };
    std::string extra = "{\"sustain\": 90";
    for (int i = 0; i < 4680; ++i)
        extra += ",\"k" + std::to_string(100000 + i) + "\":0";
    const struct {
        const char* what;
        std::variant<std::optional<StateDictionary>, std::string> input;
        Values expected;
        const char* mentions = nullptr; // refused, saying this
    } cases[] = {
        {"unusable entries skipped one by one",
         StateDictionary{{"gate", "30"s},
                         {"trim", nan},
                         {"sustain", 1e300},
                         {"threshold", -3.5e38},
                         {"Ratio", 1.0},
                         {"thraskVellVersion", "9.9.9"s},
                         {"blend", 77.0}},
         with({{kBlend, 77.0f}})},
        {"none", std::nullopt, kCurrent},
        {"floats that stress text, applied as they are", stressed, stress},
        {"text entries that are neither numbers nor texts dropped",
         R"({"trim": true, "gate": null, "volume": [1, 2], "tone": {"v": 3}, "sustain": 80, "blend": "9", "threshold": -2.5e1})",
         with({{kSustain, 80.0f}, {kThreshold, -25.0f}})},
        {"numbers beyond double range dropped",
         R"({"trim": 1e400, "gate": -12.5e99999, "note": "1e400", "tone": 1e-400, "sustain": 80, "k": [1e999]})",
         with({{kSustain, 80.0f}, {kTone, 0.0f}})},
        {"nested as deeply as accepted", nest(15), with({{kTrim, 80.0f}})},
        {"as long as accepted", sized(128 * 1024), with({{kTrim, 80.0f}})},
        {"as much besides the effect's own as is kept", extra + ",\"k\":\"123456789\"}",
         with({{kSustain, 90.0f}})},
        {"a byte more besides the effect's own", extra + ",\"k\":\"1234567890\"}", kCurrent, "besides"},
        {"nested a level too deeply", nest(16), kCurrent, "nests deeper"},
        {"nested far too deeply", "{\"a\":" + std::string(60000, '['), kCurrent, "nests deeper"},
        {"a byte too long", sized(128 * 1024 + 1), kCurrent, "bytes"},
        {"empty", "", kCurrent, "not valid JSON"},
        {"not JSON", "trim = 80", kCurrent, "not valid JSON"},
        {"trailing garbage", "{\"trim\": 80} {}", kCurrent, "not valid JSON"},
        {"comment", "{\"trim\": 80 /* why */}", kCurrent, "not valid JSON"},
        {"array", "[{\"trim\": 80}]", kCurrent, "array"},
        {"number", "42", kCurrent, "single JSON value"},
        {"text", "\"trim\"", kCurrent, "single JSON value"},
        {"null", "null", kCurrent, "single JSON value"},
        {"repeated key", "{\"trim\": 80, \"trim\": 90}", kCurrent, "more than once"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto unit = makeUnit();
        setAll(*unit, kCurrent);
        unit->setFullState(StateDictionary{{"kept", 1.0}});
        const auto before = unit->fullState();
        std::vector<AUParameterAddress> heard, changed;
        unit->parameterTree()->tokenByAddingParameterObserver(
            [&](AUParameterAddress address, AUValue) { heard.push_back(address); });
        NSErrorOrSuccess error;
        if (const auto* text = std::get_if<std::string>(&c.input))
            error = unit->setFullStateText(*text);
        else
            unit->setFullState(std::get<0>(c.input));
        using Bits = std::array<std::uint32_t, kParameterCount>; // tells -0 from 0
        EXPECT_EQ(std::bit_cast<Bits>(values(*unit)), std::bit_cast<Bits>(c.expected));
        for (std::size_t i = 0; i < kParameterCount; ++i)
            if (c.expected[i] != kCurrent[i]) changed.push_back(i);
        EXPECT_EQ(heard, changed);
        if (c.mentions) {
            ASSERT_TRUE(error);
            EXPECT_EQ(error->domain + " " + std::to_string(error->code), "NSOSStatusErrorDomain -10851");
            EXPECT_NE(error->localizedDescription.find(c.mentions), std::string::npos)
                << error->localizedDescription;
            EXPECT_EQ(unit->fullState(), before);
            continue;
        }
        ASSERT_FALSE(error) << error->localizedDescription;
        EXPECT_FALSE(unit->fullState()->contains("kept"));
        const auto text = unit->fullStateText();
        EXPECT_TRUE(text.starts_with("{\"thraskVellVersion\":\"1.0.0\",\"trim\":")) << text.substr(0, 60);
        const auto restored = makeUnit();
        ASSERT_FALSE(restored->setFullStateText(text));
        EXPECT_EQ(restored->fullState(), unit->fullState());
        EXPECT_EQ(std::bit_cast<Bits>(values(*restored)), std::bit_cast<Bits>(c.expected)) << text;
    }
}

} // namespace
} // namespace thraskvell
