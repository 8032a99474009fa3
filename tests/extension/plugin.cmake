# The built plug-in binaries in their hosts (lilv, the CLAP and travesty headers DPF ships; nothing of
# DPF is linked): the format contract, a threaded CLAP test and a jalv smoke test.
pkg_check_modules(LILV REQUIRED IMPORTED_TARGET lilv-0)
set(thraskvell_plugin_dir ${CMAKE_CURRENT_LIST_DIR}/plugin)
thraskvell_test(thraskvell_plugin_contract_test
    SOURCES ${thraskvell_plugin_dir}/PluginContractTest.cpp
    LIBS thraskvell_dsp thraskvell_allocation_counter PkgConfig::LILV ${CMAKE_DL_LIBS})
thraskvell_test(thraskvell_plugin_thread_test
    SOURCES ${thraskvell_plugin_dir}/ClapThreadTest.cpp
    LIBS thraskvell_dsp ${CMAKE_DL_LIBS}
    LABELS threads TIMEOUT 120)
foreach(test IN ITEMS thraskvell_plugin_contract_test thraskvell_plugin_thread_test)
    target_include_directories(${test} SYSTEM PRIVATE ${DPF_ROOT_DIR}/distrho/src)
    target_compile_definitions(${test} PRIVATE
        THRASKVELL_MONO_LV2_BUNDLE="${PROJECT_BINARY_DIR}/bin/ThraskVellMono.lv2/"
        THRASKVELL_STEREO_LV2_BUNDLE="${PROJECT_BINARY_DIR}/bin/ThraskVellStereo.lv2/"
        THRASKVELL_MONO_CLAP="$<TARGET_FILE:ThraskVellMono-clap>" THRASKVELL_STEREO_CLAP="$<TARGET_FILE:ThraskVellStereo-clap>"
        THRASKVELL_MONO_VST3="$<TARGET_FILE:ThraskVellMono-vst3>" THRASKVELL_STEREO_VST3="$<TARGET_FILE:ThraskVellStereo-vst3>")
    add_dependencies(${test} thraskvell_plugins)
endforeach()

# jalv cannot load a sanitized module (the sanitizer runtime must come first in a process), so the
# smoke test runs in plain builds only; the script skips when jalv or jackd is missing.
if(NOT THRASKVELL_SANITIZE)
    add_test(NAME thraskvell_plugin_jalv_smoke
             COMMAND ${thraskvell_plugin_dir}/jalv-smoke.sh ${PROJECT_BINARY_DIR}/bin/ThraskVellStereo.lv2
                     urn:thraskvell:fuzz:stereo)
    set_tests_properties(thraskvell_plugin_jalv_smoke PROPERTIES TIMEOUT 60 LABELS host SKIP_RETURN_CODE 77)
endif()
