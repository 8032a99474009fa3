# The demo's audio back end: riff → effect → SDL output, with a waveform tap and its own tree.
add_library(thraskvell_standalone_engine STATIC ${CMAKE_CURRENT_LIST_DIR}/StandaloneAudioEngine.cpp)
target_include_directories(thraskvell_standalone_engine PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(thraskvell_standalone_engine
    PUBLIC thraskvell_dsp thraskvell_riff thraskvell_parameters thraskvell_platform_au thraskvell_platform_audio
           thraskvell_platform_observe)
thraskvell_target_defaults(thraskvell_standalone_engine)
