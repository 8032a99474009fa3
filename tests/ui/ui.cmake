# The control surface: drawing, controls, altar, main view and view model, rendered headlessly.
thraskvell_test(thraskvell_ui_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/DrawingTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ControlsTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/MainViewTest.cpp ${CMAKE_CURRENT_LIST_DIR}/ViewModelTest.cpp
            ${CMAKE_CURRENT_LIST_DIR}/LeakSuppressions.cpp
    LIBS thraskvell_ui thraskvell_allocation_counter)

# Tree writes from another thread against the view model.
thraskvell_test(thraskvell_ui_thread_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/ViewModelThreadTest.cpp
    LIBS thraskvell_ui LABELS threads)
