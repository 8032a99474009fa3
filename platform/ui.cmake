# Main-thread queue and observable values: what the views and the demo engine expect of the
# declarative toolkit, Combine and Dispatch.
find_package(Threads REQUIRED)
add_library(thraskvell_platform_observe STATIC
    ${CMAKE_CURRENT_LIST_DIR}/MainThreadQueue.cpp
)
target_include_directories(thraskvell_platform_observe PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(thraskvell_platform_observe PUBLIC Threads::Threads)
thraskvell_target_defaults(thraskvell_platform_observe)
