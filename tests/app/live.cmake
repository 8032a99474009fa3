# thraskvell-live under a private JACK dummy server and Xvfb, with a JACK client of ours (live-probe).
pkg_check_modules(THRASKVELL_TEST_JACK REQUIRED IMPORTED_TARGET jack)
add_executable(thraskvell-live-probe ${CMAKE_CURRENT_LIST_DIR}/live/LiveProbe.cpp)
target_link_libraries(thraskvell-live-probe PRIVATE thraskvell_render_core PkgConfig::THRASKVELL_TEST_JACK)
thraskvell_target_defaults(thraskvell-live-probe)
add_test(NAME thraskvell_live_end_to_end
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/live/live-jack.sh $<TARGET_FILE:thraskvell-live>
                 $<TARGET_FILE:thraskvell-live-probe>)
set_tests_properties(thraskvell_live_end_to_end PROPERTIES TIMEOUT 60 LABELS "host;display" SKIP_RETURN_CODE 77)
