#include "app/render/Renderer.h"
#include "extension/ThraskVellAudioUnit.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace thraskvell::render {
namespace {

namespace fs = std::filesystem;

class PresetRender : public ::testing::Test {
protected:
    void SetUp() override {
        dir_ = fs::temp_directory_path() / ("thraskvell-preset-" + std::to_string(::getpid()) + "-" +
                                            ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir_);
        fs::create_directories(dir_);
    }
    void TearDown() override { fs::remove_all(dir_); }

    int run(std::vector<std::string> args) {
        std::vector<const char*> argv{"thraskvell-render"};
        for (const auto& a : args)
            argv.push_back(a.c_str());
        out_.str({});
        err_.str({});
        return runRenderer(int(argv.size()), argv.data(), out_, err_, RunEnvironment{});
    }
    fs::path path(const std::string& name) const { return dir_ / name; }
    static std::string read(const fs::path& p) {
        std::ifstream file(p, std::ios::binary);
        return {std::istreambuf_iterator<char>(file), {}};
    }
    static void write(const fs::path& p, const std::string& text) {
        std::ofstream(p, std::ios::binary) << text;
    }

    fs::path dir_;
    std::ostringstream out_, err_;
};

TEST_F(PresetRender, APresetRendersExactlyAsTheSameSetOptions) {
    write(path("p.json"), R"({"thraskVellVersion": "1.0.0", "sustain": 90, "tone": 20, "asymmetry": 100})");
    ASSERT_EQ(run({"--demo", "0.5", path("preset.wav"), "--preset", path("p.json")}), 0) << err_.str();
    ASSERT_EQ(run({"--demo", "0.5", path("set.wav"), "--set", "sustain=90", "--set", "tone=20", "--set",
                   "asymmetry=100"}),
              0)
        << err_.str();
    ASSERT_EQ(run({"--demo", "0.5", path("plain.wav")}), 0) << err_.str();
    EXPECT_EQ(read(path("preset.wav")), read(path("set.wav")));
    EXPECT_NE(read(path("preset.wav")), read(path("plain.wav"))) << "the preset changed the sound";
}

TEST_F(PresetRender, SavedPresetHoldsThePresetWithSetOptionsOnTop) {
    write(path("in.json"), R"({"trim": 70, "gate": 12.5, "volume": 150})");
    ASSERT_EQ(run({"--demo", "0.1", path("out.wav"), "--preset", path("in.json"), "--set", "gate=40",
                   "--save-preset", path("saved.json")}),
              0)
        << err_.str();
    auto unit = ThraskVellAudioUnit::create().value();
    ASSERT_FALSE(unit->setFullStateText(read(path("saved.json"))));
    const auto tree = unit->parameterTree();
    EXPECT_EQ(tree->valueForKey("trim")->value(), 70.0f);
    EXPECT_EQ(tree->valueForKey("gate")->value(), 40.0f) << "--set wins over the preset";
    EXPECT_EQ(tree->valueForKey("volume")->value(), 150.0f) << "a preset's value is not clamped";
    EXPECT_EQ(tree->valueForKey("tone")->value(), 50.0f) << "unmentioned parameters keep their defaults";
    EXPECT_NE(read(path("saved.json")).find("\"thraskVellVersion\": \"1.0.0\""), std::string::npos);
}

TEST_F(PresetRender, FailuresWriteNeitherAudioNorPreset) {
    write(path("bad.json"), R"({"trim": 80,)");
    write(path("array.json"), R"([80])");
    write(path("huge.json"), "{\"trim\": 1" + std::string(100000, ' ') + "}");
    struct Case {
        const char* what;
        std::vector<std::string> args;
        int exitCode;
        const char* mentions;
    };
    const Case cases[] = {
        {"truncated preset", {"--preset", path("bad.json")}, 1, "not valid JSON"},
        {"not an object", {"--preset", path("array.json")}, 1, "array"},
        {"oversized preset", {"--preset", path("huge.json")}, 1, "bytes"},
        {"missing preset", {"--preset", path("none.json")}, 1, "cannot open preset"},
        {"save over the output", {"--save-preset", path("out.wav")}, 2, "refusing to overwrite"},
        {"empty preset name", {"--preset", ""}, 2, "needs a file name"},
    };
    for (const auto& c : cases) {
        std::vector<std::string> args{"--demo", "0.1", path("out.wav")};
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (c.exitCode != 2) args.insert(args.end(), {"--save-preset", path("saved.json")});
        EXPECT_EQ(run(args), c.exitCode) << c.what << ": " << err_.str();
        EXPECT_NE(err_.str().find(c.mentions), std::string::npos) << c.what << ": " << err_.str();
        EXPECT_FALSE(fs::exists(path("out.wav"))) << c.what;
        EXPECT_FALSE(fs::exists(path("saved.json"))) << c.what;
    }
    // A failing render (an input that is not audio) leaves an existing preset as it was.
    write(path("saved.json"), "keep");
    write(path("in.wav"), "not audio");
    EXPECT_EQ(run({path("in.wav"), path("out.wav"), "--save-preset", path("saved.json")}), 1);
    EXPECT_EQ(read(path("saved.json")), "keep");
}

} // namespace
} // namespace thraskvell::render
