# Control surface tests: drawing arithmetic, controls, altar, main view, view model, pixel probes.
thraskvell_test(thraskvell_ui_tests
    SOURCES
        ${CMAKE_CURRENT_LIST_DIR}/DrawingTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/ControlsTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/AltarViewTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/MainViewTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/RenderTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/ViewModelTest.cpp
        ${CMAKE_CURRENT_LIST_DIR}/LeakSuppressions.cpp
    LIBS thraskvell_ui thraskvell_extension thraskvell_allocation_counter)

# Tree writes from other threads against the view model: run under ThreadSanitizer in CI.
add_executable(thraskvell_ui_thread_tests ${CMAKE_CURRENT_LIST_DIR}/ViewModelThreadTest.cpp)
target_link_libraries(thraskvell_ui_thread_tests PRIVATE thraskvell_ui thraskvell_extension GTest::gtest GTest::gtest_main)
target_include_directories(thraskvell_ui_thread_tests PRIVATE ${PROJECT_SOURCE_DIR})
thraskvell_target_defaults(thraskvell_ui_thread_tests)
gtest_discover_tests(thraskvell_ui_thread_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 LABELS threads)
