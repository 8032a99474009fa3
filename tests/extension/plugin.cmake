# Host tests of the built plug-in binaries: LV2 through lilv, CLAP through the CLAP headers DPF ships,
# VST3 through DPF's travesty headers, and a jalv smoke test.
if(TARGET thraskvell_plugins)
    pkg_check_modules(LILV REQUIRED IMPORTED_TARGET lilv-0)
    set(thraskvell_plugin_bin ${PROJECT_BINARY_DIR}/bin)
    set(thraskvell_plugin_paths
        THRASKVELL_MONO_LV2_BUNDLE="${thraskvell_plugin_bin}/ThraskVellMono.lv2/"
        THRASKVELL_STEREO_LV2_BUNDLE="${thraskvell_plugin_bin}/ThraskVellStereo.lv2/"
        THRASKVELL_MONO_CLAP="$<TARGET_FILE:ThraskVellMono-clap>"
        THRASKVELL_STEREO_CLAP="$<TARGET_FILE:ThraskVellStereo-clap>"
        THRASKVELL_MONO_VST3="$<TARGET_FILE:ThraskVellMono-vst3>"
        THRASKVELL_STEREO_VST3="$<TARGET_FILE:ThraskVellStereo-vst3>")

    foreach(host IN ITEMS Lv2Host ClapHost Vst3Load)
        if(EXISTS ${CMAKE_CURRENT_SOURCE_DIR}/plugin/${host}Test.cpp)
            thraskvell_test(thraskvell_plugin_${host}_test
                SOURCES plugin/${host}Test.cpp
                LIBS thraskvell_dsp ${CMAKE_DL_LIBS})
            target_compile_definitions(thraskvell_plugin_${host}_test PRIVATE ${thraskvell_plugin_paths})
            add_dependencies(thraskvell_plugin_${host}_test thraskvell_plugins)
        endif()
    endforeach()
    target_link_libraries(thraskvell_plugin_Lv2Host_test PRIVATE PkgConfig::LILV thraskvell_allocation_counter)
    foreach(test IN ITEMS ClapHost Vst3Load)
        if(TARGET thraskvell_plugin_${test}_test)
            # The CLAP and VST3 headers DPF ships; headers only, nothing of DPF is linked.
            target_include_directories(thraskvell_plugin_${test}_test SYSTEM PRIVATE ${DPF_ROOT_DIR}/distrho/src)
        endif()
    endforeach()
    target_link_libraries(thraskvell_plugin_ClapHost_test PRIVATE thraskvell_allocation_counter)

    # State saves while the audio thread plays: run under ThreadSanitizer in CI.
    add_executable(thraskvell_plugin_ClapThread_test plugin/ClapThreadTest.cpp)
    target_link_libraries(thraskvell_plugin_ClapThread_test PRIVATE thraskvell_dsp ${CMAKE_DL_LIBS} GTest::gtest
                                                                    GTest::gtest_main)
    target_include_directories(thraskvell_plugin_ClapThread_test PRIVATE ${PROJECT_SOURCE_DIR})
    target_include_directories(thraskvell_plugin_ClapThread_test SYSTEM PRIVATE ${DPF_ROOT_DIR}/distrho/src)
    target_compile_definitions(thraskvell_plugin_ClapThread_test PRIVATE ${thraskvell_plugin_paths})
    thraskvell_target_defaults(thraskvell_plugin_ClapThread_test)
    add_dependencies(thraskvell_plugin_ClapThread_test thraskvell_plugins)
    gtest_discover_tests(thraskvell_plugin_ClapThread_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 LABELS threads)
endif()

# jalv cannot load a sanitized module (the sanitizer runtime must come first in a process), so the
# smoke test runs in plain builds only.
find_program(THRASKVELL_JALV jalv)
find_program(THRASKVELL_JACKD jackd)
if(TARGET thraskvell_plugins AND NOT THRASKVELL_SANITIZE AND THRASKVELL_JALV AND THRASKVELL_JACKD)
    add_test(NAME thraskvell_plugin_jalv_smoke
             COMMAND ${CMAKE_CURRENT_SOURCE_DIR}/plugin/jalv-smoke.sh ${PROJECT_BINARY_DIR}/bin/ThraskVellStereo.lv2
                     urn:thraskvell:fuzz:stereo)
    set_tests_properties(thraskvell_plugin_jalv_smoke PROPERTIES TIMEOUT 120 RUN_SERIAL TRUE)
endif()
