#include "app/BassRiffGenerator.h"
#include "app/render/Renderer.h"
#include "dsp/DSPBridge.h"

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

struct Audio {
    int sampleRate = 0;
    int channels = 0;
    int format = 0;
    std::vector<float> samples; // interleaved
    std::int64_t frames() const {
        return channels ? static_cast<std::int64_t>(samples.size()) / channels : 0;
    }
    std::vector<float> channel(int c) const {
        std::vector<float> out;
        for (std::size_t i = static_cast<std::size_t>(c); i < samples.size();
             i += static_cast<std::size_t>(channels))
            out.push_back(samples[i]);
        return out;
    }
};

Audio readAudio(const fs::path& path) {
    SF_INFO info{};
    SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
    EXPECT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
    Audio audio;
    if (!file) return audio;
    audio.sampleRate = info.samplerate;
    audio.channels = info.channels;
    audio.format = info.format;
    audio.samples.resize(static_cast<std::size_t>(info.frames * info.channels));
    EXPECT_EQ(sf_readf_float(file, audio.samples.data(), info.frames), info.frames);
    sf_close(file);
    return audio;
}

// A sine per channel (a fifth apart), written in the given libsndfile format.
Audio writeSine(const fs::path& path, int sampleRate, int channels, int frames, int format,
                float level = 0.5f) {
    Audio audio{sampleRate, channels, format, {}};
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < channels; ++c)
            audio.samples.push_back(level * std::sin(2.0f * 3.14159265f * (82.41f * (1.0f + 0.5f * c)) *
                                                     static_cast<float>(i) / static_cast<float>(sampleRate)));
    SF_INFO info{};
    info.samplerate = sampleRate;
    info.channels = channels;
    info.format = format;
    SNDFILE* file = sf_open(path.c_str(), SFM_WRITE, &info);
    EXPECT_NE(file, nullptr) << sf_strerror(nullptr);
    if (file) {
        EXPECT_EQ(sf_writef_float(file, audio.samples.data(), frames), frames);
        sf_close(file);
    }
    return readAudio(path); // what a reader sees, after any quantisation
}

// The effect applied the way a caller of the bridge would, independent of the renderer's plumbing.
std::vector<float> processDirectly(const Audio& in, int block,
                                   const std::vector<std::pair<const char*, float>>& sets) {
    DSPBridge bridge;
    EXPECT_TRUE(bridge.prepare(block, in.sampleRate, in.channels));
    for (const auto& [id, value] : sets)
        bridge.setParameter(id, value);
    std::vector<std::vector<float>> channels;
    for (int c = 0; c < in.channels; ++c)
        channels.push_back(in.channel(c));
    const auto frames = static_cast<int>(in.frames());
    for (int offset = 0; offset < frames; offset += block) {
        AudioBufferList list;
        list.mNumberBuffers = static_cast<std::uint32_t>(in.channels);
        for (int c = 0; c < in.channels; ++c)
            list.mBuffers[c].mData = channels[c].data() + offset;
        bridge.processBufferList(&list, std::min(block, frames - offset));
    }
    std::vector<float> out;
    for (int i = 0; i < frames; ++i)
        for (int c = 0; c < in.channels; ++c)
            out.push_back(channels[c][static_cast<std::size_t>(i)]);
    return out;
}

double rms(const std::vector<float>& s) {
    double sum = 0.0;
    for (float v : s)
        sum += double(v) * v;
    return s.empty() ? 0.0 : std::sqrt(sum / double(s.size()));
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

    int run(std::vector<std::string> args, const RunEnvironment& env = {}) {
        args.insert(args.begin(), "thraskvell-render");
        std::vector<const char*> argv;
        for (const auto& a : args)
            argv.push_back(a.c_str());
        out.str("");
        err.str("");
        return runRenderer(static_cast<int>(argv.size()), argv.data(), out, err, env);
    }

    // Names left in the directory besides the given ones: temporary files must not survive.
    std::vector<std::string> strayFiles(std::initializer_list<std::string> expected) const {
        std::vector<std::string> stray;
        for (const auto& entry : fs::directory_iterator(dir)) {
            const auto name = entry.path().filename().string();
            if (std::find(expected.begin(), expected.end(), name) == expected.end()) stray.push_back(name);
        }
        return stray;
    }

    fs::path dir;
    std::ostringstream out;
    std::ostringstream err;
};

TEST_F(Render, FilesComeOutWithTheirShapeAndAPlausibleLevel) {
    const struct {
        int rate;
        int channels;
        int frames;
        int format;
        const char* name;
    } cases[] = {{44100, 1, 20000, SF_FORMAT_WAV | SF_FORMAT_FLOAT, "mono.wav"},
                 {48000, 2, 30011, SF_FORMAT_WAV | SF_FORMAT_PCM_16, "stereo16.wav"},
                 {96000, 2, 700, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, "stereo.flac"},
                 {22050, 1, 512, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, "exact-block.aiff"},
                 {44100, 1, 0, SF_FORMAT_WAV | SF_FORMAT_FLOAT, "empty.wav"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const Audio in = writeSine(dir / c.name, c.rate, c.channels, c.frames, c.format);
        const fs::path outPath = dir / (std::string("out-") + c.name + ".wav");
        ASSERT_EQ(run({(dir / c.name).string(), outPath.string()}), kExitSuccess) << err.str();
        const Audio result = readAudio(outPath);
        EXPECT_EQ(result.sampleRate, c.rate);
        EXPECT_EQ(result.channels, c.channels);
        EXPECT_EQ(result.frames(), c.frames);
        EXPECT_EQ(result.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        if (c.frames == 0) continue;
        for (int ch = 0; ch < c.channels; ++ch) {
            const double level = rms(result.channel(ch));
            EXPECT_GT(level, 0.05) << "channel " << ch; // a driven fuzz at unity volume is clearly audible
            EXPECT_LT(level, 2.0) << "channel " << ch;
        }
        for (float v : result.samples)
            ASSERT_TRUE(std::isfinite(v));
        EXPECT_NE(result.samples, in.samples);
    }
}

TEST_F(Render, OutputEqualsTheBridgeDrivenDirectly) {
    const struct {
        int channels;
        int block;
        std::vector<std::pair<const char*, float>> sets;
    } cases[] = {{2, 512, {}},
                 {1, 300, {{"sustain", 90.0f}, {"bassBoost", 100.0f}}},
                 {2, 64, {{"dynamicsEnable", 100.0f}, {"threshold", 20.0f}, {"tone", 10.0f}}}};
    for (const auto& c : cases) {
        const Audio in = writeSine(dir / "in.wav", 44100, c.channels, 5000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
        std::vector<std::string> args{(dir / "in.wav").string(), (dir / "out.wav").string(), "--block",
                                      std::to_string(c.block)};
        for (const auto& [id, value] : c.sets) {
            args.push_back("--set");
            std::ostringstream setting;
            setting << id << '=' << value;
            args.push_back(setting.str());
        }
        ASSERT_EQ(run(args), kExitSuccess) << err.str();
        EXPECT_EQ(readAudio(dir / "out.wav").samples, processDirectly(in, c.block, c.sets)) << c.block;
    }
}

TEST_F(Render, SettingsChangeTheSound) {
    writeSine(dir / "in.wav", 44100, 2, 4000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    ASSERT_EQ(run({(dir / "in.wav").string(), (dir / "default.wav").string()}), kExitSuccess) << err.str();
    ASSERT_EQ(run({(dir / "in.wav").string(), (dir / "silent.wav").string(), "--set", "volume=0"}),
              kExitSuccess);
    ASSERT_EQ(run({(dir / "in.wav").string(), (dir / "loud.wav").string(), "--set=volume=100"}),
              kExitSuccess);
    ASSERT_EQ(run({(dir / "in.wav").string(), (dir / "later.wav").string(), "--set", "volume=0", "--set",
                   "volume=100"}),
              kExitSuccess); // applied in order: the last one wins

    const auto base = readAudio(dir / "default.wav").samples;
    const auto silent = readAudio(dir / "silent.wav").samples;
    const auto loud = readAudio(dir / "loud.wav").samples;
    EXPECT_EQ(readAudio(dir / "later.wav").samples, loud);
    ASSERT_EQ(loud.size(), base.size());
    for (std::size_t i = 0; i < base.size(); ++i) {
        EXPECT_EQ(silent[i], 0.0f);
        EXPECT_NEAR(loud[i], 2.0f * base[i], 1e-6f) << i; // volume is the output gain: 100 doubles 50
    }
}

TEST_F(Render, TheDemoIsTheRiffThroughTheBridgeInPlace) {
    ASSERT_EQ(run({"--demo", "0.5", (dir / "demo.wav").string(), "--set", "sustain=80"}), kExitSuccess)
        << err.str();
    const Audio demo = readAudio(dir / "demo.wav");
    EXPECT_EQ(demo.sampleRate, 44100);
    EXPECT_EQ(demo.channels, 2);
    EXPECT_EQ(demo.frames(), 22050);
    EXPECT_EQ(demo.format, SF_FORMAT_WAV | SF_FORMAT_FLOAT);

    // As the standalone app does it: riff duplicated to both channels, bridge prepared for 4096 frames.
    BassRiffGenerator riff;
    DSPBridge bridge;
    ASSERT_TRUE(bridge.prepare(4096, 44100.0, 2));
    bridge.setParameter("sustain", 80.0f);
    std::vector<float> expected;
    for (int offset = 0; offset < 22050; offset += 512) {
        const int n = std::min(512, 22050 - offset);
        std::vector<float> left(static_cast<std::size_t>(n));
        for (float& v : left)
            v = riff.nextSample();
        std::vector<float> right = left;
        AudioBufferList list;
        list.mNumberBuffers = 2;
        list.mBuffers[0].mData = left.data();
        list.mBuffers[1].mData = right.data();
        bridge.processBufferList(&list, n);
        for (int i = 0; i < n; ++i) {
            expected.push_back(left[static_cast<std::size_t>(i)]);
            expected.push_back(right[static_cast<std::size_t>(i)]);
        }
    }
    EXPECT_EQ(demo.samples, expected);
    EXPECT_EQ(demo.channel(0), demo.channel(1));
    EXPECT_GT(rms(demo.channel(0)), 0.05);
}

TEST_F(Render, OutputTypeFollowsTheExtension) {
    writeSine(dir / "in.wav", 44100, 1, 3000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const struct {
        const char* name;
        int major;
    } cases[] = {{"out.flac", SF_FORMAT_FLAC}, {"out.aiff", SF_FORMAT_AIFF}, {"out.AIF", SF_FORMAT_AIFF},
                 {"out.ogg", SF_FORMAT_OGG},   {"plain", SF_FORMAT_WAV},     {"out.WAV", SF_FORMAT_WAV}};
    for (const auto& c : cases) {
        ASSERT_EQ(run({(dir / "in.wav").string(), (dir / c.name).string()}), kExitSuccess)
            << c.name << err.str();
        const Audio result = readAudio(dir / c.name);
        EXPECT_EQ(result.format & SF_FORMAT_TYPEMASK, c.major) << c.name;
        EXPECT_EQ(result.frames(), 3000) << c.name;
    }
    EXPECT_EQ(run({(dir / "in.wav").string(), (dir / "out.xyz").string()}), kExitUsage);
    EXPECT_NE(err.str().find("out.xyz"), std::string::npos);
    EXPECT_FALSE(fs::exists(dir / "out.xyz"));
}

TEST_F(Render, BadSettingsAreUsageErrorsThatListTheParameters) {
    writeSine(dir / "in.wav", 44100, 1, 100, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const char* const settings[] = {
        "Volume=10", "fuzz=3", "volume=loud", "volume=", "volume", "=5", "volume=nan", "volume=1e40"};
    for (const char* setting : settings) {
        EXPECT_EQ(run({(dir / "in.wav").string(), (dir / "out.wav").string(), "--set", setting}), kExitUsage)
            << setting;
        for (const auto& definition : allParameters())
            EXPECT_NE(err.str().find(definition.identifier), std::string::npos)
                << setting << " " << definition.identifier;
        EXPECT_FALSE(fs::exists(dir / "out.wav")) << setting;
    }
    for (const char* outOfRange : {"volume=250", "gate=-1"}) {
        EXPECT_EQ(run({(dir / "in.wav").string(), (dir / "out.wav").string(), "--set", outOfRange}),
                  kExitUsage);
        EXPECT_NE(err.str().find("0 to 100"), std::string::npos) << err.str();
    }
}

TEST_F(Render, CommandLineMistakesExitWithUsage) {
    writeSine(dir / "in.wav", 44100, 1, 100, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const std::string in = (dir / "in.wav").string();
    const std::string outPath = (dir / "out.wav").string();
    const std::vector<std::vector<std::string>> mistakes = {
        {},
        {in},
        {in, outPath, outPath + "2"},
        {in, outPath, "--block", "0"},
        {in, outPath, "--block", "-4"},
        {in, outPath, "--block", "big"},
        {in, outPath, "--block", "1000000"},
        {in, outPath, "--frobnicate"},
        {"--demo", "abc", outPath},
        {"--demo", "-1", outPath},
        {"--demo", "0", outPath},
        {"--demo", "inf", outPath},
        {"--demo", "2", in, outPath},
        {"--demo", "2"},
        {in, outPath, "--set"},
    };
    for (const auto& args : mistakes) {
        std::string joined;
        for (const auto& a : args)
            joined += a + " ";
        EXPECT_EQ(run(args), kExitUsage) << joined;
        EXPECT_NE(err.str().find("usage: thraskvell-render"), std::string::npos) << joined << "\n"
                                                                                 << err.str();
        EXPECT_FALSE(fs::exists(outPath)) << joined;
    }
    EXPECT_EQ(run({"--help"}), kExitSuccess);
    EXPECT_NE(out.str().find("--demo"), std::string::npos);
}

TEST_F(Render, ThreeChannelsAreRefused) {
    writeSine(dir / "surround.wav", 44100, 3, 1000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    EXPECT_EQ(run({(dir / "surround.wav").string(), (dir / "out.wav").string()}), kExitFailure);
    EXPECT_NE(err.str().find("3 channels"), std::string::npos) << err.str();
    EXPECT_EQ(strayFiles({"surround.wav"}), std::vector<std::string>{});
}

TEST_F(Render, TheInputIsNeverOverwritten) {
    writeSine(dir / "in.wav", 44100, 2, 2000, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    fs::create_directory(dir / "sub");
    fs::create_hard_link(dir / "in.wav", dir / "hardlink.wav");
    fs::create_symlink(dir / "in.wav", dir / "symlink.wav");
    const std::string original = fileBytes(dir / "in.wav");
    const fs::path sameFile[] = {dir / "in.wav", dir / "sub" / ".." / "in.wav", dir / "hardlink.wav",
                                 dir / "symlink.wav"};
    for (const auto& outPath : sameFile) {
        EXPECT_EQ(run({(dir / "in.wav").string(), outPath.string()}), kExitUsage) << outPath;
        EXPECT_NE(err.str().find("same file"), std::string::npos);
        EXPECT_EQ(fileBytes(dir / "in.wav"), original) << outPath;
    }
    EXPECT_EQ(strayFiles({"in.wav", "sub", "hardlink.wav", "symlink.wav"}), std::vector<std::string>{});
}

TEST_F(Render, AFailedRenderLeavesNothingBehind) {
    writeSine(dir / "in.wav", 44100, 1, 5000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::ofstream(dir / "notaudio.wav") << "this is not audio";
    std::ofstream(dir / "existing.wav") << "previous render";

    EXPECT_EQ(run({(dir / "missing.wav").string(), (dir / "out.wav").string()}), kExitFailure);
    EXPECT_NE(err.str().find("missing.wav"), std::string::npos);
    EXPECT_EQ(run({(dir / "notaudio.wav").string(), (dir / "out.wav").string()}), kExitFailure);
    EXPECT_EQ(run({(dir / "in.wav").string(), (dir / "nodir" / "out.wav").string()}), kExitFailure);
    EXPECT_EQ(run({(dir / "in.wav").string(), dir.string() + "/"}), kExitFailure); // a directory, not a file
    writeSine(dir / "slow.wav", 4000, 1, 1000,
              SF_FORMAT_WAV | SF_FORMAT_FLOAT); // below what the effect runs at
    EXPECT_EQ(run({(dir / "slow.wav").string(), (dir / "out.wav").string()}), kExitFailure);
    EXPECT_NE(err.str().find("4000 Hz"), std::string::npos) << err.str();

    // Interrupted mid-render: the temporary file goes, and an existing output stays as it was.
    const volatile std::sig_atomic_t interrupted = 1;
    RunEnvironment env;
    env.interrupted = &interrupted;
    EXPECT_EQ(run({(dir / "in.wav").string(), (dir / "existing.wav").string()}, env), kExitFailure);
    EXPECT_EQ(run({"--demo", "1", (dir / "existing.wav").string()}, env), kExitFailure);
    EXPECT_EQ(fileBytes(dir / "existing.wav"), "previous render");

    EXPECT_EQ(strayFiles({"in.wav", "notaudio.wav", "existing.wav", "slow.wav"}), std::vector<std::string>{});
}

TEST_F(Render, TheProgramReportsThroughItsExitStatus) {
    writeSine(dir / "in.wav", 44100, 1, 1000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    const auto status = [&](const std::string& args) {
        const std::string command = std::string("'") + THRASKVELL_RENDER_BINARY + "' " + args + " 2>'" +
                                    (dir / "stderr.txt").string() + "' >/dev/null";
        const int raw = std::system(command.c_str());
        return WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
    };
    const std::string in = "'" + (dir / "in.wav").string() + "'";
    EXPECT_EQ(status(in + " '" + (dir / "out.wav").string() + "'"), 0);
    EXPECT_TRUE(fs::exists(dir / "out.wav"));
    EXPECT_EQ(status(in + " '" + (dir / "out2.wav").string() + "' --set wobble=1"), 2);
    EXPECT_NE(fileBytes(dir / "stderr.txt").find("dynamicsEnable"), std::string::npos);
    EXPECT_EQ(status("'" + (dir / "missing.wav").string() + "' '" + (dir / "out3.wav").string() + "'"), 1);
}

} // namespace
} // namespace thraskvell::render
