// libFuzzer entry for the state text reader: any bytes must give a dictionary or a clear error,
// and whatever is accepted must survive writing and reading again unchanged.
#include "extension/SavedState.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace thraskvell;
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    const auto state = stateFromText(text);
    if (!state) {
        if (state.error().localizedDescription.empty()) std::abort();
        return 0;
    }
    for (const auto& [key, value] : state.value()) {
        if (const auto number = parameterValueFromState(value); number && !std::isfinite(*number))
            std::abort();
    }
    const auto again = stateFromText(stateToText(state.value()));
    if (!again) std::abort();
    // Non-finite numbers are written as null and dropped; everything else comes back as it was.
    auto expected = state.value();
    std::erase_if(expected, [](const auto& entry) {
        const double* number = std::get_if<double>(&entry.second);
        return number && !std::isfinite(*number);
    });
    if (again.value() != expected) std::abort();
    return 0;
}
