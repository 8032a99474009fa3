// Identity and features of the stereo Thrask Vell plug-in (2 in, 2 out), read by DPF's entry code.
//
// The LV2 URI, the CLAP id and the unique id (which DPF turns into the VST3 class id) are stored by
// hosts in every saved project: they never change.
#pragma once

#include "../SharedPluginInfo.h"

#define DISTRHO_PLUGIN_NAME "Thrask Vell Stereo"
#define DISTRHO_PLUGIN_URI "urn:thraskvell:fuzz:stereo"
#define DISTRHO_PLUGIN_CLAP_ID "org.thraskvell.fuzz.stereo"
#define THRASKVELL_PLUGIN_LABEL "ThraskVellStereo"
#define THRASKVELL_PLUGIN_UNIQUE_ID d_cconst('T', 'V', 'f', 's')

#define DISTRHO_PLUGIN_NUM_INPUTS 2
#define DISTRHO_PLUGIN_NUM_OUTPUTS 2
#define DISTRHO_PLUGIN_VST3_CATEGORIES "Fx|Distortion|Stereo"
#define DISTRHO_PLUGIN_CLAP_FEATURES "audio-effect", "distortion", "stereo"
