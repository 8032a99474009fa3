// What the mono and stereo plug-ins share, included by each variant's DistrhoPluginInfo.h.
#pragma once

#define DISTRHO_PLUGIN_BRAND "Thrask Vell"
#define DISTRHO_PLUGIN_HOMEPAGE "https://thraskvell.org"

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
