# The plug-in editor's idle callback and paint while a host automates every parameter.
thraskvell_benchmark(thraskvell_editor_benchmark
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/EditorBenchmark.cpp
    LIBS thraskvell_editor)
