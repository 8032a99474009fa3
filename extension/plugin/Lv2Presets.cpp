// Build tool: adds the factory presets to a plug-in's LV2 bundle, after DPF wrote its manifest.
//
//   thraskvell-lv2-presets BUNDLE_DIR
//
// Writes BUNDLE_DIR/presets.ttl and appends one entry per preset to BUNDLE_DIR/manifest.ttl (which
// DPF rewrites whenever the plug-in is linked, so the entries are never appended twice). Each preset
// carries the state text a host would save after loading it and the port values, since hosts apply
// those and the plug-in takes its parameters from them.
#include "dsp/ParameterSpec.h"
#include "extension/ThraskVellAudioUnit.h"
#include "presets/FactoryPresets.h"

#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <string_view>

namespace {

using namespace thraskvell;

// The plug-in's URI is the subject of the manifest's "a lv2:Plugin" statement.
std::string pluginUri(const std::string& manifest) {
    const auto plugin = manifest.find("\n    a lv2:Plugin");
    if (plugin == std::string::npos) return {};
    const auto open = manifest.rfind('<', plugin);
    const auto close = manifest.find('>', open);
    return open == std::string::npos || close > plugin ? std::string()
                                                       : manifest.substr(open + 1, close - open - 1);
}

std::string turtleLongString(const std::string& text) {
    std::string quoted = "\"\"\"";
    for (char c : text) {
        if (c == '\\' || c == '"') quoted += '\\';
        quoted += c;
    }
    return quoted + "\"\"\"";
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: thraskvell-lv2-presets BUNDLE_DIR\n";
        return 2;
    }
    const std::string bundle = argv[1];
    std::stringstream manifestText;
    manifestText << std::ifstream(bundle + "/manifest.ttl").rdbuf();
    const std::string uri = pluginUri(manifestText.str());
    if (uri.empty()) {
        std::cerr << "thraskvell-lv2-presets: no plug-in in " << bundle << "/manifest.ttl\n";
        return 1;
    }

    std::ostringstream presets;
    std::ostringstream entries;
    presets << "@prefix lv2:   <http://lv2plug.in/ns/lv2core#> .\n"
               "@prefix pset:  <http://lv2plug.in/ns/ext/presets#> .\n"
               "@prefix rdfs:  <http://www.w3.org/2000/01/rdf-schema#> .\n"
               "@prefix state: <http://lv2plug.in/ns/ext/state#> .\n";
    entries << "\n@prefix pset: <http://lv2plug.in/ns/ext/presets#> .\n";
    for (const FactoryPreset& preset : factoryPresets()) {
        auto unit = ThraskVellAudioUnit::create();
        if (!unit) return 1;
        if (const auto error = unit.value()->setFullStateText(preset.text)) {
            std::cerr << "thraskvell-lv2-presets: " << preset.slug << ": " << error->localizedDescription
                      << "\n";
            return 1;
        }
        const std::string subject = "<" + uri + ":preset:" + std::string(preset.slug) + ">";
        entries << "\n"
                << subject << "\n    a pset:Preset ;\n    lv2:appliesTo <" << uri << "> ;\n"
                << "    rdfs:label \"" << preset.name << "\" ;\n    rdfs:seeAlso <presets.ttl> .\n";
        presets << "\n"
                << subject << "\n    a pset:Preset ;\n    lv2:appliesTo <" << uri << "> ;\n"
                << "    rdfs:label \"" << preset.name << "\" ;\n"
                << "    state:state [\n        <urn:distrho:fullState> "
                << turtleLongString(unit.value()->fullStateText()) << "\n    ] ;\n    lv2:port";
        const auto& parameters = unit.value()->parameterTree()->allParameters();
        for (std::size_t i = 0; i < parameters.size(); ++i) {
            char value[32];
            std::snprintf(value, sizeof value, "%.9g", double(parameters[i]->value()));
            // A decimal point keeps the literal a float, the type of an LV2 control port.
            const bool integral = std::string_view(value).find_first_of(".e") == std::string_view::npos;
            presets << (i == 0 ? " [\n" : " , [\n") << "        lv2:symbol \"" << parameters[i]->identifier()
                    << "\" ;\n        pset:value " << value << (integral ? ".0" : "") << "\n    ]";
        }
        presets << " .\n";
    }

    std::ofstream presetsFile(bundle + "/presets.ttl", std::ios::trunc);
    presetsFile << presets.str();
    std::ofstream manifestFile(bundle + "/manifest.ttl", std::ios::app);
    manifestFile << entries.str();
    if (!presetsFile.flush() || !manifestFile.flush()) {
        std::cerr << "thraskvell-lv2-presets: cannot write to " << bundle << "\n";
        return 1;
    }
    return 0;
}
