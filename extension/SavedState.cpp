#include "extension/SavedState.h"

#include "dsp/ParameterSpec.h"

#include <cfloat>
#include <charconv>
#include <cmath>
#include <nlohmann/json.hpp>
#include <set>

namespace thraskvell {

namespace {

using Json = nlohmann::ordered_json;

NSError stateError(std::string description) {
    return NSError{NSOSStatusErrorDomain, kAudioUnitErr_InvalidPropertyValue, std::move(description)};
}

Json jsonValue(const StateValue& value) {
    if (const double* number = std::get_if<double>(&value))
        return std::isfinite(*number) ? Json(*number) : Json();
    return Json(std::get<std::string>(value));
}

// Builds the flat dictionary straight from the parser's events: no document tree, and depth is
// known at every step, so deep nesting is refused before it costs anything.
class StateReader : public nlohmann::json_sax<nlohmann::json> {
public:
    StateDictionary state;
    std::optional<std::string> fault;
    bool overflowed = false;

    bool null() override { return skip(); }
    bool boolean(bool) override { return skip(); }
    bool number_integer(number_integer_t n) override { return number(double(n)); }
    bool number_unsigned(number_unsigned_t n) override { return number(double(n)); }
    bool number_float(number_float_t n, const string_t&) override { return number(double(n)); }
    bool string(string_t& s) override {
        if (!atTopLevelValue()) return _depth != 0 || notAnObject();
        state.insert_or_assign(_key, StateValue(std::in_place_type<std::string>, s));
        return true;
    }
    bool binary(binary_t&) override { return skip(); }

    bool start_object(std::size_t) override { return open(); }
    bool start_array(std::size_t) override {
        if (_depth == 0) return fail("The state text is a JSON array, not an object");
        return open();
    }
    bool end_object() override { return close(); }
    bool end_array() override { return close(); }

    bool key(string_t& key) override {
        if (_depth != 1) return true;
        if (!_keys.insert(key).second) return fail("The state text names \"" + key + "\" more than once");
        _key = key;
        return true;
    }

    bool parse_error(std::size_t position, const std::string&,
                     const nlohmann::detail::exception& error) override {
        constexpr int kNumberOverflow = 406;
        if (error.id == kNumberOverflow) overflowed = true;
        if (!fault) {
            // The library's message minus its "[json.exception...] " tag says what went wrong where.
            std::string_view detail = error.what();
            if (const auto tag = detail.find("] "); tag != std::string_view::npos)
                detail.remove_prefix(tag + 2);
            fault = "The state text is not valid JSON (at byte " + std::to_string(position) +
                    "): " + std::string(detail);
        }
        return false;
    }

private:
    bool atTopLevelValue() const { return _depth == 1; }
    bool notAnObject() { return fail("The state text is a single JSON value, not an object"); }
    bool skip() { return _depth != 0 || notAnObject(); }
    bool number(double value) {
        if (!atTopLevelValue()) return _depth != 0 || notAnObject();
        state.insert_or_assign(_key, StateValue(std::in_place_type<double>, value));
        return true;
    }
    bool open() {
        if (++_depth > kMaxStateNesting)
            return fail("The state text nests deeper than " + std::to_string(kMaxStateNesting) + " levels");
        return true;
    }
    bool close() {
        --_depth;
        return true;
    }
    bool fail(std::string message) {
        fault = std::move(message);
        return false;
    }

    int _depth = 0;
    std::string _key;
    std::set<std::string, std::less<>> _keys;
};

// True for a JSON number token whose magnitude is beyond double range (an underflow reads as 0).
bool overflowsDouble(std::string_view token) {
    double value = 0.0;
    if (std::from_chars(token.data(), token.data() + token.size(), value).ec !=
        std::errc::result_out_of_range)
        return false;
    const std::size_t exponentAt = token.find_first_of("eE");
    const std::string_view mantissa = token.substr(0, exponentAt);
    long exponent = 0;
    if (exponentAt != std::string_view::npos) {
        std::string_view digits = token.substr(exponentAt + 1);
        if (!digits.empty() && digits.front() == '+') digits.remove_prefix(1);
        if (std::from_chars(digits.data(), digits.data() + digits.size(), exponent).ec != std::errc{})
            return !digits.empty() && digits.front() != '-';
    }
    const std::size_t point = std::min(mantissa.find('.'), mantissa.size());
    const std::size_t firstDigit = mantissa.find_first_of("123456789");
    if (firstDigit == std::string_view::npos) return false;
    const long decade = firstDigit < point ? long(point - firstDigit) - 1 : -long(firstDigit - point);
    return decade + exponent > 0;
}

// The parser stops at a number beyond double range, yet such an entry is as unusable as a NaN and
// no reason to lose the rest: it becomes null, padded so positions in messages stay true.
std::string withOverflowingNumbersAsNull(std::string_view text) {
    std::string result(text);
    for (std::size_t i = 0; i < result.size(); ++i) {
        if (result[i] == '"') {
            for (++i; i < result.size() && result[i] != '"'; ++i)
                if (result[i] == '\\') ++i;
        } else if (result[i] == '-' || (result[i] >= '0' && result[i] <= '9')) {
            const std::size_t length =
                std::min(result.find_first_not_of("+-0123456789.eE", i), result.size()) - i;
            if (length >= 4 && overflowsDouble(std::string_view(result).substr(i, length)))
                result.replace(i, length, "null" + std::string(length - 4, ' '));
            i += length - 1;
        }
    }
    return result;
}

bool isOwnStateKey(std::string_view key) {
    // The version, the parameters, and what the audio-unit base adds to every state.
    return key == kThraskVellStateVersionKey || key == "type" || key == "subtype" || key == "manufacturer" ||
           findParameter(key) != nullptr;
}

// Bytes the state's other entries take in the compact text the unit writes.
std::size_t extraEntryBytes(const StateDictionary& state) {
    std::size_t bytes = 0;
    for (const auto& [key, value] : state)
        if (!isOwnStateKey(key))
            bytes += Json(key).dump(-1, ' ', false, Json::error_handler_t::replace).size() +
                     jsonValue(value).dump(-1, ' ', false, Json::error_handler_t::replace).size() + 2;
    return bytes;
}

} // namespace

std::string stateToText(const StateDictionary& state) {
    Json object = Json::object();
    if (const auto version = state.find(kThraskVellStateVersionKey); version != state.end())
        object[version->first] = jsonValue(version->second);
    for (const auto& definition : allParameters())
        if (const auto entry = state.find(definition.identifier); entry != state.end())
            object[entry->first] = jsonValue(entry->second);
    for (const auto& [key, value] : state)
        if (!object.contains(key)) object[key] = jsonValue(value);
    // Keys from a host may hold any bytes; replacing invalid UTF-8 keeps the output valid JSON.
    return object.dump(-1, ' ', false, Json::error_handler_t::replace);
}

NSResult<StateDictionary> stateFromText(std::string_view text) {
    if (text.size() > kMaxStateTextBytes)
        return stateError("The state text is " + std::to_string(text.size()) + " bytes; at most " +
                          std::to_string(kMaxStateTextBytes) + " are accepted");
    const auto read = [](std::string_view json) {
        StateReader reader;
        bool parsed = false;
        try {
            parsed = nlohmann::json::sax_parse(json.begin(), json.end(), &reader);
        } catch (const std::exception& error) {
            if (!reader.fault)
                reader.fault = std::string("The state text could not be read: ") + error.what();
        }
        if (!parsed && !reader.fault) reader.fault = "The state text is not a JSON object";
        return reader;
    };
    StateReader reader = read(text);
    if (reader.overflowed) reader = read(withOverflowingNumbersAsNull(text));
    if (reader.fault) return stateError(*reader.fault);
    if (const std::size_t extra = extraEntryBytes(reader.state); extra > kMaxStateExtraBytes)
        return stateError("The state text carries " + std::to_string(extra) +
                          " bytes besides the effect's own entries; at most " +
                          std::to_string(kMaxStateExtraBytes) + " are kept");
    return std::move(reader.state);
}

std::optional<float> parameterValueFromState(const StateValue& value) {
    const double* number = std::get_if<double>(&value);
    // Beyond FLT_MAX the conversion is undefined, and an infinity would poison the sound.
    if (!number || !std::isfinite(*number) || std::fabs(*number) > double(FLT_MAX)) return std::nullopt;
    return static_cast<float>(*number);
}

} // namespace thraskvell
