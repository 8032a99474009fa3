// The platform's error value and a small "value or error" result, so no exception crosses an API.
//
// An error carries a domain, a numeric code and a human-readable description. Audio-unit failures
// use the OS-status domain with the audio-unit error codes below.
//
// Threads: plain values; any thread.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <variant>

inline constexpr const char* NSOSStatusErrorDomain = "NSOSStatusErrorDomain";

inline constexpr std::int32_t kAudioUnitErr_InvalidProperty = -10879;
inline constexpr std::int32_t kAudioUnitErr_InvalidParameter = -10878;
inline constexpr std::int32_t kAudioUnitErr_InvalidElement = -10877;
inline constexpr std::int32_t kAudioUnitErr_FormatNotSupported = -10868;
inline constexpr std::int32_t kAudioUnitErr_CannotDoInCurrentContext = -10863;
inline constexpr std::int32_t kAudioUnitErr_InvalidPropertyValue = -10851;

struct NSError {
    std::string domain;
    std::int64_t code = 0;
    std::string localizedDescription;

    friend bool operator==(const NSError&, const NSError&) = default;
};

// Either a value or the error that prevented it.
template <class T> class NSResult {
public:
    NSResult(T value) : _content(std::move(value)) {}
    NSResult(NSError error) : _content(std::move(error)) {}

    bool ok() const { return _content.index() == 0; }
    explicit operator bool() const { return ok(); }

    // Only when ok().
    T& value() { return std::get<0>(_content); }
    const T& value() const { return std::get<0>(_content); }
    // Only when !ok().
    const NSError& error() const { return std::get<1>(_content); }

private:
    std::variant<T, NSError> _content;
};

// nullopt means success.
using NSErrorOrSuccess = std::optional<NSError>;
