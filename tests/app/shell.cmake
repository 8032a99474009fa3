# The shell's views, and with its real engine on SDL's disk driver: SDL's audio thread and the tap
# meet the main queue.
thraskvell_test(thraskvell_shell_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/shell/ShellTest.cpp ${PROJECT_SOURCE_DIR}/tests/ui/LeakSuppressions.cpp
    LIBS thraskvell_shell LABELS threads)
# End to end on a private Xvfb display: the real window, a click on Play, the close button.
add_test(NAME thraskvell_app_end_to_end
         COMMAND ${CMAKE_CURRENT_LIST_DIR}/shell/end_to_end.sh $<TARGET_FILE:ThraskVell> $<TARGET_FILE:thraskvell-xprobe>)
set_tests_properties(thraskvell_app_end_to_end PROPERTIES TIMEOUT 60 LABELS display SKIP_RETURN_CODE 77)
