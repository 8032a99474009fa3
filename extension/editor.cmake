# The editor side of the extension: view controller and factory, the view stand-ins that host the
# control surface, and the host synchronisation the plug-in UI uses.
add_library(thraskvell_editor STATIC
    ${CMAKE_CURRENT_LIST_DIR}/AudioUnitViewController.cpp
    ${CMAKE_CURRENT_LIST_DIR}/EditorHostSync.cpp
    ${CMAKE_CURRENT_LIST_DIR}/EditorViews.cpp
)
target_include_directories(thraskvell_editor PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(thraskvell_editor PUBLIC thraskvell_extension thraskvell_ui)
thraskvell_target_defaults(thraskvell_editor)
