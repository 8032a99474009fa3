# thraskvell-render: offline rendering of audio files (and of the demo riff) through the effect.
find_package(CLI11 REQUIRED)
pkg_check_modules(THRASKVELL_SNDFILE REQUIRED IMPORTED_TARGET sndfile)

# Everything but main(), so tests can run the renderer in-process.
add_library(thraskvell_render_core STATIC
    ${CMAKE_CURRENT_LIST_DIR}/render/RenderOptions.cpp
    ${CMAKE_CURRENT_LIST_DIR}/render/AudioFile.cpp
    ${CMAKE_CURRENT_LIST_DIR}/render/Processing.cpp
    ${CMAKE_CURRENT_LIST_DIR}/render/Renderer.cpp
    ${CMAKE_CURRENT_LIST_DIR}/render/Preset.cpp
    ${CMAKE_CURRENT_LIST_DIR}/render/TemporaryFile.cpp
)
target_include_directories(thraskvell_render_core PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(thraskvell_render_core
    PUBLIC thraskvell_dsp thraskvell_parameters thraskvell_riff thraskvell_extension
    PRIVATE thraskvell_presets CLI11::CLI11 PkgConfig::THRASKVELL_SNDFILE)
thraskvell_target_defaults(thraskvell_render_core)

add_executable(thraskvell-render ${CMAKE_CURRENT_LIST_DIR}/render/main.cpp)
target_link_libraries(thraskvell-render PRIVATE thraskvell_render_core)
thraskvell_target_defaults(thraskvell-render)
# GCC 12 reports string concatenation as overlapping memcpy (GCC bug 105651); the warning is false.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(thraskvell_render_core PRIVATE -Wno-restrict)
endif()

include(GNUInstallDirs)
install(TARGETS thraskvell-render RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
