#include "app/render/Renderer.h"
#include "extension/ThraskVellAudioUnit.h"
#include "tests/app/DemoThroughBridge.h"

#include <gmock/gmock.h>
#include <sndfile.hh>

#include <fcntl.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

namespace thraskvell::render {
namespace {

namespace fs = std::filesystem;
using namespace testing;

struct Audio {
    int rate = 0, channels = 0, format = 0;
    std::vector<float> samples; // interleaved
};

Audio readAudio(const fs::path& path) {
    SndfileHandle file(path.string());
    EXPECT_EQ(file.error(), 0) << path << ": " << file.strError();
    Audio audio{file.samplerate(), file.channels(), file.format(),
                std::vector<float>(std::size_t(file.frames() * file.channels()))};
    EXPECT_EQ(file.readf(audio.samples.data(), file.frames()), file.frames());
    return audio;
}

// A sine per channel (a fifth apart), as a reader sees it after the format's quantisation.
Audio writeSine(const fs::path& path, int rate, int channels, int frames, int format) {
    std::vector<float> samples;
    for (int i = 0; i < frames * channels; ++i)
        samples.push_back(0.5f * std::sin(2.0f * 3.14159265f * 82.41f * (1.0f + 0.5f * float(i % channels)) *
                                          float(i / channels) / float(rate)));
    EXPECT_EQ(SndfileHandle(path.string(), SFM_WRITE, format, channels, rate).writef(samples.data(), frames),
              frames);
    return readAudio(path);
}

std::string fileBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), {}};
}

class Render : public ::testing::Test {
protected:
    ~Render() override { fs::remove_all(dir); }

    std::string path(const std::string& name) const { return (dir / name).string(); }
    static std::vector<char*> argv(std::vector<std::string>& args) {
        args.insert(args.begin(), "thraskvell-render");
        std::vector<char*> argv(args.size() + 1);
        std::transform(args.begin(), args.end(), argv.begin(), [](std::string& a) { return a.data(); });
        return argv;
    }
    int run(std::vector<std::string> args, const RunEnvironment& env = {}) {
        const auto v = argv(args);
        out.str("");
        err.str("");
        return runRenderer(int(v.size()) - 1, v.data(), out, err, env);
    }
    // The program itself: its exit status, or -1 if it did not exit within ten seconds (it is killed).
    int program(std::vector<std::string> args, const std::function<void(pid_t)>& meanwhile = {}) {
        pid_t child = -1, got = 0;
        if (posix_spawn(&child, THRASKVELL_RENDER_BINARY, nullptr, nullptr, argv(args).data(), environ))
            return -1;
        if (meanwhile) meanwhile(child);
        int status = 0;
        for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
             (got = waitpid(child, &status, WNOHANG)) == 0 && std::chrono::steady_clock::now() < end;)
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        if (got == 0 && kill(child, SIGKILL) == 0) waitpid(child, &status, 0);
        return got == child && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::vector<std::string> names() const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir))
            found.push_back(entry.path().filename().string());
        std::sort(found.begin(), found.end());
        return found;
    }

    const fs::path dir = [] {
        std::string pattern = (fs::temp_directory_path() / "thraskvell-render-test-XXXXXX").string();
        return mkdtemp(pattern.data()) ? pattern : throw std::runtime_error("no temporary folder");
    }();
    std::ostringstream out, err;
};

// Each output replaces an earlier one through a symlink, which stays, and the file keeps its
// permissions. On a terminal the progress bar shows at once here, and ends its line full.
TEST_F(Render, FilesReadBackWithTheirShapeAndTheBridgesSoundThroughAKeptLink) {
    constexpr int kFloatWav = SF_FORMAT_WAV | SF_FORMAT_FLOAT;
    // Neither what mkstemp gives (0600) nor what a new file gets under the usual umask (0644).
    constexpr auto kMode = fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read;
    const struct {
        int rate, channels, frames, inFormat, block;
        test::Sets sets;
        std::string out = "out.wav";                    // anything but WAV only keeps the shape: it quantises
        int format = SF_FORMAT_WAVEX | SF_FORMAT_FLOAT; // a small RF64 reads back as this
    } cases[] = {
        {48000, 2, 30011, SF_FORMAT_WAV | SF_FORMAT_PCM_16, 300, {{"sustain", 90.0f}, {"bassBoost", 100.0f}}},
        {96000, 2, 700, SF_FORMAT_FLAC | SF_FORMAT_PCM_24, 64, {{"dynamicsEnable", 100.0f}, {"tone", 10.0f}}},
        {22050, 1, 512, SF_FORMAT_AIFF | SF_FORMAT_PCM_24, 512, {{"volume", 0.0f}, {"volume", 100.0f}}},
        {44100, 1, 0, kFloatWav, 512, {}},
        {44100, 1, 3000, kFloatWav, 512, {}, "out.flac", SF_FORMAT_FLAC | SF_FORMAT_PCM_24},
        {44100, 1, 3000, kFloatWav, 512, {}, "out.AIF", SF_FORMAT_AIFF | SF_FORMAT_FLOAT},
        {44100, 1, 3000, kFloatWav, 512, {}, "out.ogg", SF_FORMAT_OGG | SF_FORMAT_VORBIS},
        {44100, 1, 3000, kFloatWav, 512, {}, "plain"},
        {44100, 1, 3000, kFloatWav, 512, {}, std::string(251, 'n') + ".wav"}, // the longest name allowed
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.out.substr(0, 9) + " from " + std::to_string(c.rate) + " Hz");
        const Audio in = writeSine(dir / "in", c.rate, c.channels, c.frames, c.inFormat);
        std::ofstream(dir / "old") << "previous render";
        fs::permissions(dir / "old", kMode);
        fs::create_symlink("old", dir / c.out);
        std::vector<std::string> args{path("in"), path(c.out), "--block", std::to_string(c.block)};
        DSPBridge bridge; // the reference: the bridge run as a host runs it
        EXPECT_TRUE(bridge.prepare(c.block, c.rate, c.channels));
        for (const auto& [id, value] : c.sets) {
            args.insert(args.end(), {"--set", std::string(id) + '=' + std::to_string(value)});
            bridge.setParameter(id, value);
        }
        ASSERT_EQ(run(args, {true, nullptr, {}}), 0) << err.str();
        EXPECT_TRUE(c.frames == 0 || err.str().ends_with(std::string(40, '#') + "] 100%\n")) << err.str();
        EXPECT_TRUE(fs::is_symlink(dir / c.out) && fs::status(dir / "old").permissions() == kMode);
        EXPECT_EQ(names().size(), 3u);
        const Audio result = readAudio(dir / c.out);
        const std::string bytes = fileBytes(dir / c.out);
        fs::remove(dir / c.out);
        EXPECT_EQ(std::tuple(result.rate, result.channels, result.samples.size(), result.format),
                  std::tuple(c.rate, c.channels, in.samples.size(), c.format));
        if ((c.format & SF_FORMAT_TYPEMASK) != SF_FORMAT_WAVEX) continue;
        // RF64 that stayed small: plain RIFF/WAVE, keeping room for RF64's 64-bit sizes as a JUNK chunk.
        EXPECT_EQ(bytes.substr(0, 4) + bytes.substr(8, 8), "RIFFWAVEJUNK");
        EXPECT_EQ(result.samples, test::processInterleaved(bridge, in.samples, c.channels, c.block));
    }
}

// A preset first (unclamped, unmentioned parameters at their defaults), then --set on top; the state
// saved is the one rendered.
TEST_F(Render, TheDemoWithAPresetSoundsAsTheRiffThroughTheBridge) {
    std::ofstream(dir / "p.json") << R"({"thraskVellVersion": "1.0.0", "sustain": 90, "tone": 20,
                                         "volume": 150, "asymmetry": 100, "gate": "loud"})";
    ASSERT_EQ(0, run({"--demo", "0.2", path("demo.wav"), "--preset", path("p.json"), "--set", "tone=30",
                      "--save-preset", path("saved.json")}))
        << err.str();
    const test::Sets expected{
        {"sustain", 90.0f}, {"tone", 30.0f}, {"volume", 150.0f}, {"asymmetry", 100.0f}, {"gate", 0.0f}};
    const Audio demo = readAudio(dir / "demo.wav");
    EXPECT_EQ(demo.rate, 44100);
    EXPECT_EQ(demo.samples, test::demoThroughBridge({8820}, expected));

    auto unit = ThraskVellAudioUnit::create().value();
    ASSERT_FALSE(unit->setFullStateText(fileBytes(dir / "saved.json")));
    for (const auto& [id, value] : expected)
        EXPECT_EQ(unit->parameterTree()->valueForKey(id)->value(), value) << id;
}

// Refused or failed runs leave nothing; nor does the program when a catchable signal, or its writer going
// away (0: an input that ends early), ends it at once as it stalls on the FIFO as IN.
TEST_F(Render, RefusalsFailuresSignalsAndEarlyEndsLeaveNothingAndTheProgramExitsWithTheirStatus) {
    writeSine(dir / "in.wav", 44100, 1, 5000, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    writeSine(dir / "surround.wav", 44100, 3, 1000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    writeSine(dir / "slow.wav", 4000, 1, 1000, SF_FORMAT_WAV | SF_FORMAT_FLOAT);
    std::ofstream(dir / "existing.wav") << "previous render";
    std::ofstream(dir / "huge.json") << "{\"trim\": 1" + std::string(140000, ' ') + "}";
    std::ofstream(dir / "longnumber.json") << "{\"trim\": 1" + std::string(60000, '0') + "x}";
    fs::create_directory(dir / "sub");
    fs::create_hard_link(dir / "in.wav", dir / "hardlink.wav");
    fs::create_symlink(dir / "in.wav", dir / "symlink.wav");
    ASSERT_EQ(mkfifo(path("fifo").c_str(), 0600), 0);
    sockaddr_un address{AF_UNIX, {}};
    path("socket").copy(address.sun_path, sizeof(address.sun_path) - 1);
    const int socket = ::socket(AF_UNIX, SOCK_STREAM, 0);
    ASSERT_EQ(bind(socket, reinterpret_cast<const sockaddr*>(&address), sizeof(address)), 0);
    const auto before = names();
    const std::string original = fileBytes(dir / "in.wav");
    const std::string in = path("in.wav"), outPath = path("out.wav");

    const struct {
        std::vector<std::string> args;
        int status;
        std::string mentions; // "interrupted": run as if a signal had come
    } cases[] = {
        {{in}, 2, "usage: thraskvell-render"},
        {{in, outPath, outPath + "2"}, 2, "usage: thraskvell-render"},
        {{in, outPath, "--block", "0"}, 2, "--block"},
        {{in, outPath, "--block", "65537"}, 2, "--block"},
        {{in, outPath, "--frobnicate"}, 2, "--frobnicate"},
        {{"--demo", "0", outPath}, 2, "--demo"},
        {{"--demo", "inf", outPath}, 2, "--demo"},
        {{"--demo", "2", in, outPath}, 2, "one output"},
        {{"--demo", "2"}, 2, "one output"},
        {{in, outPath, "--set", "wobble=1"}, 2, "dynamicsEnable"},
        {{in, outPath, "--set", "volume=" + std::string(5000, '1')}, 2, " ... "},
        {{in, path("out.xyz")}, 2, "out.xyz"},
        {{in, path("hardlink.wav")}, 2, "same file"},
        {{in, path("symlink.wav")}, 2, "same file"},
        {{in, path("fifo")}, 2, "FIFO"},
        {{in, path("socket")}, 2, "socket"},
        {{"--demo", "0.1", outPath, "--save-preset", outPath}, 2, "refusing to overwrite"},
        {{"--demo", "0.1", outPath, "--preset", ""}, 2, "--preset needs"},
        {{in, outPath, "--save-preset", in}, 2, "refusing to overwrite"},
        {{path("missing.wav"), outPath}, 1, "missing.wav"},
        {{in, path("nodir/out.wav")}, 1, "nodir"},
        {{in, dir.string() + "/"}, 1, "thraskvell-render:"},
        {{path("surround.wav"), outPath}, 1, "3 channels"},
        {{path("slow.wav"), outPath}, 1, "sample rate 4000 Hz"},
        {{path("sub"), outPath}, 1, "is a folder"},
        {{in, path("existing.wav"), "--save-preset", path("nodir/p.json")}, 1, "nodir"},
        {{"--demo", "0.1", outPath, "--preset", path("huge.json")}, 1, "bytes"},
        {{"--demo", "0.1", outPath, "--preset", path("longnumber.json")}, 1, " ... "},
        {{"--demo", "0.1", outPath, "--preset", path("none.json")}, 1, "cannot open preset"},
        {{"--demo", "0.1", outPath, "--preset", "doom-walls"}, 1, "factory preset"},
        {{in, path("existing.wav"), "--save-preset", path("saved.json")}, 1, "interrupted"},
        {{"--demo", "1", path("existing.wav")}, 1, "interrupted"},
        {{"--help"}, 0, "--demo"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(PrintToString(c.args));
        const volatile std::sig_atomic_t interrupted = 1;
        EXPECT_EQ(run(c.args, {false, c.mentions == "interrupted" ? &interrupted : nullptr, {}}), c.status);
        EXPECT_THAT(out.str() + err.str(), AllOf(HasSubstr(c.mentions), Not(ContainsRegex("[^\n]{400}"))));
        EXPECT_EQ(names(), before);
        EXPECT_EQ(fileBytes(dir / "in.wav") + fileBytes(dir / "existing.wav"), original + "previous render");
    }
    close(socket);
    for (const int signal : {SIGHUP, SIGINT, SIGQUIT, SIGPIPE, SIGTERM, SIGUSR1, SIGUSR2, 0}) {
        SCOPED_TRACE(strsignal(signal));
        // Both ends held here, so the render sees the end of its input only when this one closes.
        int fifo = open(path("fifo").c_str(), O_RDWR | O_CLOEXEC);
        ASSERT_EQ(write(fifo, original.data(), 5000), 5000) << "half of IN";
        const auto interrupt = [&](pid_t child) {
            for (const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(10);
                 names().size() == before.size() && std::chrono::steady_clock::now() < end;)
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            EXPECT_EQ(names().size(), before.size() + 1) << "no temporary file";
            signal ? kill(child, signal) : close(std::exchange(fifo, -1));
        };
        EXPECT_EQ(program({path("fifo"), outPath}, interrupt), 1);
        close(fifo);
        EXPECT_EQ(names(), before);
    }
    EXPECT_EQ(program({in, outPath, "--set", "wobble=1"}), 2);
    EXPECT_EQ(program({in, outPath}), 0);
    EXPECT_EQ(readAudio(dir / "out.wav").samples.size(), 5000u);
}

} // namespace
} // namespace thraskvell::render
