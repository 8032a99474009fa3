// thraskvell-snapshot: renders the editor without a display into a PNG, for documentation and
// review. The values go through a real parameter tree and the view model, as in the plug-in.
#include "parameters/ParameterAssignment.h"
#include "parameters/ThraskVellParameterTree.h"
#include "ui/ThraskVellMainView.h"

#include <CLI/CLI.hpp>

#include <cairo.h>

#include <cmath>
#include <iostream>
#include <string>
#include <vector>

namespace {

class SnapshotSource : public thraskvell::ThraskVellParameterSource {
public:
    SnapshotSource() : tree_(thraskvell::makeThraskVellParameterTree()) {}
    std::shared_ptr<AUParameterTree> parameterTree() const override { return tree_; }

private:
    std::shared_ptr<AUParameterTree> tree_;
};

} // namespace

int main(int argc, char** argv) {
    CLI::App app{"Renders the Thrask Vell editor to a PNG file."};
    double width = thraskvell::ui::kMainViewMinimumSize.width;
    double height = thraskvell::ui::kMainViewMinimumSize.height;
    double scale = 1.0;
    bool advanced = false;
    std::vector<std::string> assignments;
    std::string output;
    app.add_option("--width", width, "width in points (at least 550)")->check(CLI::Range(550.0, 8192.0));
    app.add_option("--height", height, "height in points (at least 750)")->check(CLI::Range(750.0, 8192.0));
    app.add_option("--scale", scale, "device pixels per point")->check(CLI::Range(0.5, 4.0));
    app.add_option("--set", assignments, "parameter value, identifier=value (repeatable)");
    app.add_flag("--advanced", advanced, "open THE BUTCHER SHOP panel");
    app.add_option("output", output, "PNG file to write")->required();
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        // Help and version exit 0; every wrong command line exits 2, as a bad --set does.
        return app.exit(e) == 0 ? 0 : 2;
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
    const cairo_status_t status = cairo_surface_write_to_png(surface, output.c_str());
    cairo_surface_destroy(surface);
    if (status != CAIRO_STATUS_SUCCESS) {
        std::cerr << "thraskvell-snapshot: cannot write " << output << ": " << cairo_status_to_string(status)
                  << "\n";
        return 1;
    }
    return 0;
}
