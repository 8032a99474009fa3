// Identity and features of the stereo Thrask Vell plug-in (2 in, 2 out), read by DPF's entry code.
//
// The LV2 URI, the CLAP id and the unique id (which DPF turns into the VST3 class id) are stored by
// hosts in every saved project: they never change.
#pragma once

#define DISTRHO_PLUGIN_BRAND "Thrask Vell"
#define DISTRHO_PLUGIN_NAME "Thrask Vell Stereo"
#define DISTRHO_PLUGIN_HOMEPAGE "https://thraskvell.org"
#define DISTRHO_PLUGIN_URI "urn:thraskvell:fuzz:stereo"
#define DISTRHO_PLUGIN_CLAP_ID "org.thraskvell.fuzz.stereo"
#define THRASKVELL_PLUGIN_LABEL "ThraskVellStereo"
#define THRASKVELL_PLUGIN_UNIQUE_ID d_cconst('T', 'V', 'f', 's')

#define DISTRHO_PLUGIN_NUM_INPUTS 2
#define DISTRHO_PLUGIN_NUM_OUTPUTS 2
#define DISTRHO_PLUGIN_IS_RT_SAFE 1
#define DISTRHO_PLUGIN_HAS_UI 1
// The editor works on the plug-in's own unit, so both share one process (single-binary LV2).
#define DISTRHO_PLUGIN_WANT_DIRECT_ACCESS 1
#define DISTRHO_UI_USE_CAIRO 1
#define DISTRHO_UI_DEFAULT_WIDTH 550
#define DISTRHO_UI_DEFAULT_HEIGHT 750
#define DISTRHO_UI_USER_RESIZABLE 0
#define DISTRHO_PLUGIN_WANT_STATE 1
#define DISTRHO_PLUGIN_WANT_FULL_STATE 1

#define DISTRHO_PLUGIN_LV2_CATEGORY "lv2:DistortionPlugin"
#define DISTRHO_PLUGIN_VST3_CATEGORIES "Fx|Distortion|Stereo"
#define DISTRHO_PLUGIN_CLAP_FEATURES "audio-effect", "distortion", "stereo"
