#include "app/render/Renderer.h"
#include "extension/ThraskVellAudioUnit.h"
#include "tests/app/DemoThroughBridge.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <cmath>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace thraskvell::render {
namespace {

namespace fs = std::filesystem;
using test::demoThroughBridge;
using test::Sets;
using test::throughBridge;

struct Audio {
    int rate = 0, channels = 0, format = 0;
    std::vector<float> samples; // interleaved
    std::size_t frames() const { return channels ? samples.size() / std::size_t(channels) : 0; }
};

Audio readAudio(const fs::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
    if (!file) return {};
    Audio audio{info.samplerate, info.channels, info.format,
                std::vector<float>(std::size_t(info.frames * info.channels))};
    EXPECT_EQ(sf_readf_float(file, audio.samples.data(), info.frames), info.frames);
    sf_close(file);
    return audio;
}

// A sine per channel (a fifth apart), as a reader sees it after the format's quantisation.
Audio writeSine(const fs::path& path, int rate, int channels, int frames, int format) {
    std::vector<float> samples;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            samples.push_back(0.5f * std::sin(2.0f * 3.14159265f * 82.41f * (1.0f + 0.5f * float(c)) *
                                              float(i) / float(rate)));
    SF_INFO info{0, rate, channels, format, 0, 0};
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    if (file) {
        EXPECT_EQ(sf_writef_float(file, samples.data(), frames), frames);
        sf_close(file);
    }
    return readAudio(path);
}

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class Render : public ::testing::Test {
protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "thraskvell-render-test-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override { fs::remove_all(dir); }

    std::string path(const std::string& name) const { return (dir / name).string(); }
    int run(std::vector<std::string> args, const RunEnvironment& env = {}) {
        std::vector<const char*> argv{"thraskvell-render"};
        for (const auto& a : args)
            argv.push_back(a.c_str());
        out.str("");
        err.str("");
        return runRenderer(int(argv.size()), argv.data(), out, err, env);
    }
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }

    fs::path dir;
    std::ostringstream out, err;
};

TEST_F(Render, FilesReadBackWithTheirShapeAndTheBridgesSound) {
    constexpr int kFloatWav = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    const struct {
        int rate, channels, frames, format, block;
        Sets sets;
        const char* out = "out.wav"; // anything but WAV only keeps the shape: it quantises
        int type = SF_FORMAT_WAV;
    } cases[] = {
        {44100, 1, 20000, kFloatWav, 512, {}},
        {48000, 2, 30011, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 300, {{"sustain", 90.0f}, {"bassBoost", 100.0f}}},
        {96000, 2, 700, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 64, {{"dynamicsEnable", 100.0f}, {"tone", 10.0f}}},
        {22050, 1, 512, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 512, {{"volume", 0.0f}, {"volume", 100.0f}}},
        {44100, 1, 0, kFloatWav, 512, {}},
        {44100, 1, 3000, kFloatWav, 512, {}, "out.flac", SF_FORMAT_FLAC},
        {44100, 1, 3000, kFloatWav, 512, {}, "out.AIF", SF_FORMAT_AIFF},
        {44100, 1, 3000, kFloatWav, 512, {}, "out.ogg", SF_FORMAT_OGG},
        {44100, 1, 3000, kFloatWav, 512, {}, "plain", SF_FORMAT_WAV},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.rate << " Hz, " << c.channels << " ch, " << c.frames << " frames, " << c.out);
        const Audio in = writeSine(dir / "in", c.rate, c.channels, c.frames, c.format);
        std::vector<std::string> args{path("in"), path(c.out), "--block", std::to_string(c.block)};
        for (const auto& [id, value] : c.sets) {
            std::ostringstream setting;
            setting << id << '=' << value;
            args.insert(args.end(), {"--set", setting.str()});
        }
        ASSERT_EQ(run(args), kExitSuccess) << err.str();
        const Audio result = readAudio(dir / c.out);
        fs::remove(dir / c.out);
        EXPECT_EQ(result.rate, c.rate);
        EXPECT_EQ(result.channels, c.channels);
        EXPECT_EQ(result.frames(), std::size_t(c.frames));
        EXPECT_EQ(result.format & SF_FORMAT_TYPEMASK, c.type);
        if (c.type != SF_FORMAT_WAV) continue;
        EXPECT_EQ(result.format, kFloatWav);
        EXPECT_EQ(result.samples, throughBridge(in.samples, c.channels, c.rate, c.block, c.sets));
    }
}

TEST_F(Render, TheDemoAndPresetsSoundAsTheRiffThroughTheBridge) {
    ASSERT_EQ(run({"--demo", "0.5", path("demo.wav"), "--set", "sustain=80"}), kExitSuccess) << err.str();
    const Audio demo = readAudio(dir / "demo.wav");
    EXPECT_EQ(demo.rate, 44100);
    EXPECT_EQ(demo.channels, 2);
    EXPECT_EQ(demo.samples, demoThroughBridge({22050}, {{"sustain", 80.0f}}));

    // A preset first (unclamped, unmentioned parameters at their defaults), then --set on top.
    std::ofstream(dir / "p.json") << R"({"thraskVellVersion": "1.0.0", "sustain": 90, "tone": 20,
                                         "volume": 150, "asymmetry": 100, "gate": "loud"})";
    ASSERT_EQ(run({"--demo", "0.2", path("preset.wav"), "--preset", path("p.json"), "--set", "tone=30",
                   "--save-preset", path("saved.json")}),
              kExitSuccess)
        << err.str();
    const Sets expected{{"sustain", 90.0f}, {"tone", 30.0f}, {"volume", 150.0f}, {"asymmetry", 100.0f}};
    EXPECT_EQ(readAudio(dir / "preset.wav").samples, demoThroughBridge({8820}, expected));

    auto unit = ThraskVellAudioUnit::create().value();
    ASSERT_FALSE(unit->setFullStateText(fileBytes(dir / "saved.json")));
    for (const auto& [id, value] : expected)
        EXPECT_EQ(unit->parameterTree()->valueForKey(id)->value(), value) << id;
    EXPECT_EQ(unit->parameterTree()->valueForKey("gate")->value(), 0.0f);
}

// Every refusal and failure: its exit status, a message naming the problem, and nothing written,
// replaced or left behind.
TEST_F(Render, RefusalsAndFailuresWriteNothing) {
    writeSine(dir / "in.wav", 44100, 1, 5000, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    writeSine(dir / "surround.wav", 44100, 3, 1000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    writeSine(dir / "slow.wav", 4000, 1, 1000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::ofstream(dir / "notaudio.wav") << "this is not audio";
    std::ofstream(dir / "existing.wav") << "previous render";
    std::ofstream(dir / "bad.json") << R"({"trim": 80,)";
    std::ofstream(dir / "array.json") << "[80]";
    std::ofstream(dir / "huge.json") << "{\"trim\": 1" + std::string(100000, ' ') + "}";
    fs::create_directory(dir / "sub");
    fs::create_hard_link(dir / "in.wav", dir / "hardlink.wav");
    fs::create_symlink(dir / "in.wav", dir / "symlink.wav");
    const auto before = names();
    const std::string original = fileBytes(dir / "in.wav");
    const std::string in = path("in.wav"), outPath = path("out.wav"), save = path("saved.json");

    const struct {
        std::vector<std::string> args;
        int status;
        const char* mentions;
        bool interrupted = false;
    } cases[] = {
        {{}, kExitUsage, "usage: thraskvell-render"},
        {{in}, kExitUsage, "usage: thraskvell-render"},
        {{in, outPath, outPath + "2"}, kExitUsage, "usage: thraskvell-render"},
        {{in, outPath, "--block", "0"}, kExitUsage, "--block"},
        {{in, outPath, "--block", "1000000"}, kExitUsage, "--block"},
        {{in, outPath, "--frobnicate"}, kExitUsage, "--frobnicate"},
        {{"--demo", "0", outPath}, kExitUsage, "--demo"},
        {{"--demo", "inf", outPath}, kExitUsage, "--demo"},
        {{"--demo", "2", in, outPath}, kExitUsage, "one output"},
        {{"--demo", "2"}, kExitUsage, "one output"},
        {{in, outPath, "--set"}, kExitUsage, "--set"},
        {{in, outPath, "--set", "wobble=1"}, kExitUsage, "dynamicsEnable"},
        {{in, outPath, "--set", "volume=250"}, kExitUsage, "0 to 100"},
        {{in, path("out.xyz")}, kExitUsage, "out.xyz"},
        {{in, in}, kExitUsage, "same file"},
        {{in, path("sub/../in.wav")}, kExitUsage, "same file"},
        {{in, path("hardlink.wav")}, kExitUsage, "same file"},
        {{in, path("symlink.wav")}, kExitUsage, "same file"},
        {{"--demo", "0.1", outPath, "--save-preset", outPath}, kExitUsage, "refusing to overwrite"},
        {{"--demo", "0.1", outPath, "--preset", ""}, kExitUsage, "needs a file name"},
        {{in, outPath, "--save-preset", in}, kExitUsage, "refusing to overwrite"},
        {{path("missing.wav"), outPath}, kExitFailure, "missing.wav"},
        {{path("notaudio.wav"), outPath, "--save-preset", save}, kExitFailure, "notaudio.wav"},
        {{in, path("nodir/out.wav")}, kExitFailure, "nodir"},
        {{in, dir.string() + "/"}, kExitFailure, "thraskvell-render:"},
        {{path("surround.wav"), outPath}, kExitFailure, "3 channels"},
        {{path("slow.wav"), outPath}, kExitFailure, "4000 Hz"},
        {{"--demo", "0.1", outPath, "--preset", path("bad.json"), "--save-preset", save},
         kExitFailure,
         "not valid JSON"},
        {{"--demo", "0.1", outPath, "--preset", path("array.json")}, kExitFailure, "array"},
        {{"--demo", "0.1", outPath, "--preset", path("huge.json")}, kExitFailure, "bytes"},
        {{"--demo", "0.1", outPath, "--preset", path("none.json")}, kExitFailure, "cannot open preset"},
        {{in, path("existing.wav"), "--save-preset", save}, kExitFailure, "", true},
        {{"--demo", "1", path("existing.wav")}, kExitFailure, "", true},
        {{"--help"}, kExitSuccess, "--demo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const volatile std::sig_atomic_t interrupted = 1;
        RunEnvironment env;
        if (c.interrupted) env.interrupted = &interrupted;
        EXPECT_EQ(run(c.args, env), c.status);
        EXPECT_NE((out.str() + err.str()).find(c.mentions), std::string::npos) << out.str() << err.str();
        EXPECT_EQ(names(), before);
        EXPECT_EQ(fileBytes(dir / "in.wav"), original);
        EXPECT_EQ(fileBytes(dir / "existing.wav"), "previous render");
    }
}

TEST_F(Render, TheProgramReportsThroughItsExitStatus) {
    writeSine(dir / "in.wav", 44100, 1, 1000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const auto status = [&](const std::string& in, const std::string& set) {
        const std::string command = std::string("timeout 20 '") + THRASKVELL_RENDER_BINARY + "' '" +
                                    path(in) + "' '" + path("out.wav") + "' " + set + " 2>/dev/null";
        const int raw = std::system(command.c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    EXPECT_EQ(status("missing.wav", ""), 1);
    EXPECT_EQ(status("in.wav", "--set wobble=1"), 2);
    EXPECT_FALSE(fs::exists(dir / "out.wav"));
    EXPECT_EQ(status("in.wav", ""), 0);
    EXPECT_TRUE(fs::exists(dir / "out.wav"));
}

} // namespace
} // namespace thraskvell::render
