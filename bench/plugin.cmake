# The plug-in's process call against the bridge driven directly.
thraskvell_benchmark(thraskvell_plugin_benchmark SOURCES PluginBenchmark.cpp LIBS thraskvell_dsp ${CMAKE_DL_LIBS})
target_include_directories(thraskvell_plugin_benchmark SYSTEM PRIVATE ${DPF_ROOT_DIR}/distrho/src)
set(thraskvell_bench_bin ${PROJECT_BINARY_DIR}/bin)
target_compile_definitions(thraskvell_plugin_benchmark PRIVATE
    THRASKVELL_MONO_LV2_BUNDLE="${thraskvell_bench_bin}/ThraskVellMono.lv2/"
    THRASKVELL_STEREO_LV2_BUNDLE="${thraskvell_bench_bin}/ThraskVellStereo.lv2/"
    THRASKVELL_MONO_CLAP="$<TARGET_FILE:ThraskVellMono-clap>"
    THRASKVELL_STEREO_CLAP="$<TARGET_FILE:ThraskVellStereo-clap>"
    THRASKVELL_MONO_VST3="$<TARGET_FILE:ThraskVellMono-vst3>"
    THRASKVELL_STEREO_VST3="$<TARGET_FILE:ThraskVellStereo-vst3>")
add_dependencies(thraskvell_plugin_benchmark thraskvell_plugins)
