// The effect's twelve parameters: the one table every consumer reads.
//
// The bridge's value slots, the kernel's raw values, the plug-in's parameter tree, the saved state,
// the plug-in formats' port lists and the editor all take identifier, address, range and default
// from here. Address n is row n; hosts store addresses and identifiers with automation and saved
// sessions, so rows are never reordered.
//
// Threads: immutable compile-time data; any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace thraskvell {

using AudioUnitParameterUnit = std::uint32_t;
using AudioUnitParameterOptions = std::uint32_t;

inline constexpr AudioUnitParameterUnit kAudioUnitParameterUnit_Generic = 0;
inline constexpr AudioUnitParameterOptions kAudioUnitParameterFlag_IsReadable = 0x40000000u;
inline constexpr AudioUnitParameterOptions kAudioUnitParameterFlag_IsWritable = 0x80000000u;

struct ParameterSpec {
    std::string_view identifier;
    std::string_view name;
    std::uint64_t address = 0;
    float minValue = 0.0f;
    float maxValue = 100.0f;
    float defaultValue = 0.0f;
    AudioUnitParameterUnit units = kAudioUnitParameterUnit_Generic;
    std::optional<std::string_view> unitName;
    AudioUnitParameterOptions flags = kAudioUnitParameterFlag_IsReadable | kAudioUnitParameterFlag_IsWritable;
    std::optional<std::span<const std::string_view>> valueStrings;
    std::optional<std::span<const std::uint64_t>> dependentParameters;
};

// Addresses by name, for code that indexes slots directly.
enum ParameterAddress : std::uint64_t {
    kTrim = 0,
    kGate,
    kVolume,
    kTone,
    kSustain,
    kBlend,
    kDryMode,
    kBassBoost,
    kAsymmetry,
    kDynamicsEnable,
    kThreshold,
    kRatio,
};

inline constexpr std::size_t kParameterCount = 12;

// The four on/off parameters: 0..100 like the rest, on above 0.5.
constexpr bool isSwitchParameter(std::uint64_t address) {
    return address == kDryMode || address == kBassBoost || address == kAsymmetry ||
           address == kDynamicsEnable;
}

namespace detail {

struct ParameterRow {
    std::string_view identifier;
    float defaultValue;
};

inline constexpr std::array<ParameterRow, kParameterCount> kRows{{
    {"trim", 50.0f},
    {"gate", 0.0f},
    {"volume", 50.0f},
    {"tone", 50.0f},
    {"sustain", 50.0f},
    {"blend", 50.0f},
    {"dryMode", 0.0f},
    {"bassBoost", 0.0f},
    {"asymmetry", 0.0f},
    {"dynamicsEnable", 0.0f},
    {"threshold", 50.0f},
    {"ratio", 50.0f},
}};

constexpr char asciiUpper(char c) {
    return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c;
}
constexpr char asciiLower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

inline constexpr std::size_t kNameCapacity = 16;

// Display names are derived, never typed in: the first letter of each word upper case, the rest
// lower case, so "dryMode" reads "Drymode".
constexpr auto makeDisplayNames() {
    std::array<std::array<char, kNameCapacity>, kParameterCount> names{};
    for (std::size_t row = 0; row < kParameterCount; ++row) {
        bool wordStart = true;
        const auto id = kRows[row].identifier;
        for (std::size_t i = 0; i < id.size(); ++i) {
            names[row][i] = wordStart ? asciiUpper(id[i]) : asciiLower(id[i]);
            wordStart = id[i] == ' ';
        }
    }
    return names;
}

inline constexpr auto kDisplayNames = makeDisplayNames();

constexpr std::array<ParameterSpec, kParameterCount> makeTable() {
    std::array<ParameterSpec, kParameterCount> table{};
    for (std::size_t row = 0; row < kParameterCount; ++row) {
        table[row].identifier = kRows[row].identifier;
        table[row].name = std::string_view(kDisplayNames[row].data(), kRows[row].identifier.size());
        table[row].address = row;
        table[row].defaultValue = kRows[row].defaultValue;
    }
    return table;
}

} // namespace detail

inline constexpr std::array<ParameterSpec, kParameterCount> kParameterSpecs = detail::makeTable();

// All parameters in address order.
constexpr std::span<const ParameterSpec, kParameterCount> allParameters() {
    return kParameterSpecs;
}

// Exact, case-sensitive match; nullptr for anything that is not one of the twelve identifiers.
constexpr const ParameterSpec* findParameter(std::string_view identifier) {
    for (const auto& definition : kParameterSpecs)
        if (definition.identifier == identifier) return &definition;
    return nullptr;
}

constexpr const ParameterSpec* findParameter(std::uint64_t address) {
    return address < kParameterCount ? &kParameterSpecs[address] : nullptr;
}

constexpr std::optional<float> defaultValue(std::string_view identifier) {
    const auto* definition = findParameter(identifier);
    return definition ? std::optional<float>(definition->defaultValue) : std::nullopt;
}

// Word capitalisation as applied to identifiers, for any text.
std::string wordCapitalised(std::string_view text);

} // namespace thraskvell
