thraskvell_benchmark(thraskvell_engine_benchmark
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/EngineBenchmark.cpp
    LIBS thraskvell_standalone_engine)
