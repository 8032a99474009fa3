# The built plug-in binaries in their hosts: one contract over LV2 (lilv), CLAP (the CLAP headers
# DPF ships) and VST3 (DPF's travesty headers), a threaded CLAP test and a jalv smoke test.
pkg_check_modules(LILV REQUIRED IMPORTED_TARGET lilv-0)
set(thraskvell_plugin_bin ${PROJECT_BINARY_DIR}/bin)
set(thraskvell_plugin_paths
    THRASKVELL_MONO_LV2_BUNDLE="${thraskvell_plugin_bin}/ThraskVellMono.lv2/"
    THRASKVELL_STEREO_LV2_BUNDLE="${thraskvell_plugin_bin}/ThraskVellStereo.lv2/"
    THRASKVELL_MONO_CLAP="$<TARGET_FILE:ThraskVellMono-clap>"
    THRASKVELL_STEREO_CLAP="$<TARGET_FILE:ThraskVellStereo-clap>"
    THRASKVELL_MONO_VST3="$<TARGET_FILE:ThraskVellMono-vst3>"
    THRASKVELL_STEREO_VST3="$<TARGET_FILE:ThraskVellStereo-vst3>")

set(thraskvell_plugin_dir ${CMAKE_CURRENT_LIST_DIR}/plugin)
thraskvell_test(thraskvell_plugin_contract_test
    SOURCES ${thraskvell_plugin_dir}/PluginContractTest.cpp ${thraskvell_plugin_dir}/Lv2Adapter.cpp
            ${thraskvell_plugin_dir}/Vst3Adapter.cpp
    LIBS thraskvell_dsp thraskvell_allocation_counter PkgConfig::LILV ${CMAKE_DL_LIBS})
# State saves while the audio thread plays.
thraskvell_test(thraskvell_plugin_thread_test
    SOURCES ${thraskvell_plugin_dir}/ClapThreadTest.cpp
    LIBS thraskvell_dsp ${CMAKE_DL_LIBS}
    LABELS threads TIMEOUT 120)
foreach(test IN ITEMS thraskvell_plugin_contract_test thraskvell_plugin_thread_test)
    # The CLAP and VST3 headers DPF ships; headers only, nothing of DPF is linked.
    target_include_directories(${test} SYSTEM PRIVATE ${DPF_ROOT_DIR}/distrho/src)
    target_compile_definitions(${test} PRIVATE ${thraskvell_plugin_paths})
    add_dependencies(${test} thraskvell_plugins)
endforeach()

# jalv cannot load a sanitized module (the sanitizer runtime must come first in a process), so the
# smoke test runs in plain builds only; the script skips when jalv or jackd is missing.
if(NOT THRASKVELL_SANITIZE)
    add_test(NAME thraskvell_plugin_jalv_smoke
             COMMAND ${thraskvell_plugin_dir}/jalv-smoke.sh ${thraskvell_plugin_bin}/ThraskVellStereo.lv2
                     urn:thraskvell:fuzz:stereo)
    set_tests_properties(thraskvell_plugin_jalv_smoke PROPERTIES TIMEOUT 60 LABELS host SKIP_RETURN_CODE 77)
endif()
