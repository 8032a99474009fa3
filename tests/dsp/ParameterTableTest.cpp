#include "dsp/ParameterSpec.h"

#include <gtest/gtest.h>

#include <string>

namespace thraskvell {
namespace {

// Hosts store addresses and identifiers with sessions and automation: this table must never change.
TEST(ParameterSpec, GoldenTable) {
    struct Row {
        const char* identifier;
        const char* name;
        float defaultValue;
    };
    const Row golden[] = {
        {"trim", "Trim", 50.0f},           {"gate", "Gate", 0.0f},
        {"volume", "Volume", 50.0f},       {"tone", "Tone", 50.0f},
        {"sustain", "Sustain", 50.0f},     {"blend", "Blend", 50.0f},
        {"dryMode", "Drymode", 0.0f},      {"bassBoost", "Bassboost", 0.0f},
        {"asymmetry", "Asymmetry", 0.0f},  {"dynamicsEnable", "Dynamicsenable", 0.0f},
        {"threshold", "Threshold", 50.0f}, {"ratio", "Ratio", 50.0f},
    };
    const auto all = allParameters();
    ASSERT_EQ(all.size(), 12u);
    for (std::size_t i = 0; i < all.size(); ++i) {
        const ParameterSpec& p = all[i];
        SCOPED_TRACE(golden[i].identifier);
        EXPECT_EQ(p.identifier, golden[i].identifier);
        EXPECT_EQ(p.name, golden[i].name);
        EXPECT_EQ(p.address, i);
        EXPECT_EQ(p.defaultValue, golden[i].defaultValue);
        EXPECT_EQ(p.minValue, 0.0f);
        EXPECT_EQ(p.maxValue, 100.0f);
        EXPECT_EQ(p.units, 0u);
        EXPECT_EQ(p.flags, 0xC0000000u);
        EXPECT_FALSE(p.unitName.has_value());
        EXPECT_FALSE(p.valueStrings.has_value());
        EXPECT_FALSE(p.dependentParameters.has_value());
    }
    EXPECT_EQ(kDynamicsEnable, 9u);
    EXPECT_EQ(kRatio, 11u);
}

TEST(ParameterSpec, LookupsAreExactAndCaseSensitive) {
    struct Case {
        const char* text;
        bool found;
    };
    const Case cases[] = {{"trim", true},     {"Trim", false},  {"TRIM", false}, {"dryMode", true},
                          {"drymode", false}, {"trim ", false}, {"", false},     {"ratio", true}};
    for (const Case& c : cases) {
        const ParameterSpec* p = findParameter(std::string_view(c.text));
        EXPECT_EQ(p != nullptr, c.found) << c.text;
        if (p) {
            EXPECT_EQ(p->identifier, c.text);
        }
        EXPECT_EQ(defaultValue(c.text).has_value(), c.found) << c.text;
    }
    EXPECT_EQ(findParameter(std::uint64_t{4})->identifier, "sustain");
    EXPECT_EQ(findParameter(std::uint64_t{12}), nullptr);
    EXPECT_EQ(*defaultValue("gate"), 0.0f);
}

TEST(ParameterSpec, WordCapitalisation) {
    EXPECT_EQ(wordCapitalised("dynamicsEnable"), "Dynamicsenable");
    EXPECT_EQ(wordCapitalised("dry mode"), "Dry Mode");
    EXPECT_EQ(wordCapitalised(""), "");
}

} // namespace
} // namespace thraskvell
