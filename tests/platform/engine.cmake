# The SDL-backed engine on SDL's disk driver, so the real graph runs without a sound card. Every case
# crosses threads (SDL's audio thread, the tap thread), hence the label.
add_executable(thraskvell_audio_engine_tests ${CMAKE_CURRENT_LIST_DIR}/AVAudioEngineTest.cpp
                                              $<TARGET_OBJECTS:thraskvell_allocation_counter>)
target_link_libraries(thraskvell_audio_engine_tests PRIVATE thraskvell_platform_audio GTest::gtest GTest::gtest_main)
target_include_directories(thraskvell_audio_engine_tests PRIVATE ${PROJECT_SOURCE_DIR})
thraskvell_target_defaults(thraskvell_audio_engine_tests)
gtest_discover_tests(thraskvell_audio_engine_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 LABELS threads)
