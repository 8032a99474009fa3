// For a program that builds the plug-in in (thraskvell-live, DPF's JACK standalone): it may restore its
// settings into the unit as soon as the plug-in object has made it, before the editor and the audio
// see it, and keep them when the object goes, after the audio has stopped. Plug-ins in hosts never
// set these, and behave as without them.
//
// Threads: set on the main thread before DPF creates the plug-in; called on the thread that creates
// and destroys it (the main thread).
#pragma once

#include <functional>

namespace thraskvell {

class ThraskVellAudioUnit;

struct PluginUnitHooks {
    std::function<void(ThraskVellAudioUnit&)> created;
    std::function<void(ThraskVellAudioUnit&)> destroying;
};

// Main, before the plug-in is created. Defined by the adapter (ThraskVellPlugin.cpp).
void setPluginUnitHooks(PluginUnitHooks hooks);

} // namespace thraskvell
