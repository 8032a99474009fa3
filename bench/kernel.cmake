thraskvell_benchmark(thraskvell_kernel_benchmark
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/KernelBenchmark.cpp ${PROJECT_SOURCE_DIR}/tests/dsp/KernelReference.cpp
    LIBS thraskvell_dsp)
# The literal reference must round exactly as the kernel does.
target_compile_options(thraskvell_kernel_benchmark PRIVATE -ffp-contract=off -fno-fast-math)
