# Parameter tree, audio-unit base, buses and formats.
add_library(thraskvell_platform_au STATIC
    ${CMAKE_CURRENT_LIST_DIR}/AUParameterTree.cpp
    ${CMAKE_CURRENT_LIST_DIR}/AUAudioUnit.cpp
)
target_include_directories(thraskvell_platform_au PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(thraskvell_platform_au PUBLIC thraskvell_audio_types)
thraskvell_target_defaults(thraskvell_platform_au)
