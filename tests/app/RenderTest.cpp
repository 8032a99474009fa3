#include "app/render/Renderer.h"
#include "extension/ThraskVellAudioUnit.h"
#include "tests/app/DemoThroughBridge.h"

#include <gtest/gtest.h>
#include <sndfile.h>

#include <chrono>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
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
        std::string out = "out.wav"; // anything but WAV only keeps the shape: it quantises
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
        {44100, 1, 3000, kFloatWav, 512, {}, std::string(251, 'n') + ".wav"}, // the longest name allowed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << " Hz, " << c.channels << " ch, " << c.frames
                                        << " frames, " << c.out.size() << "-byte " << c.out.substr(0, 9));
        const Audio in = writeSine(dir / "in", c.rate, c.channels, c.frames, c.format);
        std::vector<std::string> args{path("in"), path(c.out), "--block", std::to_string(c.block)};
        for (const auto& [id, value] : c.sets) {
            std::ostringstream setting;
            setting << id << '=' << value;
            args.insert(args.end(), {"--set", setting.str()});
        }
        ASSERT_EQ(run(args), kExitSuccess) << err.str();
        const Audio result = readAudio(dir / c.out);
        const std::string bytes = fileBytes(dir / c.out);
        fs::remove(dir / c.out);
        EXPECT_EQ(result.rate, c.rate);
        EXPECT_EQ(result.channels, c.channels);
        EXPECT_EQ(result.frames(), std::size_t(c.frames));
        if (c.type != SF_FORMAT_WAV) {
            EXPECT_EQ(result.format & SF_FORMAT_TYPEMASK, c.type);
            continue;
        }
        // RF64 that stayed small: plain RIFF/WAVE, keeping room for RF64's 64-bit sizes as a JUNK chunk.
        EXPECT_EQ(bytes.substr(0, 4) + bytes.substr(8, 8), "RIFFWAVEJUNK");
        EXPECT_EQ(result.format & SF_FORMAT_SUBMASK, SF_FORMAT_FLOAT);
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
    std::ofstream(dir / "huge.json") << "{\"trim\": 1" + std::string(140000, ' ') + "}";
    std::ofstream(dir / "longnumber.json") << "{\"trim\": 1" + std::string(60000, '0') + "x}";
    fs::create_directory(dir / "sub");
    fs::create_hard_link(dir / "in.wav", dir / "hardlink.wav");
    fs::create_symlink(dir / "in.wav", dir / "symlink.wav");
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    const auto before = names();
    const std::string original = fileBytes(dir / "in.wav");
    const std::string in = path("in.wav"), outPath = path("out.wav"), save = path("saved.json");

    const struct {
        std::vector<std::string> args;
        int status;
        const char* mentions;
        bool interrupted = false;
        bool fed =
            false; // IN "fifo" gets the first half of in.wav; stderr a terminal showing the bar at once
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
        {{in, outPath, "--set", "volume=1e39"}, kExitUsage, "'1e39' is out of range"},
        {{in, outPath, "--set", "volume=" + std::string(5000, '1')}, kExitUsage, " ... "},
        {{in, path("out.xyz")}, kExitUsage, "out.xyz"},
        {{in, in}, kExitUsage, "same file"},
        {{in, path("sub/../in.wav")}, kExitUsage, "same file"},
        {{in, path("hardlink.wav")}, kExitUsage, "same file"},
        {{in, path("symlink.wav")}, kExitUsage, "same file"},
        {{in, path("fifo")}, kExitUsage, "FIFO"},
        {{"--demo", "0.1", outPath, "--save-preset", outPath}, kExitUsage, "refusing to overwrite"},
        {{"--demo", "0.1", outPath, "--preset", ""}, kExitUsage, "needs a file name"},
        {{in, outPath, "--save-preset", in}, kExitUsage, "refusing to overwrite"},
        {{path("missing.wav"), outPath}, kExitFailure, "missing.wav"},
        {{path("notaudio.wav"), outPath, "--save-preset", save}, kExitFailure, "notaudio.wav"},
        {{in, path("nodir/out.wav")}, kExitFailure, "nodir"},
        {{in, dir.string() + "/"}, kExitFailure, "thraskvell-render:"},
        {{path("surround.wav"), outPath}, kExitFailure, "3 channels"},
        {{path("slow.wav"), outPath}, kExitFailure, "sample rate 4000 Hz"},
        {{path("sub"), outPath}, kExitFailure, "is a folder"},
        {{path("fifo"), outPath}, kExitFailure, "%\nthraskvell-render: cannot read", false, true},
        {{in, path("existing.wav"), "--save-preset", path("nodir/p.json")}, kExitFailure, "nodir"},
        {{"--demo", "0.1", outPath, "--preset", path("bad.json"), "--save-preset", save},
         kExitFailure,
         "not valid JSON"},
        {{"--demo", "0.1", outPath, "--preset", path("array.json")}, kExitFailure, "array"},
        {{"--demo", "0.1", outPath, "--preset", path("huge.json")}, kExitFailure, "bytes"},
        {{"--demo", "0.1", outPath, "--preset", path("longnumber.json")}, kExitFailure, " ... "},
        {{"--demo", "0.1", outPath, "--preset", path("none.json")}, kExitFailure, "cannot open preset"},
        {{in, path("existing.wav"), "--save-preset", save}, kExitFailure, "", true},
        {{"--demo", "1", path("existing.wav")}, kExitFailure, "", true},
        {{"--help"}, kExitSuccess, "--demo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        const volatile std::sig_atomic_t interrupted = 1;
        RunEnvironment env{c.fed, c.interrupted ? &interrupted : nullptr, {}};
        std::thread feeder;
        if (c.fed)
            feeder = std::thread([&] {
                const int fd = open(path("fifo").c_str(), O_WRONLY);
                EXPECT_EQ(write(fd, original.data(), original.size() / 2), ssize_t(original.size() / 2));
                close(fd);
            });
        EXPECT_EQ(run(c.args, env), c.status);
        if (feeder.joinable()) { // lets the feeder finish whether or not the render opened the FIFO
            const int unblock = open(path("fifo").c_str(), O_RDONLY | O_NONBLOCK);
            feeder.join();
            close(unblock);
        }
        EXPECT_NE((out.str() + err.str()).find(c.mentions), std::string::npos) << out.str() << err.str();
        std::istringstream lines(out.str() + err.str());
        for (std::string line; std::getline(lines, line);)
            EXPECT_LT(line.size(), 400u);
        EXPECT_EQ(names(), before);
        EXPECT_EQ(fileBytes(dir / "in.wav"), original);
        EXPECT_EQ(fileBytes(dir / "existing.wav"), "previous render");
    }
}

TEST_F(Render, AReplacedOutputKeepsItsLinkAndPermissions) {
    writeSine(dir / "in.wav", 44100, 1, 3000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::ofstream(dir / "target.wav") << "previous render";
    // Neither what mkstemp gives (0600) nor what a new file gets under the usual umask (0644).
    const auto mode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    fs::permissions(dir / "target.wav", mode);
    fs::create_symlink("target.wav", dir / "link.wav");
    for (const char* out : {"link.wav", "target.wav"}) {
        ASSERT_EQ(run({path("in.wav"), path(out)}), kExitSuccess) << err.str();
        EXPECT_TRUE(fs::is_symlink(dir / "link.wav"));
        EXPECT_EQ(readAudio(dir / "target.wav").frames(), 3000u);
        EXPECT_EQ(fs::status(dir / "target.wav").permissions(), mode);
        EXPECT_EQ(names(), (std::vector<std::string>{"in.wav", "link.wav", "target.wav"}));
        fs::resize_file(dir / "target.wav", 0);
    }
}

// Every catchable signal ends the program at once, even while it waits for a FIFO that has stalled,
// and removes its temporary file.
TEST_F(Render, SignalsEndTheProgramWithoutLeavingAnything) {
    writeSine(dir / "in.wav", 44100, 1, 5000, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    const std::string half = fileBytes(dir / "in.wav").substr(0, 5000);
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM, SIGUSR1, SIGUSR2}) {
        SCOPED_TRACE(strsignal(signal));
        const pid_t child = fork();
        if (child == 0) {
            execl(THRASKVELL_RENDER_BINARY, "thraskvell-render", path("fifo").c_str(),
                  path("out.wav").c_str(), nullptr);
            _exit(127);
        }
        // Both ends held here, so the render never sees the end of its input.
        const int fifo = open(path("fifo").c_str(), O_RDWR);
        ASSERT_EQ(write(fifo, half.data(), half.size()), ssize_t(half.size()));
        int status = -1;
        bool gone = false;
        const auto until = [&](auto limit, auto condition) {
            for (const auto end = std::chrono::steady_clock::now() + limit;
                 !gone && !condition() && std::chrono::steady_clock::now() < end;) {
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                gone = waitpid(child, &status, WNOHANG) == child;
            }
        };
        until(std::chrono::seconds(10), [&] { return names().size() == 3; }); // its temporary file is there
        EXPECT_FALSE(gone) << status;
        kill(child, signal);
        until(std::chrono::seconds(1), [] { return false; });
        if (!gone) {
            kill(child, SIGKILL);
            waitpid(child, &status, 0);
        }
        close(fifo);
        EXPECT_TRUE(gone);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << status;
        EXPECT_EQ(names(), (std::vector<std::string>{"fifo", "in.wav"}));
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
