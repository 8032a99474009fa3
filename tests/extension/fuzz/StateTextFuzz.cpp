// libFuzzer entry for the state text reader: any bytes must give a dictionary or a clear error,
// and whatever is accepted must survive writing and reading again unchanged.
#include "extension/SavedState.h"

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    using namespace thraskvell;
    const auto state = stateFromText(std::string_view(reinterpret_cast<const char*>(data), size));
    if (!state) {
        if (state.error().localizedDescription.empty()) std::abort();
        return 0;
    }
    for (const auto& [key, value] : state.value())
        if (const auto number = parameterValueFromState(value); number && !std::isfinite(*number))
            std::abort();
    // Everything accepted comes back as it was; a non-finite number would not, being written as null.
    const auto again = stateFromText(stateToText(state.value()));
    if (!again || again.value() != state.value()) std::abort();
    return 0;
}
