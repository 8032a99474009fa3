# The demo application's shell: ContentView and its views (no window system, so tests draw them
# offscreen), and the ThraskVell executable, one DGL window with the Cairo backend from Debian's
# dpf-source around them.
add_library(thraskvell_shell STATIC
    ${CMAKE_CURRENT_LIST_DIR}/shell/AboutView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/shell/ContentView.cpp
    ${CMAKE_CURRENT_LIST_DIR}/shell/Glyphs.cpp
    ${CMAKE_CURRENT_LIST_DIR}/shell/WaveformView.cpp
)
target_include_directories(thraskvell_shell PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(thraskvell_shell PUBLIC thraskvell_standalone_engine thraskvell_ui)
thraskvell_target_defaults(thraskvell_shell)

dpf__add_dgl_cairo()
find_package(X11 REQUIRED)

add_executable(ThraskVell ${CMAKE_CURRENT_LIST_DIR}/shell/ThraskVellApp.cpp ${CMAKE_CURRENT_LIST_DIR}/shell/DisplayCheck.cpp
                          ${CMAKE_CURRENT_LIST_DIR}/shell/LeakSuppressions.cpp
                          ${CMAKE_CURRENT_LIST_DIR}/shell/main.cpp)
# DGL's headers are not ours to keep warning-free.
target_include_directories(ThraskVell SYSTEM PRIVATE ${DPF_ROOT_DIR}/dgl ${DPF_ROOT_DIR}/distrho)
target_link_libraries(ThraskVell PRIVATE thraskvell_shell dgl-cairo dgl-cairo-definitions X11::X11)
thraskvell_target_defaults(ThraskVell)
install(TARGETS ThraskVell RUNTIME DESTINATION bin COMPONENT app)
