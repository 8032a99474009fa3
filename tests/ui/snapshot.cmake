# thraskvell-snapshot run as a program: its bounds and its atomic PNG.
thraskvell_test(thraskvell_snapshot_test SOURCES ${CMAKE_CURRENT_LIST_DIR}/SnapshotToolTest.cpp)
target_compile_definitions(thraskvell_snapshot_test PRIVATE
    THRASKVELL_SNAPSHOT_BINARY="$<TARGET_FILE:thraskvell-snapshot>")
add_dependencies(thraskvell_snapshot_test thraskvell-snapshot)
