#include "extension/SavedState.h"
#include "extension/ThraskVellAudioUnit.h"

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include <bit>
#include <cfloat>
#include <cmath>
#include <limits>
#include <random>

namespace thraskvell {
namespace {

std::shared_ptr<ThraskVellAudioUnit> makeUnit() {
    auto made = ThraskVellAudioUnit::create();
    EXPECT_TRUE(made);
    return made ? made.value() : nullptr;
}

std::array<float, kParameterCount> values(const ThraskVellAudioUnit& unit) {
    std::array<float, kParameterCount> result{};
    for (std::size_t i = 0; i < kParameterCount; ++i)
        result[i] = unit.parameterTree()->allParameters()[i]->value();
    return result;
}

void setAll(ThraskVellAudioUnit& unit, const std::array<float, kParameterCount>& v) {
    for (std::size_t i = 0; i < kParameterCount; ++i)
        unit.parameterTree()->allParameters()[i]->setValue(v[i]);
}

// Distinct non-default values, so "unchanged" is told apart from "reset to default".
constexpr std::array<float, kParameterCount> kCurrent{11, 12, 13, 14, 15, 16, 17, 18, 19, 20, 21, 22};

TEST(SavedState, SavedRightAfterCreationHoldsVersionDefaultsAndBaseKeys) {
    const auto unit = makeUnit();
    const auto state = unit->fullState();
    ASSERT_TRUE(state);
    StateDictionary expected{
        {"type", double(kThraskVellComponentDescription.componentType)},
        {"subtype", double(kThraskVellComponentDescription.componentSubType)},
        {"manufacturer", double(kThraskVellComponentDescription.componentManufacturer)},
        {"thraskVellVersion", std::string("1.0.0")},
    };
    for (const char* fifty : {"trim", "volume", "tone", "sustain", "blend", "threshold", "ratio"})
        expected[fifty] = 50.0;
    for (const char* zero : {"gate", "dryMode", "bassBoost", "asymmetry", "dynamicsEnable"})
        expected[zero] = 0.0;
    EXPECT_EQ(*state, expected);
}

TEST(SavedState, SetterAppliesUsableEntriesAndSkipsTheRestOneByOne) {
    const double nan = std::numeric_limits<double>::quiet_NaN();
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        const char* what;
        std::optional<StateDictionary> state;
        std::array<float, kParameterCount> expected;
    };
    auto with = [](std::initializer_list<std::pair<std::size_t, float>> changes) {
        auto v = kCurrent;
        for (const auto& [index, value] : changes)
            v[index] = value;
        return v;
    };
    const Case cases[] = {
        {"trim only", StateDictionary{{"trim", 80.0}}, with({{kTrim, 80.0f}})},
        {"gate as text", StateDictionary{{"gate", std::string("30")}, {"tone", 5.0}}, with({{kTone, 5.0f}})},
        {"volume unclamped", StateDictionary{{"volume", 150.0}}, with({{kVolume, 150.0f}})},
        {"negative unclamped", StateDictionary{{"ratio", -3.0}}, with({{kRatio, -3.0f}})},
        {"empty", StateDictionary{}, kCurrent},
        {"none", std::nullopt, kCurrent},
        {"version and unknown keys only",
         StateDictionary{{"thraskVellVersion", std::string("9.9.9")}, {"Trim", 1.0}, {"other", 2.0}},
         kCurrent},
        {"any version text applies", StateDictionary{{"thraskVellVersion", 3.0}, {"blend", 1.0}},
         with({{kBlend, 1.0f}})},
        {"non-finite skipped",
         StateDictionary{{"trim", nan},
                         {"gate", inf},
                         {"volume", -inf},
                         {"tone", 1e300},
                         {"sustain", -1e39},
                         {"blend", 77.0}},
         with({{kBlend, 77.0f}})},
        {"float extremes applied", StateDictionary{{"trim", double(FLT_MAX)}, {"gate", double(-FLT_MAX)}},
         with({{kTrim, FLT_MAX}, {kGate, -FLT_MAX}})},
        {"double rounds to nearest float", StateDictionary{{"tone", 0.1}}, with({{kTone, 0.1f}})},
    };
    for (const auto& c : cases) {
        const auto unit = makeUnit();
        setAll(*unit, kCurrent);
        unit->setFullState(c.state);
        EXPECT_EQ(values(*unit), c.expected) << c.what;
        for (std::size_t i = 0; i < kParameterCount; ++i)
            EXPECT_EQ(unit->dspBridge().getParameter(kParameterSpecs[i].identifier), c.expected[i]) << c.what;
    }
}

TEST(SavedState, RestoreIsHeardByEveryObserver) {
    const auto unit = makeUnit();
    std::vector<std::pair<AUParameterAddress, AUValue>> heard;
    unit->parameterTree()->tokenByAddingParameterObserver(
        [&](AUParameterAddress address, AUValue value) { heard.emplace_back(address, value); });
    unit->setFullState(StateDictionary{{"ratio", 9.0}, {"trim", 8.0}});
    EXPECT_EQ(heard, (std::vector<std::pair<AUParameterAddress, AUValue>>{{kTrim, 8.0f}, {kRatio, 9.0f}}))
        << "address order, whatever the dictionary's order";
}

TEST(SavedState, UnitValuesOverwriteBaseEntriesOfTheSameKey) {
    const auto unit = makeUnit();
    unit->setFullState(StateDictionary{{"trim", std::string("from the base")}, {"thraskVellVersion", 0.5}});
    const auto state = unit->fullState();
    EXPECT_EQ(state->at("trim"), StateValue(50.0));
    EXPECT_EQ(state->at("thraskVellVersion"), StateValue(std::string("1.0.0")));
}

TEST(SavedState, WithoutATreeStateHoldsNoParametersAndChangesNothing) {
    const auto unit = makeUnit();
    unit->setParameterTree(nullptr);
    unit->setFullState(StateDictionary{{"trim", 1.0}});
    EXPECT_EQ(unit->dspBridge().getParameter("trim"), 50.0f);
    EXPECT_FALSE(unit->fullState()->contains("gate"));
}

// Finite floats that stress a text round trip: extremes, subnormals, negative zero, and random bits.
std::vector<float> hardFloats(unsigned seed, std::size_t randomCount) {
    std::vector<float> result{0.0f,
                              -0.0f,
                              FLT_MAX,
                              -FLT_MAX,
                              FLT_MIN,
                              -FLT_MIN,
                              std::numeric_limits<float>::denorm_min(),
                              -std::numeric_limits<float>::denorm_min(),
                              std::nextafter(FLT_MIN, 0.0f),
                              0.1f,
                              1.0f / 3.0f,
                              100.0f,
                              std::nextafter(100.0f, 0.0f),
                              16777217.0f,
                              1e-30f};
    std::mt19937 rng(seed);
    while (result.size() < randomCount) {
        const float candidate = std::bit_cast<float>(static_cast<std::uint32_t>(rng()));
        if (std::isfinite(candidate)) result.push_back(candidate);
    }
    return result;
}

TEST(SavedState, EveryFiniteValueRestoresBitExactlyThroughText) {
    const auto floats = hardFloats(1234, 1200);
    const auto source = makeUnit();
    const auto target = makeUnit();
    for (std::size_t start = 0; start < floats.size(); start += kParameterCount) {
        std::array<float, kParameterCount> chosen{};
        for (std::size_t i = 0; i < kParameterCount; ++i)
            chosen[i] = floats[(start + i * 7) % floats.size()];
        setAll(*source, chosen);
        const auto text = source->fullStateText();
        ASSERT_FALSE(target->setFullStateText(text)) << text;
        const auto restored = values(*target);
        for (std::size_t i = 0; i < kParameterCount; ++i)
            EXPECT_EQ(std::bit_cast<std::uint32_t>(restored[i]), std::bit_cast<std::uint32_t>(chosen[i]))
                << kParameterSpecs[i].identifier << " " << chosen[i] << " in " << text;
        // The dictionary path keeps them too.
        target->setFullState(source->fullState());
        EXPECT_EQ(values(*target), chosen);
    }
}

TEST(SavedState, TextIsAnObjectWithVersionAndOneNumberPerIdentifier) {
    const auto unit = makeUnit();
    unit->parameterTree()->valueForKey("sustain")->setValue(72.5f);
    const auto json = nlohmann::json::parse(unit->fullStateText());
    ASSERT_TRUE(json.is_object());
    EXPECT_EQ(json.at("thraskVellVersion"), "1.0.0");
    for (const auto& definition : kParameterSpecs) {
        ASSERT_TRUE(json.at(std::string(definition.identifier)).is_number()) << definition.identifier;
        EXPECT_EQ(json.at(std::string(definition.identifier)).get<float>(),
                  definition.identifier == "sustain" ? 72.5f : definition.defaultValue);
    }
    const auto text = unit->fullStateText();
    EXPECT_LT(text.find("thraskVellVersion"), text.find("\"trim\"")) << "version first";
    EXPECT_LT(text.find("\"trim\""), text.find("\"ratio\"")) << "then address order";
}

TEST(SavedState, TextEntriesThatAreNotNumbersOrTextsAreDropped) {
    const auto unit = makeUnit();
    setAll(*unit, kCurrent);
    ASSERT_FALSE(unit->setFullStateText(
        R"({"trim": true, "gate": null, "volume": [1, 2], "tone": {"value": 3}, "sustain": 80, "blend": "9",)"
        R"( "threshold": -2.5e1})"));
    auto expected = kCurrent;
    expected[kSustain] = 80.0f;
    expected[kThreshold] = -25.0f;
    EXPECT_EQ(values(*unit), expected);
}

TEST(SavedState, MalformedTextIsRefusedAndAppliesNothing) {
    const std::string deep =
        "{\"a\":" + std::string(kMaxStateNesting, '[') + std::string(kMaxStateNesting, ']') + "}";
    const std::string veryDeep = "{\"a\":" + std::string(60000, '[');
    const std::string huge = "{\"trim\": 80" + std::string(kMaxStateTextBytes, ' ') + "}";
    struct Case {
        const char* what;
        std::string text;
        const char* mentions;
    };
    const Case cases[] = {
        {"empty", "", "not valid JSON"},
        {"not JSON", "trim = 80", "not valid JSON"},
        {"array", "[{\"trim\": 80}]", "array"},
        {"number", "42", "single JSON value"},
        {"text", "\"trim\"", "single JSON value"},
        {"null", "null", "single JSON value"},
        {"truncated", "{\"trim\": 80, \"gate\": 1", "not valid JSON"},
        {"trailing garbage", "{\"trim\": 80} {}", "not valid JSON"},
        {"comment", "{\"trim\": 80 /* why */}", "not valid JSON"},
        {"single quotes", "{'trim': 80}", "not valid JSON"},
        {"invalid UTF-8", "{\"name\": \"\xff\xfe\", \"trim\": 80}", "not valid JSON"},
        {"repeated key", "{\"trim\": 80, \"trim\": 90}", "more than once"},
        {"nested too deeply", deep, "nests deeper"},
        {"nested far too deeply", veryDeep, "nests deeper"},
        {"huge", huge, "bytes"},
        {"NaN literal", "{\"trim\": NaN}", "not valid JSON"},
        {"number beyond double range", "{\"trim\": 1e400}", "overflow"},
    };
    for (const auto& c : cases) {
        const auto unit = makeUnit();
        setAll(*unit, kCurrent);
        unit->setFullState(StateDictionary{{"kept", 1.0}});
        const auto before = unit->fullState();
        const auto error = unit->setFullStateText(c.text);
        ASSERT_TRUE(error) << c.what;
        EXPECT_EQ(error->domain, NSOSStatusErrorDomain) << c.what;
        EXPECT_EQ(error->code, kAudioUnitErr_InvalidPropertyValue) << c.what;
        EXPECT_NE(error->localizedDescription.find(c.mentions), std::string::npos)
            << c.what << ": " << error->localizedDescription;
        EXPECT_EQ(unit->fullState(), before) << c.what;
    }
    // One level less than the limit is still an object whose nested entry is simply dropped.
    const std::string allowed = "{\"trim\": 1, \"a\":" + std::string(kMaxStateNesting - 1, '[') +
                                std::string(kMaxStateNesting - 1, ']') + "}";
    EXPECT_TRUE(stateFromText(allowed)) << allowed;
}

} // namespace
} // namespace thraskvell
