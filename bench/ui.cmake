# Editor repaint costs: a full frame at scale 1 and 2, and a knob-drag frame that repaints only
# what changed.
thraskvell_benchmark(thraskvell_ui_benchmark
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/UiBenchmark.cpp
    LIBS thraskvell_ui thraskvell_parameters)
