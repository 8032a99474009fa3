# The editor: view controller and factory, its synchronisation with a host, and (under Xvfb; 77:
# skipped when a tool is missing) the editor in a CLAP host of our own and in jalv.
thraskvell_test(thraskvell_editor_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/editor/EditorTest.cpp ${PROJECT_SOURCE_DIR}/tests/ui/LeakSuppressions.cpp
    LIBS thraskvell_editor thraskvell_allocation_counter LABELS threads)

find_package(X11 REQUIRED)
add_executable(thraskvell-xprobe ${CMAKE_CURRENT_LIST_DIR}/editor/XProbe.cpp)
target_link_libraries(thraskvell-xprobe PRIVATE X11::X11)
thraskvell_target_defaults(thraskvell-xprobe)

# jalv cannot load a sanitized module, so the jalv editor test runs in plain builds only.
foreach(variant IN ITEMS Stereo Mono)
    string(TOLOWER ${variant} name)
    if(NOT THRASKVELL_SANITIZE)
        add_test(NAME thraskvell_editor_jalv_${name}
                 COMMAND ${CMAKE_CURRENT_LIST_DIR}/editor/jalv-editor.sh ${PROJECT_BINARY_DIR}/bin/ThraskVell${variant}.lv2
                         urn:thraskvell:fuzz:${name} $<TARGET_FILE:thraskvell-xprobe>)
        set_tests_properties(thraskvell_editor_jalv_${name} PROPERTIES TIMEOUT 60 LABELS "host;display" SKIP_RETURN_CODE 77)
    endif()
endforeach()

find_program(THRASKVELL_XDOTOOL xdotool)
if(THRASKVELL_XDOTOOL)
    add_executable(thraskvell_editor_clap_test ${CMAKE_CURRENT_LIST_DIR}/editor/ClapEditorTest.cpp)
    target_link_libraries(thraskvell_editor_clap_test PRIVATE X11::X11 ${CMAKE_DL_LIBS} GTest::gtest GTest::gtest_main)
    target_include_directories(thraskvell_editor_clap_test SYSTEM PRIVATE ${DPF_ROOT_DIR}/distrho/src)
    target_compile_definitions(thraskvell_editor_clap_test PRIVATE THRASKVELL_STEREO_CLAP="$<TARGET_FILE:ThraskVellStereo-clap>")
    thraskvell_target_defaults(thraskvell_editor_clap_test)
    add_dependencies(thraskvell_editor_clap_test thraskvell_plugins)
    add_test(NAME thraskvell_editor_clap COMMAND ${CMAKE_CURRENT_LIST_DIR}/editor/xsession.sh 50 $<TARGET_FILE:thraskvell_editor_clap_test>)
    set_tests_properties(thraskvell_editor_clap PROPERTIES TIMEOUT 60 LABELS display SKIP_RETURN_CODE 77)
endif()
