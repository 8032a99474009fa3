// The text form of the full-state dictionary, for hosts and files that store bytes: a JSON object
// whose keys are the dictionary's keys and whose values are its numbers and texts.
//
// Reading is bounded: at most kMaxStateTextBytes of text, kMaxStateNesting levels of nesting, and
// kMaxStateExtraBytes for the entries that are not the effect's own (the version, the parameters and
// the base's type, subtype and manufacturer), counted as the compact text the unit writes them. The
// unit keeps such entries and writes them back, so whatever it writes stays within what it reads.
// Anything malformed is refused as a whole, with a description; values that are neither numbers nor
// texts (true, null, arrays, objects) and numbers beyond double range are dropped entry by entry, as
// the state setter would skip them anyway.
//
// Threads: pure functions; any thread but the audio thread (they allocate).
#pragma once

#include "platform/NSError.h"
#include "platform/StateDictionary.h"

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace thraskvell {

inline constexpr const char* kThraskVellStateVersion = "1.0.0";
inline constexpr const char* kThraskVellStateVersionKey = "thraskVellVersion";

inline constexpr std::size_t kMaxStateExtraBytes = 64 * 1024;
inline constexpr std::size_t kMaxStateTextBytes = 2 * kMaxStateExtraBytes;
inline constexpr int kMaxStateNesting = 16;

// Compact JSON: "thraskVellVersion" first, then the parameters in address order, then any other key.
// Numbers that are not finite are written as null, which reads back as no entry.
std::string stateToText(const StateDictionary& state);

// kAudioUnitErr_InvalidPropertyValue in NSOSStatusErrorDomain for text that is too large, not
// JSON, not an object, nested too deeply, repeats a key, or carries too much besides the effect's own.
NSResult<StateDictionary> stateFromText(std::string_view text);

// The 32-bit float a state entry stands for: a finite number within the float range, else nothing.
std::optional<float> parameterValueFromState(const StateValue& value);

} // namespace thraskvell
