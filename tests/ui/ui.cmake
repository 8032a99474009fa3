# The control surface drawn headlessly, and tree writes from another thread against the view model.
# Every control is repainted and compared at two heights, which takes a while under sanitizers.
thraskvell_test(thraskvell_ui_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ControlsTest.cpp
    ${CMAKE_CURRENT_LIST_DIR}/MainViewTest.cpp ${CMAKE_CURRENT_LIST_DIR}/LeakSuppressions.cpp
    LIBS thraskvell_ui TIMEOUT 90)
thraskvell_test(thraskvell_ui_thread_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ViewModelThreadTest.cpp
    LIBS thraskvell_ui LABELS threads)
