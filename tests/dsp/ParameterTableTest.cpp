#include "dsp/ParameterSpec.h"

#include <gtest/gtest.h>

#include <string_view>
#include <tuple>

namespace thraskvell {
namespace {

// Hosts store addresses and identifiers with sessions and automation: this table must never change.
// Lookups are exact.
TEST(ParameterSpec, GoldenTable) {
    const std::tuple<std::string_view, std::string_view, float> golden[] = {
        {"trim", "Trim", 50},           {"gate", "Gate", 0},
        {"volume", "Volume", 50},       {"tone", "Tone", 50},
        {"sustain", "Sustain", 50},     {"blend", "Blend", 50},
        {"dryMode", "Drymode", 0},      {"bassBoost", "Bassboost", 0},
        {"asymmetry", "Asymmetry", 0},  {"dynamicsEnable", "Dynamicsenable", 0},
        {"threshold", "Threshold", 50}, {"ratio", "Ratio", 50}};
    ASSERT_EQ(allParameters().size(), std::size(golden));
    for (std::size_t i = 0; i < std::size(golden); ++i) {
        const ParameterSpec& p = allParameters()[i];
        const auto [identifier, name, value] = golden[i];
        EXPECT_TRUE(p.identifier == identifier && p.address == i) << i;
        EXPECT_TRUE(p.name == name && wordCapitalised(p.identifier) == name);
        EXPECT_TRUE(p.defaultValue == value && defaultValue(p.identifier) == p.defaultValue);
        EXPECT_TRUE(p.minValue == 0.0f && p.maxValue == 100.0f && p.units == 0u && p.flags == 0xC0000000u);
        EXPECT_FALSE(p.unitName || p.valueStrings || p.dependentParameters);
        EXPECT_TRUE(findParameter(p.identifier) == &p && findParameter(p.address) == &p);
    }
    EXPECT_TRUE(kDynamicsEnable == 9u && kRatio == 11u && findParameter(std::uint64_t{12}) == nullptr);
    for (const char* stranger : {"Trim", "TRIM", "drymode", "trim ", ""})
        EXPECT_FALSE(findParameter(std::string_view(stranger)) || defaultValue(stranger)) << stranger;
    EXPECT_EQ(wordCapitalised("dry mode"), "Dry Mode");
}

} // namespace
} // namespace thraskvell
