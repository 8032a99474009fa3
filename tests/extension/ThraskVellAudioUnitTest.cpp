#include "extension/ThraskVellAudioUnit.h"
#include "extension/SavedState.h"
#include "parameters/ThraskVellParameterTree.h"

#include <gtest/gtest.h>

#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>

namespace thraskvell {
namespace {

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

// Each case starts from a new unit allocated once at the format hosts find it in, then deallocated.
TEST(ThraskVellAudioUnit, AllocationLogsOneLineAndPreparesTheBridgeFromTheOutputFormat) {
    struct Case {
        const char* what;
        double inRate, outRate;
        AVAudioChannelCount inChannels, outChannels;
        AUAudioFrameCount maxFrames;
        NSInteger error; // 0: none; the bridge then keeps its first preparation
        const char* line;
    };
    const Case cases[] = {
        {"rates differ", 44100, 48000, 1, 1, 1024, 0,
         "ThraskVell: in=1 ch @ 44100 Hz, out=1 ch @ 48000 Hz\n"},
        {"fractional rate", 96000.25, 96000.25, 2, 2, 64, 0,
         "ThraskVell: in=2 ch @ 96000 Hz, out=2 ch @ 96000 Hz\n"},
        {"stereo in, mono out", 48000, 48000, 2, 1, 2048, kAudioUnitErr_FormatNotSupported, ""},
        {"too many frames for the bridge", 48000, 48000, 1, 1, 1u << 30, kAudioUnitErr_FailedInitialization,
         "ThraskVell: in=1 ch @ 48000 Hz, out=1 ch @ 48000 Hz\n"},
    };
    for (const auto& c : cases) {
        const auto unit = makeUnit();
        ::testing::internal::CaptureStderr();
        ASSERT_FALSE(unit->allocateRenderResources()) << c.what;
        EXPECT_EQ(::testing::internal::GetCapturedStderr(),
                  "ThraskVell: in=1 ch @ 44100 Hz, out=1 ch @ 44100 Hz\n");
        unit->deallocateRenderResources();
        for (auto* bus : {(*unit->inputBusses())[0], (*unit->outputBusses())[0]})
            EXPECT_EQ(bus->setFormat(AVAudioFormat::makeStandard(48000, 3))->code,
                      kAudioUnitErr_FormatNotSupported);
        ASSERT_FALSE(unit->inputBus().setFormat(AVAudioFormat::makeStandard(c.inRate, c.inChannels)))
            << c.what;
        ASSERT_FALSE(unit->outputBus().setFormat(AVAudioFormat::makeStandard(c.outRate, c.outChannels)))
            << c.what;
        ASSERT_FALSE(unit->setMaximumFramesToRender(c.maxFrames)) << c.what;

        ::testing::internal::CaptureStderr();
        const auto error = unit->allocateRenderResources();
        EXPECT_EQ(::testing::internal::GetCapturedStderr(), c.line) << c.what;
        EXPECT_EQ(error ? error->code : 0, c.error) << c.what;
        EXPECT_EQ(unit->renderResourcesAllocated(), c.error == 0) << c.what;
        const auto& kernel = unit->dspBridge().kernel();
        EXPECT_EQ(unit->dspBridge().maxFrames(), c.error ? 512 : int(c.maxFrames)) << c.what;
        EXPECT_EQ(kernel.sampleRate, c.error ? 44100.0f : float(c.outRate)) << c.what;
        EXPECT_EQ(kernel.channelStates.size(), c.error ? 1u : c.outChannels) << c.what;
    }
}

TEST(ThraskVellAudioUnit, TreeReachesTheBridgeUnclampedAndHoldsTheUnitOnlyWeakly) {
    auto unit = makeUnit();
    const auto tree = unit->parameterTree();
    tree->valueForKey("volume")->setValue(150.0f);
    tree->valueForKey("ratio")->setValue(-4.0f);
    EXPECT_EQ(unit->dspBridge().getParameter("volume"), 150.0f);
    EXPECT_EQ(unit->dspBridge().getParameter("ratio"), -4.0f);
    unit->dspBridge().setParameter("tone", 12.5f);
    EXPECT_EQ(tree->valueForKey("tone")->value(), 12.5f) << "reads ask the bridge";

    // A tree from outside is stored as it is, tied to nothing.
    const auto foreign = makeThraskVellParameterTree();
    unit->setParameterTree(foreign);
    foreign->valueForKey("gate")->setValue(70.0f);
    EXPECT_EQ(unit->dspBridge().getParameter("gate"), 0.0f);

    const std::weak_ptr<ThraskVellAudioUnit> watch = unit;
    unit.reset();
    EXPECT_TRUE(watch.expired()) << "the tree's blocks must not keep the unit alive";
    tree->valueForKey("volume")->setValue(80.0f);
    EXPECT_EQ(tree->valueForKey("volume")->value(), 0.0f);
}

TEST(SavedState, HoldsTheBaseEntriesTheVersionAndEveryParameterOverBaseEntriesOfTheSameKey) {
    const auto unit = makeUnit();
    unit->setFullState(
        StateDictionary{{"trim", std::string("from the base")}, {"thraskVellVersion", 0.5}, {"kept", 1.0}});
    StateDictionary expected{{"type", double(kThraskVellComponentDescription.componentType)},
                             {"subtype", double(kThraskVellComponentDescription.componentSubType)},
                             {"manufacturer", double(kThraskVellComponentDescription.componentManufacturer)},
                             {"thraskVellVersion", std::string("1.0.0")},
                             {"kept", 1.0}};
    for (const auto& definition : allParameters())
        expected[std::string(definition.identifier)] = double(definition.defaultValue);
    EXPECT_EQ(unit->fullState(), expected);
}

TEST(SavedState, SetterAppliesUsableEntriesInAddressOrderAndSkipsTheRestOneByOne) {
    const double inf = std::numeric_limits<double>::infinity();
    const struct {
        const char* what;
        std::optional<StateDictionary> state;
        Values expected;
    } cases[] = {
        {"applied unclamped, rounded to the nearest float",
         StateDictionary{{"trim", 80.0}, {"volume", 150.0}, {"ratio", -3.0}, {"tone", 0.1}},
         with({{kTrim, 80.0f}, {kVolume, 150.0f}, {kRatio, -3.0f}, {kTone, 0.1f}})},
        {"float extremes applied", StateDictionary{{"trim", double(FLT_MAX)}, {"gate", double(-FLT_MAX)}},
         with({{kTrim, FLT_MAX}, {kGate, -FLT_MAX}})},
        {"unusable entries skipped one by one",
         StateDictionary{{"gate", std::string("30")},
                         {"trim", std::nan("")},
                         {"volume", inf},
                         {"tone", -inf},
                         {"sustain", 1e300},
                         {"threshold", -3.5e38},
                         {"Ratio", 1.0},
                         {"thraskVellVersion", std::string("9.9.9")},
                         {"blend", 77.0}},
         with({{kBlend, 77.0f}})},
        {"none", std::nullopt, kCurrent},
    };
    for (const auto& c : cases) {
        const auto unit = makeUnit();
        setAll(*unit, kCurrent);
        std::vector<AUParameterAddress> heard;
        unit->parameterTree()->tokenByAddingParameterObserver(
            [&](AUParameterAddress address, AUValue) { heard.push_back(address); });
        unit->setFullState(c.state);
        EXPECT_EQ(values(*unit), c.expected) << c.what;
        std::vector<AUParameterAddress> changed;
        for (std::size_t i = 0; i < kParameterCount; ++i)
            if (c.expected[i] != kCurrent[i]) changed.push_back(i);
        EXPECT_EQ(heard, changed) << c.what << ": every observer hears each applied entry, in address order";
    }
    const auto unit = makeUnit();
    unit->setParameterTree(nullptr);
    unit->setFullState(StateDictionary{{"trim", 1.0}});
    EXPECT_EQ(unit->dspBridge().getParameter("trim"), 50.0f) << "without a tree nothing applies";
    EXPECT_FALSE(unit->fullState()->contains("gate"));
}

// Finite floats that stress a text round trip: extremes, subnormals, negative zero, random bits.
TEST(SavedState, EveryFiniteValueRestoresBitExactlyThroughText) {
    const float tiny = std::numeric_limits<float>::denorm_min();
    std::vector<float> floats{0.0f,        -0.0f,       FLT_MAX,
                              -FLT_MAX,    FLT_MIN,     -FLT_MIN,
                              tiny,        -tiny,       std::nextafter(FLT_MIN, 0.0f),
                              0.1f,        1.0f / 3.0f, std::nextafter(100.0f, 0.0f),
                              16777217.0f, 1e-30f};
    std::mt19937 rng(1234);
    while (floats.size() < 1200)
        if (const float f = std::bit_cast<float>(static_cast<std::uint32_t>(rng())); std::isfinite(f))
            floats.push_back(f);
    const auto source = makeUnit();
    const auto target = makeUnit();
    for (std::size_t start = 0; start < floats.size(); start += kParameterCount) {
        Values chosen{};
        for (std::size_t i = 0; i < kParameterCount; ++i)
            chosen[i] = floats[(start + i * 7) % floats.size()];
        setAll(*source, chosen);
        const auto text = source->fullStateText();
        ASSERT_FALSE(target->setFullStateText(text)) << text;
        const auto restored = values(*target);
        for (std::size_t i = 0; i < kParameterCount; ++i)
            ASSERT_EQ(std::bit_cast<std::uint32_t>(restored[i]), std::bit_cast<std::uint32_t>(chosen[i]))
                << kParameterSpecs[i].identifier << " " << chosen[i] << " in " << text;
    }
    // Version first, then the parameters in address order.
    const auto text = source->fullStateText();
    EXPECT_LT(text.find("{\"thraskVellVersion\":\"1.0.0\","), text.find("\"trim\":"));
    EXPECT_LT(text.find("\"trim\""), text.find("\"ratio\""));
}

TEST(SavedState, TextIsReadWholeOrRefusedWithoutChangingAnything) {
    const auto nest = [](int levels) {
        return "{\"trim\": 80, \"a\":" + std::string(levels, '[') + std::string(levels, ']') + "}";
    };
    const struct {
        const char* what;
        std::string text;
        const char* mentions; // nullptr: accepted
        Values expected;
    } cases[] = {
        {"entries that are neither numbers nor texts dropped",
         R"({"trim": true, "gate": null, "volume": [1, 2], "tone": {"v": 3}, "sustain": 80, "blend": "9", "threshold": -2.5e1})",
         nullptr, with({{kSustain, 80.0f}, {kThreshold, -25.0f}})},
        {"nested just within the limit", nest(kMaxStateNesting - 1), nullptr, with({{kTrim, 80.0f}})},
        {"nested too deeply", nest(kMaxStateNesting), "nests deeper", kCurrent},
        {"nested far too deeply", "{\"a\":" + std::string(60000, '['), "nests deeper", kCurrent},
        {"huge", "{\"trim\": 80" + std::string(kMaxStateTextBytes, ' ') + "}", "bytes", kCurrent},
        {"empty", "", "not valid JSON", kCurrent},
        {"not JSON", "trim = 80", "not valid JSON", kCurrent},
        {"array", "[{\"trim\": 80}]", "array", kCurrent},
        {"number", "42", "single JSON value", kCurrent},
        {"text", "\"trim\"", "single JSON value", kCurrent},
        {"null", "null", "single JSON value", kCurrent},
        {"trailing garbage", "{\"trim\": 80} {}", "not valid JSON", kCurrent},
        {"comment", "{\"trim\": 80 /* why */}", "not valid JSON", kCurrent},
        {"repeated key", "{\"trim\": 80, \"trim\": 90}", "more than once", kCurrent},
        {"numbers beyond double range dropped",
         R"({"trim": 1e400, "gate": -12.5e99999, "note": "1e400", "tone": 1e-400, "sustain": 80, "k": [1e999]})",
         nullptr, with({{kSustain, 80.0f}, {kTone, 0.0f}})},
        {"too much besides the effect's own",
         "{\"trim\": 80, \"extra\": \"" + std::string(kMaxStateExtraBytes, 'x') + "\"}", "besides", kCurrent},
    };
    for (const auto& c : cases) {
        const auto unit = makeUnit();
        setAll(*unit, kCurrent);
        unit->setFullState(StateDictionary{{"kept", 1.0}});
        const auto before = unit->fullState();
        const auto error = unit->setFullStateText(c.text);
        EXPECT_EQ(values(*unit), c.expected) << c.what;
        if (!c.mentions) {
            EXPECT_FALSE(error) << c.what << ": " << error->localizedDescription;
            continue;
        }
        ASSERT_TRUE(error) << c.what;
        EXPECT_EQ(error->domain, NSOSStatusErrorDomain) << c.what;
        EXPECT_EQ(error->code, kAudioUnitErr_InvalidPropertyValue) << c.what;
        EXPECT_NE(error->localizedDescription.find(c.mentions), std::string::npos)
            << c.what << ": " << error->localizedDescription;
        EXPECT_EQ(unit->fullState(), before) << c.what;
    }
}

// Kept entries are written back compactly, and a number may grow when written (0 becomes 0.0), so
// a text read near the limit must still read back once the unit has saved it.
TEST(SavedState, WhatTheUnitSavesItRestores) {
    const auto entries = [](int count) {
        std::string text = "{\"sustain\": 90";
        for (int i = 0; i < count; ++i)
            text += ",\"k" + std::to_string(100000 + i) + "\":0";
        return text + "}";
    };
    const int fitting = int(kMaxStateExtraBytes / std::string_view("\"k100000\":0.0,").size());
    const auto unit = makeUnit();
    ASSERT_FALSE(unit->setFullStateText(entries(fitting)));
    EXPECT_TRUE(unit->setFullStateText(entries(fitting + 1))) << "the limit lies between the two";
    const auto saved = unit->fullStateText();
    const auto restored = makeUnit();
    const auto error = restored->setFullStateText(saved);
    ASSERT_FALSE(error) << error->localizedDescription;
    EXPECT_EQ(restored->fullState(), unit->fullState());
    EXPECT_EQ(values(*restored)[kSustain], 90.0f);
}

} // namespace
} // namespace thraskvell
