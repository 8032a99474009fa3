#include "dsp/ParameterSpec.h"

namespace thraskvell {

std::string wordCapitalised(std::string_view text) {
    std::string result(text);
    bool wordStart = true;
    for (char& c : result) {
        c = wordStart ? detail::asciiUpper(c) : detail::asciiLower(c);
        wordStart = c == ' ';
    }
    return result;
}

static_assert(kParameterSpecs[kDryMode].name == "Drymode");
static_assert(kParameterSpecs[kDynamicsEnable].name == "Dynamicsenable");
static_assert(findParameter("Trim") == nullptr);

} // namespace thraskvell
