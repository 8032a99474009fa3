# Menu entries for the demo app and thraskvell-live. There are no icon files: the entries name none,
# and desktops show their generic application icon.
# Under share/applications of the prefix; for `--prefix ~` (as for the plug-ins), where desktops look
# for a user's own entries, ~/.local/share/applications.
set(thraskvell_desktop_entries
    ${CMAKE_CURRENT_LIST_DIR}/desktop/org.thraskvell.ThraskVell.desktop
    ${CMAKE_CURRENT_LIST_DIR}/desktop/org.thraskvell.ThraskVellLive.desktop)
list(TRANSFORM thraskvell_desktop_entries REPLACE "(.+)" "\"\\1\"")
list(JOIN thraskvell_desktop_entries " " thraskvell_desktop_entries)
install(CODE "
    if(CMAKE_INSTALL_PREFIX STREQUAL \"\$ENV{HOME}\" OR CMAKE_INSTALL_PREFIX STREQUAL \"\$ENV{HOME}/\")
        set(thraskvell_applications .local/share/applications)
    else()
        set(thraskvell_applications ${CMAKE_INSTALL_DATADIR}/applications)
    endif()
    file(INSTALL DESTINATION \"\${CMAKE_INSTALL_PREFIX}/\${thraskvell_applications}\" TYPE FILE
         FILES ${thraskvell_desktop_entries})
" COMPONENT app)
