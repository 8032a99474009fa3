#include "parameters/ParameterAssignment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <sys/wait.h>

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

// The editor's snapshot tool shares the parser and refuses what it refuses with status 2. (Font
// caches live as long as the process, so a sanitizer build must not count them as leaks.)
TEST(ParameterAssignment, TheSnapshotToolRefusesABadAssignmentWithStatusTwo) {
    std::string dir = (std::filesystem::temp_directory_path() / "thraskvell-assignment-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    const auto png = std::filesystem::path(dir) / "editor.png";
    for (const auto& [set, status] : {std::pair("volume=101", 2), std::pair("volume=100", 0)}) {
        const int raw =
            std::system(("ASAN_OPTIONS=detect_leaks=0 timeout 20 '" THRASKVELL_SNAPSHOT_BINARY "' --set " +
                         std::string(set) + " '" + png.string() + "' 2>/dev/null")
                            .c_str());
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, status) << set;
        EXPECT_EQ(std::filesystem::exists(png), status == 0) << set;
    }
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace thraskvell
