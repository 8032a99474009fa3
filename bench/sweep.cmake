# Every float input through the exact math, against the C library and the vector forms; minutes per
# function, so in a folder of its own, away from the benchmarks' smoke run. The vector forms exist
# where the SIMD kernel does.
if(NOT THRASKVELL_SIMD_KERNEL)
    return()
endif()
add_executable(thraskvell_exact_math_sweep ${CMAKE_CURRENT_LIST_DIR}/ExactMathSweep.cpp)
target_link_libraries(thraskvell_exact_math_sweep PRIVATE thraskvell_dsp)
target_include_directories(thraskvell_exact_math_sweep PRIVATE ${PROJECT_SOURCE_DIR})
set_target_properties(thraskvell_exact_math_sweep PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR}/sweep)
thraskvell_target_defaults(thraskvell_exact_math_sweep)
