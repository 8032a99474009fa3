// The view the plug-in contract tests have of one instance, whatever the format: each format's
// host wrapper implements it.
//
// Threads: main, except process, which a real host calls on its audio thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace thraskvell::test {

// What a host sees of one parameter. Formats without symbols leave it empty.
struct HostParameter {
    std::string name, symbol;
    double min, max, defaultValue;
    bool automatable, stepped;
};

// One plug-in instance as a host of one format drives it.
class PluginAdapter {
public:
    virtual ~PluginAdapter() = default;
    // The ids hosts store in projects, the name and the maker, as one line.
    virtual std::string identity() const = 0;
    virtual std::array<std::uint32_t, 2> audioPorts() const = 0; // channels in, out
    virtual std::vector<HostParameter> parameters() const = 0;
    // Prepares for blocks of at most maxBlock frames; again at any time with other values.
    virtual bool activate(double rate, std::uint32_t maxBlock) = 0;
    // True where activating at this rate and block size makes a new instance.
    virtual bool reinstantiates(double, std::uint32_t) const { return false; }
    // Heard from the next process call on.
    virtual void setParameter(std::uint32_t index, float value) = 0;
    virtual float parameterValue(std::uint32_t index) const = 0;
    virtual bool process(float** in, float** out, std::uint32_t frames) = 0;
    // The bytes a host keeps in its project, and restoring them.
    virtual std::string saveState() = 0;
    virtual bool restoreState(const std::string& state) = 0;
};

} // namespace thraskvell::test
