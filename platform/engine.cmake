# The demo's audio engine over SDL2: source nodes, main mixer, output and tap.
find_package(SDL2 CONFIG REQUIRED)
find_package(Threads REQUIRED)
add_library(thraskvell_platform_audio STATIC
    ${CMAKE_CURRENT_LIST_DIR}/AVAudioEngine.cpp
)
target_include_directories(thraskvell_platform_audio PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(thraskvell_platform_audio PUBLIC thraskvell_audio_types Threads::Threads PRIVATE SDL2::SDL2)
thraskvell_target_defaults(thraskvell_platform_audio)
