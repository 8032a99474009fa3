thraskvell_test(thraskvell_shell_view_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/shell/ShellViewsTest.cpp ${PROJECT_SOURCE_DIR}/tests/ui/LeakSuppressions.cpp
    LIBS thraskvell_shell)

# The shell with its real engine on SDL's disk driver (SDL's audio thread and the tap meet the
# main queue here).
add_executable(thraskvell_shell_content_tests ${CMAKE_CURRENT_LIST_DIR}/shell/ContentViewTest.cpp
                                              ${PROJECT_SOURCE_DIR}/tests/ui/LeakSuppressions.cpp
                                              ${CMAKE_CURRENT_LIST_DIR}/shell/RaceSuppressions.cpp)
target_link_libraries(thraskvell_shell_content_tests PRIVATE thraskvell_shell GTest::gtest GTest::gtest_main)
target_include_directories(thraskvell_shell_content_tests PRIVATE ${PROJECT_SOURCE_DIR})
thraskvell_target_defaults(thraskvell_shell_content_tests)
gtest_discover_tests(thraskvell_shell_content_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 LABELS threads)

# End to end under Xvfb: the real window, a click on Play, the close button. Skipped without Xvfb.
find_package(X11 REQUIRED)
add_executable(thraskvell-close-window ${CMAKE_CURRENT_LIST_DIR}/shell/CloseWindow.cpp)
target_link_libraries(thraskvell-close-window PRIVATE X11::X11)
thraskvell_target_defaults(thraskvell-close-window)
add_test(NAME thraskvell_app_end_to_end
         COMMAND timeout 90 bash ${CMAKE_CURRENT_LIST_DIR}/shell/end_to_end.sh $<TARGET_FILE:ThraskVell>
                 $<TARGET_FILE:thraskvell-close-window>)
set_tests_properties(thraskvell_app_end_to_end PROPERTIES SKIP_RETURN_CODE 77 TIMEOUT 120)
