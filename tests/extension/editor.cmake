# The editor: view controller and factory, view stand-ins, and host synchronisation.
if(TARGET thraskvell_editor)
    thraskvell_test(thraskvell_editor_test
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/editor/ViewControllerTest.cpp
                ${PROJECT_SOURCE_DIR}/tests/ui/LeakSuppressions.cpp
        LIBS thraskvell_editor)
    # Host automation from another thread while the editor edits: run under ThreadSanitizer in CI.
    # Pango's font start-up thread races inside fontconfig as ThreadSanitizer sees it; the shell
    # tests' suppressions cover exactly those libraries.
    add_executable(thraskvell_editor_sync_test ${CMAKE_CURRENT_LIST_DIR}/editor/EditorHostSyncTest.cpp
                                               ${PROJECT_SOURCE_DIR}/tests/ui/LeakSuppressions.cpp
                                               ${PROJECT_SOURCE_DIR}/tests/app/shell/RaceSuppressions.cpp)
    target_link_libraries(thraskvell_editor_sync_test PRIVATE thraskvell_editor thraskvell_allocation_counter GTest::gtest
                                                              GTest::gtest_main)
    target_include_directories(thraskvell_editor_sync_test PRIVATE ${PROJECT_SOURCE_DIR})
    thraskvell_target_defaults(thraskvell_editor_sync_test)
    gtest_discover_tests(thraskvell_editor_sync_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 LABELS threads)
endif()

# The editor inside real hosts under Xvfb: a screen grabber for the scripts.
find_package(X11)
if(TARGET thraskvell_plugins AND X11_FOUND)
    pkg_check_modules(THRASKVELL_XGRAB_CAIRO IMPORTED_TARGET cairo)
    add_executable(thraskvell-xgrab ${CMAKE_CURRENT_LIST_DIR}/editor/XGrab.cpp)
    target_link_libraries(thraskvell-xgrab PRIVATE X11::X11 PkgConfig::THRASKVELL_XGRAB_CAIRO)
    thraskvell_target_defaults(thraskvell-xgrab)
endif()

# jalv cannot load a sanitized module, so the jalv editor test runs in plain builds only.
find_program(THRASKVELL_JALV_GTK3 jalv.gtk3)
if(TARGET thraskvell-xgrab AND NOT THRASKVELL_SANITIZE AND THRASKVELL_JALV_GTK3)
    foreach(variant IN ITEMS Stereo Mono)
        string(TOLOWER ${variant} uri_variant)
        add_test(NAME thraskvell_editor_jalv_${uri_variant}
                 COMMAND ${CMAKE_CURRENT_LIST_DIR}/editor/jalv-editor.sh ${PROJECT_BINARY_DIR}/bin/ThraskVell${variant}.lv2
                         urn:thraskvell:fuzz:${uri_variant} $<TARGET_FILE:thraskvell-xgrab>)
        set_tests_properties(thraskvell_editor_jalv_${uri_variant} PROPERTIES TIMEOUT 180 RUN_SERIAL TRUE
                                                                              SKIP_RETURN_CODE 77)
    endforeach()
endif()

# The CLAP editor in a minimal host on an X11 parent, under Xvfb.
find_program(THRASKVELL_XDOTOOL xdotool)
if(TARGET thraskvell_plugins AND X11_FOUND AND THRASKVELL_XDOTOOL)
    add_executable(thraskvell_editor_clap_test ${CMAKE_CURRENT_LIST_DIR}/editor/ClapEditorTest.cpp)
    target_link_libraries(thraskvell_editor_clap_test PRIVATE X11::X11 ${CMAKE_DL_LIBS} GTest::gtest GTest::gtest_main)
    target_include_directories(thraskvell_editor_clap_test PRIVATE ${PROJECT_SOURCE_DIR})
    target_include_directories(thraskvell_editor_clap_test SYSTEM PRIVATE ${DPF_ROOT_DIR}/distrho/src)
    target_compile_definitions(thraskvell_editor_clap_test PRIVATE
                               THRASKVELL_STEREO_CLAP="$<TARGET_FILE:ThraskVellStereo-clap>")
    thraskvell_target_defaults(thraskvell_editor_clap_test)
    add_dependencies(thraskvell_editor_clap_test thraskvell_plugins)
    add_test(NAME thraskvell_editor_clap
             COMMAND ${CMAKE_CURRENT_LIST_DIR}/editor/with-xvfb.sh 120 $<TARGET_FILE:thraskvell_editor_clap_test>)
    set_tests_properties(thraskvell_editor_clap PROPERTIES TIMEOUT 180 RUN_SERIAL TRUE SKIP_RETURN_CODE 77)
endif()
