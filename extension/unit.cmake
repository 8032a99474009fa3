# The plug-in object: audio unit, parameter tree, saved state.
find_package(nlohmann_json 3.10 REQUIRED)

add_library(thraskvell_extension STATIC
    ${CMAKE_CURRENT_LIST_DIR}/ThraskVellAudioUnit.cpp
    ${CMAKE_CURRENT_LIST_DIR}/SavedState.cpp
)
target_include_directories(thraskvell_extension PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(thraskvell_extension PUBLIC thraskvell_dsp thraskvell_platform_au thraskvell_parameters
                                           PRIVATE nlohmann_json::nlohmann_json)
thraskvell_target_defaults(thraskvell_extension)
