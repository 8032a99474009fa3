#include "extension/SavedState.h"

#include "dsp/ParameterSpec.h"

#include <cfloat>
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
    return object.dump(2, ' ', false, Json::error_handler_t::replace) + "\n";
}

NSResult<StateDictionary> stateFromText(std::string_view text) {
    if (text.size() > kMaxStateTextBytes)
        return stateError("The state text is " + std::to_string(text.size()) + " bytes; at most " +
                          std::to_string(kMaxStateTextBytes) + " are accepted");
    StateReader reader;
    bool parsed = false;
    try {
        parsed = nlohmann::json::sax_parse(text.begin(), text.end(), &reader);
    } catch (const std::exception& error) {
        if (!reader.fault) reader.fault = std::string("The state text could not be read: ") + error.what();
    }
    if (!parsed || reader.fault)
        return stateError(reader.fault.value_or("The state text is not a JSON object"));
    return std::move(reader.state);
}

std::optional<float> parameterValueFromState(const StateValue& value) {
    const double* number = std::get_if<double>(&value);
    // Beyond FLT_MAX the conversion is undefined, and an infinity would poison the sound.
    if (!number || !std::isfinite(*number) || std::fabs(*number) > double(FLT_MAX)) return std::nullopt;
    return static_cast<float>(*number);
}

} // namespace thraskvell
