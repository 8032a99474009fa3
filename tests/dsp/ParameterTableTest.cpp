#include "dsp/ParameterSpec.h"

#include <gtest/gtest.h>

namespace thraskvell {
namespace {

// Hosts store addresses and identifiers with sessions and automation: this table must never change.
TEST(ParameterSpec, GoldenTable) {
    const struct {
        const char *identifier, *name;
        float defaultValue;
    } golden[] = {{"trim", "Trim", 50},           {"gate", "Gate", 0},
                  {"volume", "Volume", 50},       {"tone", "Tone", 50},
                  {"sustain", "Sustain", 50},     {"blend", "Blend", 50},
                  {"dryMode", "Drymode", 0},      {"bassBoost", "Bassboost", 0},
                  {"asymmetry", "Asymmetry", 0},  {"dynamicsEnable", "Dynamicsenable", 0},
                  {"threshold", "Threshold", 50}, {"ratio", "Ratio", 50}};
    ASSERT_EQ(allParameters().size(), std::size(golden));
    for (std::size_t i = 0; i < std::size(golden); ++i) {
        const ParameterSpec& p = allParameters()[i];
        EXPECT_EQ(p.identifier, golden[i].identifier);
        EXPECT_EQ(p.name, golden[i].name);
        EXPECT_EQ(wordCapitalised(p.identifier), golden[i].name);
        EXPECT_EQ(p.address, i);
        EXPECT_EQ(p.defaultValue, golden[i].defaultValue);
        EXPECT_TRUE(p.minValue == 0.0f && p.maxValue == 100.0f && p.units == 0u && p.flags == 0xC0000000u);
        EXPECT_FALSE(p.unitName || p.valueStrings || p.dependentParameters);
        EXPECT_EQ(findParameter(p.identifier), &p);
        EXPECT_EQ(findParameter(p.address), &p);
        EXPECT_EQ(defaultValue(p.identifier), p.defaultValue);
    }
    EXPECT_EQ(kDynamicsEnable, 9u);
    EXPECT_EQ(kRatio, 11u);
}

TEST(ParameterSpec, LookupsAreExact) {
    for (const char* stranger : {"Trim", "TRIM", "drymode", "trim ", ""})
        EXPECT_FALSE(findParameter(std::string_view(stranger)) || defaultValue(stranger)) << stranger;
    EXPECT_EQ(findParameter(std::uint64_t{12}), nullptr);
    EXPECT_EQ(wordCapitalised("dry mode"), "Dry Mode");
}

} // namespace
} // namespace thraskvell
