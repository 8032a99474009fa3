#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>

namespace {

namespace fs = std::filesystem;

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

// Refusals and failures leave a good PNG as it was and nothing beside it; a render replaces it whole.
TEST(Snapshot, WritesOnlyWhatItCanRenderAndOnlyWhole) {
    std::string pattern = (fs::temp_directory_path() / "thraskvell-snapshot-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern, png = dir / "good.png";
    const struct {
        const char* prefix; // a file size limit far below any PNG makes the write fail
        const char* options;
        int status;
    } cases[] = {
        {"", "--scale nan", 2},  {"", "--scale inf", 2},  {"", "--scale 0", 2},
        {"", "--scale 4.5", 2},  {"", "--width nan", 2},  {"", "--width 4097", 2},
        {"", "--height inf", 2}, {"", "--height 749", 2}, {"trap '' XFSZ; ulimit -f 4;", "", 1},
        {"", "--scale 0.5", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.prefix) + c.options);
        std::ofstream(png) << "a good snapshot";
        const std::string command = std::string("ASAN_OPTIONS=detect_leaks=0 timeout 30 sh -c \"") +
                                    c.prefix + " exec '" + THRASKVELL_SNAPSHOT_BINARY + "' " + c.options +
                                    " '" + png.string() + "'\" 2>/dev/null";
        const int raw = std::system(command.c_str());
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, c.status);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
        const std::string bytes = fileBytes(png);
        if (c.status != 0) EXPECT_EQ(bytes, "a good snapshot");
        // Otherwise a PNG of 550 x 750 points at half a pixel per point: IHDR's big-endian size.
        else
            EXPECT_EQ(bytes.substr(1, 3) + bytes.substr(16, 8), std::string("PNG\0\0\1\x13\0\0\1\x77", 11));
    }
    fs::remove_all(dir);
}

} // namespace
