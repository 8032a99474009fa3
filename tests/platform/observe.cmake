thraskvell_test(thraskvell_observe_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/MainThreadQueueTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ObservableTest.cpp
            $<TARGET_OBJECTS:thraskvell_allocation_counter>
    LIBS thraskvell_platform_observe)

# Cross-thread cases: their own executable so CTest can label them for the ThreadSanitizer run.
add_executable(thraskvell_observe_thread_tests ${CMAKE_CURRENT_LIST_DIR}/MainThreadQueueThreadTest.cpp
                                               $<TARGET_OBJECTS:thraskvell_allocation_counter>)
target_link_libraries(thraskvell_observe_thread_tests PRIVATE thraskvell_platform_observe GTest::gtest
                                                              GTest::gtest_main)
target_include_directories(thraskvell_observe_thread_tests PRIVATE ${PROJECT_SOURCE_DIR})
thraskvell_target_defaults(thraskvell_observe_thread_tests)
gtest_discover_tests(thraskvell_observe_thread_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 LABELS threads)
