thraskvell_test(bridge_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/BridgeTest.cpp
    LIBS thraskvell_dsp)
thraskvell_test(bridge_allocation_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/BridgeAllocationTest.cpp
    LIBS thraskvell_dsp thraskvell_allocation_counter)

# Rendering while other threads write parameters: run under ThreadSanitizer in CI.
add_executable(bridge_thread_test ${CMAKE_CURRENT_LIST_DIR}/BridgeThreadTest.cpp)
target_link_libraries(bridge_thread_test PRIVATE thraskvell_dsp GTest::gtest GTest::gtest_main)
target_include_directories(bridge_thread_test PRIVATE ${PROJECT_SOURCE_DIR})
thraskvell_target_defaults(bridge_thread_test)
gtest_discover_tests(bridge_thread_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 LABELS threads)
