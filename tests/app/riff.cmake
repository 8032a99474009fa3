thraskvell_test(riff_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/BassRiffGeneratorTest.cpp
    LIBS thraskvell_riff thraskvell_allocation_counter)
