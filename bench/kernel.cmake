thraskvell_benchmark(thraskvell_kernel_benchmark
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/KernelBenchmark.cpp
    LIBS thraskvell_dsp)
