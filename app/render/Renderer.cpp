#include "app/render/Renderer.h"

#include "app/render/AudioFile.h"
#include "app/render/Preset.h"
#include "app/render/Processing.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

namespace thraskvell::render {

namespace {

// The effect runs far faster than real time, so only the wall clock tells a long render: the bar
// appears once a render has taken this long and stays away from quick ones.
constexpr auto kLongRender = std::chrono::seconds(1);
constexpr int kBarWidth = 40;

class ProgressBar {
public:
    ProgressBar(std::ostream& err, bool enabled, std::int64_t total)
        : err_(err), enabled_(enabled && total > 0), total_(total), start_(std::chrono::steady_clock::now()) {
    }
    ~ProgressBar() {
        if (drawn_) err_ << '\n' << std::flush;
    }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void update(std::int64_t done) {
        if (!enabled_) return;
        const int percent = static_cast<int>(std::min<std::int64_t>(100, done * 100 / total_));
        if (percent == shown_) return;
        if (!drawn_ && std::chrono::steady_clock::now() - start_ < kLongRender) return;
        shown_ = percent;
        drawn_ = true;
        const int filled = percent * kBarWidth / 100;
        err_ << "\rthraskvell-render [" << std::string(static_cast<std::size_t>(filled), '#')
             << std::string(static_cast<std::size_t>(kBarWidth - filled), '.') << "] " << percent << "%"
             << std::flush;
    }

private:
    std::ostream& err_;
    bool enabled_;
    std::int64_t total_;
    std::chrono::steady_clock::time_point start_;
    int shown_ = -1;
    bool drawn_ = false;
};

bool interrupted(const RunEnvironment& env) {
    return env.interrupted && *env.interrupted != 0;
}

template <typename... Parts> int fail(std::ostream& err, const Parts&... parts) {
    err << "thraskvell-render: ";
    (err << ... << parts);
    err << '\n';
    return kExitFailure;
}

// Runs a render, turning the errors a render can meet into a message and the failure status.
template <typename Render> int reportingFailures(std::ostream& err, Render&& render) {
    try {
        return render();
    } catch (const AudioFileError& e) {
        return fail(err, e.what());
    } catch (const ProcessingError& e) {
        return fail(err, e.what());
    } catch (const std::bad_alloc&) {
        return fail(err, "out of memory");
    }
}

} // namespace

int renderFile(const RenderOptions& options, std::ostream& err, const RunEnvironment& env) {
    if (sameFile(options.input, options.output)) {
        err << "thraskvell-render: IN and OUT are the same file (" << options.output.string()
            << "); refusing to overwrite the input\n";
        return kExitUsage;
    }
    return reportingFailures(err, [&] {
        AudioFileReader reader(options.input);
        if (reader.channels() > 2)
            return fail(err, options.input, " has ", reader.channels(),
                        " channels; only mono and stereo files can be processed");

        const RenderState state(options);
        HostedEffect effect(reader.sampleRate(), reader.channels(), options.blockSize);
        applySettings(effect.bridge(), state.settings());
        AudioFileWriter writer(options.output, reader.sampleRate(), reader.channels());

        const auto frames = static_cast<std::size_t>(options.blockSize);
        std::vector<float> block(frames * static_cast<std::size_t>(reader.channels()));
        ProgressBar progress(err, env.stderrIsTerminal, reader.frames());
        std::int64_t done = 0;
        while (const std::int64_t got = reader.read(block.data(), options.blockSize)) {
            if (interrupted(env)) return fail(err, "interrupted; nothing written");
            effect.process(block.data(), block.data(), static_cast<int>(got));
            writer.write(block.data(), got);
            done += got;
            progress.update(done);
        }
        writer.commit();
        if (options.savePreset) state.save(*options.savePreset);
        return kExitSuccess;
    });
}

int renderDemo(const RenderOptions& options, std::ostream& err, const RunEnvironment& env) {
    return reportingFailures(err, [&] {
        const RenderState state(options);
        DemoRiff demo(options.blockSize);
        applySettings(demo.bridge(), state.settings());
        AudioFileWriter writer(options.output, static_cast<int>(DemoRiff::kSampleRate), DemoRiff::kChannels);

        const auto total =
            std::max<std::int64_t>(1, std::llround(options.demoSeconds * DemoRiff::kSampleRate));
        std::vector<float> block(static_cast<std::size_t>(options.blockSize) * DemoRiff::kChannels);
        ProgressBar progress(err, env.stderrIsTerminal, total);
        for (std::int64_t done = 0; done < total;) {
            if (interrupted(env)) return fail(err, "interrupted; nothing written");
            const auto n = static_cast<int>(std::min<std::int64_t>(options.blockSize, total - done));
            demo.render(block.data(), n);
            writer.write(block.data(), n);
            done += n;
            progress.update(done);
        }
        writer.commit();
        if (options.savePreset) state.save(*options.savePreset);
        return kExitSuccess;
    });
}

int runRenderer(int argc, const char* const* argv, std::ostream& out, std::ostream& err,
                const RunEnvironment& env) {
    ParseResult parsed = parseRenderOptions(argc, argv);
    if (!parsed.options) {
        (parsed.exitCode == kExitSuccess ? out : err) << parsed.message << '\n';
        return parsed.exitCode;
    }
    const RenderOptions& options = *parsed.options;
    if (!writableExtension(options.output)) {
        err << "thraskvell-render: cannot tell which file type to write from " << options.output
            << "; use .wav (32-bit float) or another extension libsndfile writes (.flac, .aiff, .ogg, ...)\n";
        return kExitUsage;
    }
    if (options.savePreset) {
        for (const auto* audio : {&options.output, &options.input}) {
            if (audio->empty()) continue;
            std::error_code ec1, ec2;
            if (std::filesystem::weakly_canonical(*options.savePreset, ec1) ==
                    std::filesystem::weakly_canonical(*audio, ec2) ||
                sameFile(*options.savePreset, *audio)) {
                err << "thraskvell-render: --save-preset names the audio file " << audio->string()
                    << "; refusing to overwrite it\n";
                return kExitUsage;
            }
        }
    }
    return options.mode == RenderOptions::Mode::Demo ? renderDemo(options, err, env)
                                                     : renderFile(options, err, env);
}

} // namespace thraskvell::render
