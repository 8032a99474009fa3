# The editor: view controller and factory, view stand-ins, and host synchronisation.
if(TARGET thraskvell_editor)
    thraskvell_test(thraskvell_editor_test
        SOURCES ${CMAKE_CURRENT_LIST_DIR}/editor/ViewControllerTest.cpp
                ${CMAKE_CURRENT_LIST_DIR}/editor/EditorHostSyncTest.cpp
                ${PROJECT_SOURCE_DIR}/tests/ui/LeakSuppressions.cpp
        LIBS thraskvell_editor)
endif()
