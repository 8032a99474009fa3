// Identity and features of the plug-in inside thraskvell-live (1 in, 2 out): the mono effect with its
// result on both outputs, so headphones hear it on both sides. It is built only into that program,
// never as an LV2, VST3 or CLAP binary; its own name and identifiers keep it apart from the mono
// plug-in all the same. DPF's JACK code names the client and the window after it.
#pragma once

#include "../SharedPluginInfo.h"

#define DISTRHO_PLUGIN_NAME "Thrask Vell Live"
#define DISTRHO_PLUGIN_URI "urn:thraskvell:fuzz:live"
#define DISTRHO_PLUGIN_CLAP_ID "org.thraskvell.fuzz.live"
#define THRASKVELL_PLUGIN_LABEL "ThraskVellLive"
#define THRASKVELL_PLUGIN_UNIQUE_ID d_cconst('T', 'V', 'f', 'l')

#define DISTRHO_PLUGIN_NUM_INPUTS 1
#define DISTRHO_PLUGIN_NUM_OUTPUTS 2
