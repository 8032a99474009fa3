thraskvell_test(thraskvell_kernel_tests
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/KernelTest.cpp ${CMAKE_CURRENT_LIST_DIR}/KernelReference.cpp
            ${CMAKE_CURRENT_LIST_DIR}/BiquadTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ParameterTableTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/VectorTanhTest.cpp
            $<TARGET_OBJECTS:thraskvell_allocation_counter>
    LIBS thraskvell_dsp)
# The literal reference must round exactly as the kernel does.
target_compile_options(thraskvell_kernel_tests PRIVATE -ffp-contract=off -fno-fast-math)
