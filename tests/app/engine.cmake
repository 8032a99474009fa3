thraskvell_test(thraskvell_standalone_engine_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/StandaloneAudioEngineTest.cpp $<TARGET_OBJECTS:thraskvell_allocation_counter>
    LIBS thraskvell_standalone_engine)

# Plays through SDL's disk driver: SDL's audio thread, the tap thread and the main queue all meet.
add_executable(thraskvell_standalone_engine_device_tests ${CMAKE_CURRENT_LIST_DIR}/StandaloneAudioEngineDiskTest.cpp)
target_link_libraries(thraskvell_standalone_engine_device_tests PRIVATE thraskvell_standalone_engine GTest::gtest
                                                                        GTest::gtest_main)
target_include_directories(thraskvell_standalone_engine_device_tests PRIVATE ${PROJECT_SOURCE_DIR})
thraskvell_target_defaults(thraskvell_standalone_engine_device_tests)
gtest_discover_tests(thraskvell_standalone_engine_device_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600
                     LABELS threads)
