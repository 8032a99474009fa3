#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <sys/wait.h>
#include <tuple>

namespace {

namespace fs = std::filesystem;

// Refusals (a parameter out of range too: the tool shares the renderer's parser) and failures leave a good
// PNG as it was and nothing beside it; a render replaces it whole.
TEST(Snapshot, WritesOnlyWhatItCanRenderAndOnlyWhole) {
    std::string pattern = (fs::temp_directory_path() / "thraskvell-snapshot-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    const fs::path dir = pattern, png = dir / "good.png";
    using C = std::tuple<const char*, const char*, int>; // before the tool, its options, its exit status
    for (const auto& [prefix, options, status] : // a file size limit far below any PNG makes the write fail
         {C{"", "--scale nan", 2}, C{"", "--scale inf", 2}, C{"", "--scale 0", 2}, C{"", "--scale 4.5", 2},
          C{"", "--width nan", 2}, C{"", "--width 4097", 2}, C{"", "--height inf", 2},
          C{"", "--height 749", 2}, C{"", "--set volume=101", 2}, C{"trap '' XFSZ; ulimit -f 4;", "", 1},
          C{"", "--scale 0.5 --set volume=100", 0}}) {
        SCOPED_TRACE(std::string(prefix) + options);
        std::ofstream(png) << "a good snapshot";
        const std::string command = std::string("ASAN_OPTIONS=detect_leaks=0 timeout 30 sh -c \"") + prefix +
                                    " exec '" + THRASKVELL_SNAPSHOT_BINARY + "' " + options + " '" +
                                    png.string() + "'\" 2>/dev/null";
        const int raw = std::system(command.c_str());
        EXPECT_EQ(WIFEXITED(raw) ? WEXITSTATUS(raw) : -1, status);
        EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
        std::ifstream in(png, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        // A failure leaves the good file; a render is a PNG of 550 x 750 points at half a pixel per point
        // (IHDR's big-endian size).
        EXPECT_EQ(status != 0 ? bytes : bytes.substr(1, 3) + bytes.substr(16, 8),
                  status != 0 ? "a good snapshot" : std::string("PNG\0\0\1\x13\0\0\1\x77", 11));
    }
    fs::remove_all(dir);
}

} // namespace
