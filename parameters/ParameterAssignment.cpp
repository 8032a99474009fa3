#include "parameters/ParameterAssignment.h"

#include "dsp/ParameterSpec.h"

#include <charconv>
#include <cmath>
#include <sstream>

namespace thraskvell {

std::optional<ParameterAssignment> parseParameterAssignment(std::string_view text, std::string& error) {
    // A stream rather than string concatenation: GCC 12 misreports the latter (GCC bug 105651).
    std::ostringstream message;
    const auto equals = text.find('=');
    const std::string_view identifier = text.substr(0, equals);
    const ParameterSpec* definition = findParameter(identifier);
    float value = 0.0f;
    if (equals == std::string_view::npos) {
        message << "expected id=value, got '" << text << "'";
    } else if (!definition) {
        message << "unknown parameter '" << identifier << "'";
    } else {
        const std::string_view number = text.substr(equals + 1);
        const char* end = number.data() + number.size();
        const auto [ptr, ec] = std::from_chars(number.data(), end, value);
        const bool outOfRange = ec == std::errc::result_out_of_range && ptr == end;
        if ((ec != std::errc() && !outOfRange) || ptr != end || std::isnan(value))
            message << "'" << number << "' is not a number (in " << text << ")";
        // The bridge stores whatever it is given; keeping to the published range is the writer's job.
        else if (outOfRange || value < definition->minValue || value > definition->maxValue)
            message << "'" << number << "' is out of range: " << identifier << " ranges from "
                    << definition->minValue << " to " << definition->maxValue;
        else
            return ParameterAssignment{std::string(identifier), value};
    }
    error = message.str();
    return std::nullopt;
}

std::string parameterIdentifierList() {
    std::string list;
    for (const auto& definition : allParameters()) {
        if (!list.empty()) list += ", ";
        list += definition.identifier;
    }
    return list;
}

} // namespace thraskvell
