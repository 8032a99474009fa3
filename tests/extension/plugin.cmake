# The built plug-in binaries in their hosts (lilv, the CLAP and travesty headers DPF ships; nothing of
# DPF is linked): the format contract and one threaded test, so all of it runs under ThreadSanitizer.
pkg_check_modules(LILV REQUIRED IMPORTED_TARGET lilv-0)
thraskvell_test(thraskvell_plugin_contract_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/plugin/PluginContractTest.cpp
    LIBS thraskvell_dsp thraskvell_allocation_counter PkgConfig::LILV ${CMAKE_DL_LIBS}
    LABELS threads TIMEOUT 120)
target_include_directories(thraskvell_plugin_contract_test SYSTEM PRIVATE ${DPF_ROOT_DIR}/distrho/src)
target_compile_definitions(thraskvell_plugin_contract_test PRIVATE
    THRASKVELL_MONO_LV2_BUNDLE="${PROJECT_BINARY_DIR}/bin/ThraskVellMono.lv2/"
    THRASKVELL_STEREO_LV2_BUNDLE="${PROJECT_BINARY_DIR}/bin/ThraskVellStereo.lv2/"
    THRASKVELL_MONO_CLAP="$<TARGET_FILE:ThraskVellMono-clap>" THRASKVELL_STEREO_CLAP="$<TARGET_FILE:ThraskVellStereo-clap>"
    THRASKVELL_MONO_VST3="$<TARGET_FILE:ThraskVellMono-vst3>" THRASKVELL_STEREO_VST3="$<TARGET_FILE:ThraskVellStereo-vst3>"
    THRASKVELL_PRESETS_DIR="${PROJECT_SOURCE_DIR}/presets/")
add_dependencies(thraskvell_plugin_contract_test thraskvell_plugins)
