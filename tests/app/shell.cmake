thraskvell_test(thraskvell_shell_view_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/shell/ShellViewsTest.cpp
    LIBS thraskvell_shell)

# The shell with its real engine on SDL's disk driver (SDL's audio thread and the tap meet the
# main queue here).
add_executable(thraskvell_shell_content_tests ${CMAKE_CURRENT_LIST_DIR}/shell/ContentViewTest.cpp)
target_link_libraries(thraskvell_shell_content_tests PRIVATE thraskvell_shell GTest::gtest GTest::gtest_main)
target_include_directories(thraskvell_shell_content_tests PRIVATE ${PROJECT_SOURCE_DIR})
thraskvell_target_defaults(thraskvell_shell_content_tests)
gtest_discover_tests(thraskvell_shell_content_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 LABELS threads)
