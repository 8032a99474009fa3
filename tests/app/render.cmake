if(NOT TARGET PkgConfig::THRASKVELL_SNDFILE)
    pkg_check_modules(THRASKVELL_SNDFILE REQUIRED IMPORTED_TARGET sndfile)
endif()
thraskvell_test(render_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/RenderTest.cpp
    LIBS thraskvell_render_core PkgConfig::THRASKVELL_SNDFILE)
target_compile_definitions(render_test PRIVATE THRASKVELL_RENDER_BINARY="$<TARGET_FILE:thraskvell-render>")
add_dependencies(render_test thraskvell-render)
# GCC 12 reports string concatenation as overlapping memcpy (GCC bug 105651); the warning is false.
if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
    target_compile_options(render_test PRIVATE -Wno-restrict)
endif()
