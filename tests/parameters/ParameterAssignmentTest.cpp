#include "parameters/ParameterAssignment.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <utility>

namespace thraskvell {
namespace {

TEST(ParameterAssignment, AcceptsOnlyAKnownIdentifierWithAFiniteValueInRange) {
    const std::pair<const char*, float> accepted[] = {{"sustain=80", 80.0f},
                                                      {"dynamicsEnable=0", 0.0f},
                                                      {"volume=100", 100.0f},
                                                      {"gate=0.25", 0.25f},
                                                      {"tone=1e1", 10.0f}};
    for (const auto& [text, value] : accepted) {
        std::string error;
        const auto parsed = parseParameterAssignment(text, error);
        ASSERT_TRUE(parsed) << text << ": " << error;
        EXPECT_TRUE(std::string(text).starts_with(parsed->identifier + "=")) << text;
        EXPECT_EQ(parsed->value, value) << text;
    }
    // Each refusal quotes what is wrong (or names the range).
    const std::pair<const char*, const char*> refused[] = {{"Volume=10", "'Volume'"},
                                                           {"fuzz=3", "'fuzz'"},
                                                           {"=5", "''"},
                                                           {"volume", "'volume'"},
                                                           {"", "''"},
                                                           {"volume=", "''"},
                                                           {"volume=loud", "'loud'"},
                                                           {"volume=12abc", "'12abc'"},
                                                           {"volume=12 ", "'12 '"},
                                                           {"volume= 12", "' 12'"},
                                                           {"volume=5=6", "'5=6'"},
                                                           {"volume=nan", "'nan'"},
                                                           {"volume=inf", "'inf'"},
                                                           {"volume=1e40", "'1e40'"},
                                                           {"volume=100.01", "0 to 100"},
                                                           {"gate=-1", "0 to 100"}};
    for (const auto& [text, quoted] : refused) {
        std::string error;
        EXPECT_FALSE(parseParameterAssignment(text, error)) << text;
        EXPECT_NE(error.find(quoted), std::string::npos) << text << ": " << error;
    }
}

// The editor's snapshot tool shares the parser and refuses what it refuses with status 2. (Font
// caches live as long as the process, so a sanitizer build must not count them as leaks.)
TEST(ParameterAssignment, TheSnapshotToolRefusesABadAssignmentWithStatusTwo) {
    std::string dir = (std::filesystem::temp_directory_path() / "thraskvell-assignment-XXXXXX").string();
    ASSERT_NE(mkdtemp(dir.data()), nullptr);
    const auto png = std::filesystem::path(dir) / "editor.png";
    const auto status = [&](const std::string& set) {
        const std::string command = std::string("ASAN_OPTIONS=detect_leaks=0 timeout 20 '") +
                                    THRASKVELL_SNAPSHOT_BINARY + "' --set " + set + " '" + png.string() +
                                    "' 2>/dev/null";
        const int raw = std::system(command.c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    EXPECT_EQ(status("volume=101"), 2);
    EXPECT_FALSE(std::filesystem::exists(png));
    EXPECT_EQ(status("volume=100"), 0);
    EXPECT_TRUE(std::filesystem::exists(png));
    std::filesystem::remove_all(dir);
}

} // namespace
} // namespace thraskvell
