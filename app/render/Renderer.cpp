#include "app/render/Renderer.h"

#include "app/render/AudioFile.h"
#include "app/render/Preset.h"
#include "app/render/Processing.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <sstream>
#include <string>
#include <vector>

namespace thraskvell::render {

namespace {

constexpr int kBarWidth = 40;

// Failures are reported by exceptions, so the bar's line is ended before the message comes.
class ProgressBar {
public:
    ProgressBar(std::ostream& err, const RunEnvironment& env, std::int64_t total)
        : err_(err), enabled_(env.stderrIsTerminal && total > 0), total_(total),
          showAfter_(std::chrono::steady_clock::now() + env.progressAfter) {}
    ~ProgressBar() {
        if (drawn_) err_ << '\n' << std::flush;
    }
    ProgressBar(const ProgressBar&) = delete;
    ProgressBar& operator=(const ProgressBar&) = delete;

    void update(std::int64_t done) {
        if (!enabled_) return;
        const int percent = static_cast<int>(std::min<std::int64_t>(100, done * 100 / total_));
        if (percent == shown_) return;
        if (!drawn_ && std::chrono::steady_clock::now() < showAfter_) return;
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
    std::chrono::steady_clock::time_point showAfter_;
    int shown_ = -1;
    bool drawn_ = false;
};

void stopIfInterrupted(const RunEnvironment& env) {
    if (env.interrupted && *env.interrupted != 0) throw ProcessingError("interrupted; nothing written");
}

template <typename... Parts> int fail(std::ostream& err, const Parts&... parts) {
    std::ostringstream message;
    (message << ... << parts);
    err << "thraskvell-render: " << shortened(message.str()) << '\n';
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
        err << "thraskvell-render: IN and OUT are the same file (" << shortened(options.output.string())
            << "); refusing to overwrite the input\n";
        return kExitUsage;
    }
    std::error_code ec;
    if (std::filesystem::is_directory(options.input, ec))
        return fail(err, options.input, " is a folder, not an audio file");
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
        ProgressBar progress(err, env, reader.frames());
        std::int64_t done = 0;
        while (const std::int64_t got = reader.read(block.data(), options.blockSize)) {
            stopIfInterrupted(env);
            effect.process(block.data(), block.data(), static_cast<int>(got));
            writer.write(block.data(), got);
            done += got;
            progress.update(done);
        }
        if (options.savePreset) state.save(*options.savePreset);
        writer.commit();
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
        ProgressBar progress(err, env, total);
        for (std::int64_t done = 0; done < total;) {
            stopIfInterrupted(env);
            const auto n = static_cast<int>(std::min<std::int64_t>(options.blockSize, total - done));
            demo.render(block.data(), n);
            writer.write(block.data(), n);
            done += n;
            progress.update(done);
        }
        if (options.savePreset) state.save(*options.savePreset);
        writer.commit();
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
    std::error_code ec;
    using std::filesystem::file_type;
    const auto type = std::filesystem::status(options.output, ec).type();
    if (type == file_type::fifo || type == file_type::character || type == file_type::block ||
        type == file_type::socket) {
        err << "thraskvell-render: " << shortened(options.output.string())
            << " is a FIFO, device or socket; OUT must be a regular file (it is replaced when complete)\n";
        return kExitUsage;
    }
    if (!writableExtension(options.output)) {
        err << "thraskvell-render: cannot tell which file type to write from "
            << shortened(options.output.string())
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
                err << "thraskvell-render: --save-preset names the audio file " << shortened(audio->string())
                    << "; refusing to overwrite it\n";
                return kExitUsage;
            }
        }
    }
    return options.mode == RenderOptions::Mode::Demo ? renderDemo(options, err, env)
                                                     : renderFile(options, err, env);
}

} // namespace thraskvell::render
