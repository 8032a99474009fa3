#include "app/render/RenderOptions.h"

#include <CLI/CLI.hpp>

#include <charconv>
#include <cmath>
#include <string_view>

namespace thraskvell::render {

namespace {

constexpr std::string_view kUsage = "usage: thraskvell-render IN OUT [--preset NAME|FILE] [--set id=value "
                                    "...] [--save-preset FILE] [--block N]\n"
                                    "       thraskvell-render --demo SECONDS OUT [--preset NAME|FILE] [--set "
                                    "id=value ...] [--save-preset FILE]\n"
                                    "                         [--block N]";

template <typename Number> std::optional<Number> parseNumber(std::string_view text) {
    Number value{};
    const char* end = text.data() + text.size();
    const auto [ptr, ec] = std::from_chars(text.data(), end, value);
    if (ec != std::errc() || ptr != end || text.empty()) return std::nullopt;
    return value;
}

ParseResult usageError(std::string message) {
    return ParseResult{std::nullopt, kExitUsage,
                       "thraskvell-render: " + shortened(message) + "\n" + std::string(kUsage)};
}

} // namespace

std::string shortened(std::string_view message) {
    constexpr std::size_t kLongest = 400, kHead = 200, kTail = 150;
    if (message.size() <= kLongest) return std::string(message);
    // Whole UTF-8 characters only.
    const auto continuation = [&](std::size_t i) {
        return (static_cast<unsigned char>(message[i]) & 0xC0) == 0x80;
    };
    std::size_t head = kHead, tail = message.size() - kTail;
    while (head > 0 && continuation(head))
        --head;
    while (tail < message.size() && continuation(tail))
        ++tail;
    return std::string(message.substr(0, head)).append(" ... ").append(message.substr(tail));
}

ParseResult parseRenderOptions(int argc, const char* const* argv) {
    CLI::App app{"Runs audio through the Thrask Vell bass fuzz and writes the result.\n" +
                     std::string(kUsage) + "\nParameters: " + parameterIdentifierList() + " (each 0 to 100).",
                 "thraskvell-render"};
    app.footer("Exit status: 0 rendered, 1 the render failed (OUT is left as it was), 2 wrong command line.");
    std::vector<std::string> files;
    std::string demo;
    std::string block;
    std::vector<std::string> sets;
    std::string preset;
    std::string savePreset;
    app.add_option("files", files, "IN OUT, or just OUT with --demo");
    app.add_option("--demo", demo, "render SECONDS of the demo riff instead of a file")->type_name("SECONDS");
    app.add_option("--block", block, "frames per processing block (default 512)")->type_name("N");
    app.add_option("--set", sets, "set a parameter before rendering; repeatable")
        ->type_name("ID=VALUE")
        ->expected(1)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    app.add_option("--preset", preset,
                   "apply a factory preset by name, or a saved state (JSON file), before the --set options")
        ->type_name("FILE");
    app.add_option("--save-preset", savePreset, "after rendering, save the state (JSON) with --set applied")
        ->type_name("FILE");

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        return ParseResult{std::nullopt, kExitSuccess, app.help()};
    } catch (const CLI::ParseError& e) {
        return usageError(e.what());
    }

    RenderOptions options;
    const bool demoMode = app.count("--demo") > 0;
    if (demoMode) {
        options.mode = RenderOptions::Mode::Demo;
        const auto seconds = parseNumber<double>(demo);
        if (!seconds || !std::isfinite(*seconds) || *seconds <= 0.0 || *seconds > kMaxDemoSeconds)
            return usageError("--demo expects a number of seconds above 0 and at most 86400, got '" + demo +
                              "'");
        options.demoSeconds = *seconds;
        if (files.size() != 1) return usageError("--demo takes exactly one output file");
        options.output = files[0];
    } else {
        if (files.size() != 2) return usageError("expected an input and an output file");
        options.input = files[0];
        options.output = files[1];
    }
    if (options.output.empty() || (!demoMode && options.input.empty()))
        return usageError("file names must not be empty");

    if (app.count("--block") > 0) {
        const auto size = parseNumber<int>(block);
        if (!size || *size < 1 || *size > kMaxBlockSize)
            return usageError("--block expects a whole number from 1 to " + std::to_string(kMaxBlockSize) +
                              ", got '" + block + "'");
        options.blockSize = *size;
    }

    if (app.count("--preset") > 0) {
        if (preset.empty()) return usageError("--preset needs a preset name or a file name");
        options.preset = preset;
    }
    if (app.count("--save-preset") > 0) {
        if (savePreset.empty()) return usageError("--save-preset needs a file name");
        options.savePreset = savePreset;
    }

    for (const auto& text : sets) {
        std::string error;
        auto setting = parseParameterAssignment(text, error);
        if (!setting)
            return usageError("--set: " + error + "; the parameters are " + parameterIdentifierList());
        options.settings.push_back(std::move(*setting));
    }
    return ParseResult{std::move(options), kExitSuccess, {}};
}

} // namespace thraskvell::render
