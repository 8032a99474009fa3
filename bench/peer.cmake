# A small lilv host that times any installed LV2 plug-in, ours or a peer's, the same way; driven by
# bench/peer-cpu.sh. It lives in bench/peer/, a folder of its own, because it is no Google Benchmark
# program: the smoke run over the executables in bench/ would call it without a plug-in URI.
pkg_check_modules(LILV REQUIRED IMPORTED_TARGET lilv-0)
add_executable(thraskvell_lilv_timing ${CMAKE_CURRENT_LIST_DIR}/LilvTiming.cpp)
target_link_libraries(thraskvell_lilv_timing PRIVATE PkgConfig::LILV)
set_target_properties(thraskvell_lilv_timing PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/peer)
thraskvell_target_defaults(thraskvell_lilv_timing)
add_dependencies(thraskvell_lilv_timing ThraskVellMono-lv2 ThraskVellStereo-lv2)
