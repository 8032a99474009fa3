# The demo riff generator: standard library only, so the demo engine and the renderer share it.
add_library(thraskvell_riff STATIC ${CMAKE_CURRENT_LIST_DIR}/BassRiffGenerator.cpp)
target_include_directories(thraskvell_riff PUBLIC ${PROJECT_SOURCE_DIR})
# Sample-exact output: no fused multiply-add, no reassociation.
target_compile_options(thraskvell_riff PRIVATE -ffp-contract=off -fno-fast-math)
thraskvell_target_defaults(thraskvell_riff)
