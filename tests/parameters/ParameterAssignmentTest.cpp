#include "parameters/ParameterAssignment.h"

#include <gtest/gtest.h>

#include <sstream>

namespace thraskvell {
namespace {

// Accepted with its value, or refused with a one-line reason quoting what is wrong.
TEST(ParameterAssignment, AcceptsOnlyAKnownIdentifierWithAFiniteValueInRange) {
    const std::pair<const char*, const char*> cases[] = {
        {"dynamicsEnable=0", "dynamicsEnable = 0"},
        {"volume=100", "volume = 100"},
        {"gate=0.25", "gate = 0.25"},
        {"tone=1e1", "tone = 10"},
        {"Volume=10", "unknown parameter 'Volume'"},
        {"fuzz=3", "unknown parameter 'fuzz'"},
        {"volume", "expected id=value, got 'volume'"},
        {"volume=loud", "'loud' is not a number (in volume=loud)"},
        {"volume=12abc", "'12abc' is not a number (in volume=12abc)"},
        {"volume=5=6", "'5=6' is not a number (in volume=5=6)"},
        {"volume=nan", "'nan' is not a number (in volume=nan)"},
        {"volume=1e40", "'1e40' is out of range: volume ranges from 0 to 100"},
        {"volume=100.01", "'100.01' is out of range: volume ranges from 0 to 100"},
        {"gate=-1", "'-1' is out of range: gate ranges from 0 to 100"},
    };
    for (const auto& [text, expected] : cases) {
        std::string error;
        const auto parsed = parseParameterAssignment(text, error);
        std::ostringstream outcome;
        outcome.precision(9);
        if (parsed) outcome << parsed->identifier << " = " << parsed->value;
        EXPECT_EQ(parsed ? outcome.str() : error, expected) << text;
    }
}

} // namespace
} // namespace thraskvell
