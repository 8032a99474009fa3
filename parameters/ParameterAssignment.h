// One "id=value" assignment as written on a command line (thraskvell-render and thraskvell-snapshot
// take them with --set): the identifier must be one of the twelve, the value a finite number within
// the parameter's published range, with nothing before or after it.
//
// Threads: any (pure functions over the constant parameter table).
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace thraskvell {

struct ParameterAssignment {
    std::string identifier;
    float value = 0.0f;
};

// The assignment, or nullopt and `error` set to a one-line reason naming the offending text (no
// program name, no identifier list: callers add what their command line needs).
std::optional<ParameterAssignment> parseParameterAssignment(std::string_view text, std::string& error);

// The twelve identifiers in address order, comma separated.
std::string parameterIdentifierList();

} // namespace thraskvell
