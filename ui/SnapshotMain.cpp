// thraskvell-snapshot: renders the editor without a display into a PNG, for documentation and
// review. The values go through a real parameter tree and the view model, as in the plug-in.
// Sizes and scales are bounded so that every allowed image fits Cairo's 32767 pixels a side; the PNG
// is written like thraskvell-render's audio (a temporary file beside it, renamed over it once
// complete), so a failure never leaves a truncated image in place of a good one.
#include "parameters/ParameterAssignment.h"
#include "parameters/ThraskVellParameterTree.h"
#include "ui/ThraskVellMainView.h"

#include <CLI/CLI.hpp>

#include <cairo.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <iostream>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

class SnapshotSource : public thraskvell::ThraskVellParameterSource {
public:
    SnapshotSource() : tree_(thraskvell::makeThraskVellParameterTree()) {}
    std::shared_ptr<AUParameterTree> parameterTree() const override { return tree_; }

private:
    std::shared_ptr<AUParameterTree> tree_;
};

constexpr double kMaxPoints = 4096.0;
constexpr double kMaxScale = 4.0;

cairo_status_t writeAll(void* closure, const unsigned char* data, unsigned int length) {
    const int fd = *static_cast<const int*>(closure);
    while (length > 0) {
        const ssize_t written = ::write(fd, data, length);
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) return CAIRO_STATUS_WRITE_ERROR;
        data += written;
        length -= static_cast<unsigned int>(written);
    }
    return CAIRO_STATUS_SUCCESS;
}

// A short fixed name beside the PNG, with the permission bits of the file it replaces (or those a new
// file gets under the umask), renamed over it once complete. Returns an empty string or the reason.
std::string writePng(cairo_surface_t* surface, const std::filesystem::path& output) {
    const auto directory = output.has_parent_path() ? output.parent_path() : std::filesystem::path(".");
    std::string temporary = (directory / ".thraskvell-XXXXXX").string();
    const int fd = ::mkstemp(temporary.data());
    if (fd < 0) return std::strerror(errno);
    struct stat existing {};
    if (::stat(output.c_str(), &existing) == 0 && S_ISREG(existing.st_mode)) {
        ::fchmod(fd, existing.st_mode & 07777);
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    const cairo_status_t status = cairo_surface_write_to_png_stream(surface, writeAll, const_cast<int*>(&fd));
    std::string error = status != CAIRO_STATUS_SUCCESS ? cairo_status_to_string(status) : "";
    if (::close(fd) != 0 && error.empty()) error = std::strerror(errno);
    if (error.empty() && std::rename(temporary.c_str(), output.c_str()) != 0) error = std::strerror(errno);
    if (!error.empty()) ::unlink(temporary.c_str());
    return error;
}

// False for NaN, so no non-finite value reaches Cairo.
bool within(double value, double low, double high) {
    return value >= low && value <= high;
}

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Renders the Thrask Vell editor to a PNG file."};
    double width = thraskvell::ui::kMainViewMinimumSize.width;
    double height = thraskvell::ui::kMainViewMinimumSize.height;
    double scale = 1.0;
    bool advanced = false;
    std::vector<std::string> assignments;
    std::string output;
    app.add_option("--width", width, "width in points, 550 to 4096");
    app.add_option("--height", height, "height in points, 750 to 4096");
    app.add_option("--scale", scale, "device pixels per point, above 0 and at most 4");
    app.add_option("--set", assignments, "parameter value, identifier=value (repeatable)");
    app.add_flag("--advanced", advanced, "open THE BUTCHER SHOP panel");
    app.add_option("output", output, "PNG file to write")->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version exit 0; every wrong command line exits 2, as a bad --set does.
        return app.exit(e) == 0 ? 0 : 2;
    }
    const auto minimum = thraskvell::ui::kMainViewMinimumSize;
    if (!within(width, minimum.width, kMaxPoints) || !within(height, minimum.height, kMaxPoints) ||
        !within(scale, 0.0, kMaxScale) || scale == 0.0) {
        std::cerr << "thraskvell-snapshot: --width must be from 550 to 4096, --height from 750 to 4096 and "
                     "--scale above 0 and at most 4 (got "
                  << width << " x " << height << " at " << scale << ")\n";
        return 2;
    }

    auto source = std::make_shared<SnapshotSource>();
    if (!source->parameterTree()) {
        std::cerr << "thraskvell-snapshot: could not build the parameter tree\n";
        return 1;
    }
    auto model = thraskvell::ThraskVellViewModel::make(source);
    for (const auto& text : assignments) {
        std::string error;
        const auto assignment = thraskvell::parseParameterAssignment(text, error);
        if (!assignment) {
            std::cerr << "thraskvell-snapshot: --set: " << error << "\n";
            return 2;
        }
        model->setParameterValue(assignment->identifier, assignment->value);
    }

    thraskvell::ui::ThraskVellMainView view(model);
    view.setSize({width, height});
    if (advanced) view.panel().toggle();

    const int pixelWidth = static_cast<int>(std::ceil(width * scale));
    const int pixelHeight = static_cast<int>(std::ceil(height * scale));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_ARGB32, pixelWidth, pixelHeight);
    cairo_t* cr = cairo_create(surface);
    cairo_scale(cr, scale, scale);
    view.draw(cr, scale, 0.0);
    cairo_destroy(cr);
    cairo_surface_flush(surface);
    const cairo_status_t drawn = cairo_surface_status(surface);
    const std::string error =
        drawn != CAIRO_STATUS_SUCCESS ? cairo_status_to_string(drawn) : writePng(surface, output);
    cairo_surface_destroy(surface);
    if (!error.empty()) {
        std::cerr << "thraskvell-snapshot: cannot write " << output << ": " << error << "\n";
        return 1;
    }
    return 0;
}
