thraskvell_test(thraskvell_bridge_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/BridgeTest.cpp
    LIBS thraskvell_dsp thraskvell_allocation_counter)
# Rendering while other threads write parameters: run under ThreadSanitizer in CI.
thraskvell_test(thraskvell_bridge_thread_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/BridgeThreadTest.cpp
    LIBS thraskvell_dsp
    LABELS threads)
