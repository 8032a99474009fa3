#include "parameters/ParameterAssignment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <sys/wait.h>

namespace thraskvell {
namespace {

// Accepted with its value, or refused with an error quoting what is wrong (or naming the range).
TEST(ParameterAssignment, AcceptsOnlyAKnownIdentifierWithAFiniteValueInRange) {
    const struct {
        const char* text;
        float value;
        const char* quoted = nullptr;
    } cases[] = {{"dynamicsEnable=0", 0},
                 {"volume=100", 100},
                 {"gate=0.25", 0.25f},
                 {"tone=1e1", 10},
                 {"Volume=10", 0, "'Volume'"},
                 {"fuzz=3", 0, "'fuzz'"},
                 {"volume", 0, "'volume'"},
                 {"volume=loud", 0, "'loud'"},
                 {"volume=12abc", 0, "'12abc'"},
                 {"volume=5=6", 0, "'5=6'"},
                 {"volume=nan", 0, "'nan'"},
                 {"volume=1e40", 0, "'1e40'"},
                 {"volume=100.01", 0, "0 to 100"},
                 {"gate=-1", 0, "0 to 100"}};
    for (const auto& c : cases) {
        std::string error;
        const auto parsed = parseParameterAssignment(c.text, error);
        ASSERT_EQ(!parsed, c.quoted != nullptr) << c.text << ": " << error;
        EXPECT_NE(error.find(c.quoted ? c.quoted : ""), std::string::npos) << c.text << ": " << error;
        EXPECT_TRUE(!parsed ||
                    (std::string(c.text).starts_with(parsed->identifier + "=") && parsed->value == c.value))
            << c.text;
    }
}

// The editor's snapshot tool shares the parser and refuses what it refuses with status 2. (Font
// caches live as long as the process, so a sanitizer build must not count them as leaks.)
TEST(ParameterAssignment, TheSnapshotToolRefusesABadAssignmentWithStatusTwo) {
    std::string dir = (std::filesystem::temp_directory_path() / "thraskvell-assignment-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    const auto png = std::filesystem::path(dir) / "editor.png";
    const std::pair<std::string, int> runs[] = {{"volume=101", 2}, {"volume=100", 0}};
    for (const auto& [set, status] : runs) {
        const int raw =
            std::system(("ASAN_OPTIONS=detect_leaks=0 timeout 20 '" THRASKVELL_SNAPSHOT_BINARY "' --set " +
                         set + " '" + png.string() + "' 2>/dev/null")
                            .c_str());
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, status) << set;
        EXPECT_EQ(std::filesystem::exists(png), status == 0) << set;
    }
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace thraskvell
