// Identity and features of the mono Thrask Vell plug-in (1 in, 1 out), read by DPF's entry code.
//
// The LV2 URI, the CLAP id and the unique id (which DPF turns into the VST3 class id) are stored by
// hosts in every saved project: they never change.
#pragma once

#include "../SharedPluginInfo.h"

#define DISTRHO_PLUGIN_NAME "Thrask Vell Mono"
#define DISTRHO_PLUGIN_URI "urn:thraskvell:fuzz:mono"
#define DISTRHO_PLUGIN_CLAP_ID "org.thraskvell.fuzz.mono"
#define THRASKVELL_PLUGIN_LABEL "ThraskVellMono"
#define THRASKVELL_PLUGIN_UNIQUE_ID d_cconst('T', 'V', 'f', 'm')

#define DISTRHO_PLUGIN_NUM_INPUTS 1
#define DISTRHO_PLUGIN_NUM_OUTPUTS 1
#define DISTRHO_PLUGIN_VST3_CATEGORIES "Fx|Distortion|Mono"
#define DISTRHO_PLUGIN_CLAP_FEATURES "audio-effect", "distortion", "mono"
