thraskvell_test(thraskvell_platform_au_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/AUParameterTreeTest.cpp ${CMAKE_CURRENT_LIST_DIR}/AUAudioUnitTest.cpp
    LIBS thraskvell_platform_au)

# Removal racing writes: its own executable so CTest can label it for the ThreadSanitizer run.
add_executable(thraskvell_platform_au_thread_test ${CMAKE_CURRENT_LIST_DIR}/AUParameterTreeThreadTest.cpp)
target_link_libraries(thraskvell_platform_au_thread_test PRIVATE thraskvell_platform_au GTest::gtest GTest::gtest_main)
target_include_directories(thraskvell_platform_au_thread_test PRIVATE ${PROJECT_SOURCE_DIR})
thraskvell_target_defaults(thraskvell_platform_au_thread_test)
gtest_discover_tests(thraskvell_platform_au_thread_test DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 LABELS threads)
