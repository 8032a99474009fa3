# thraskvell-live: the ThraskVellLive plug-in (extension/plugin) in DPF's JACK standalone, with our
# main in front. DPF's main and its JACK calls that open and activate the client are renamed where
# DPF's entry code is compiled, and live/main.cpp supplies them (see there).
pkg_check_modules(THRASKVELL_JACK REQUIRED IMPORTED_TARGET jack)

# Everything of ours, kept out of the target below so the renaming never touches it, and linked in
# whole: the leak suppressions are only ever looked up by the sanitizer runtime.
add_library(thraskvell_live OBJECT
    ${CMAKE_CURRENT_LIST_DIR}/live/main.cpp
    ${CMAKE_CURRENT_LIST_DIR}/live/LiveSettings.cpp
    ${CMAKE_CURRENT_LIST_DIR}/shell/LeakSuppressions.cpp
)
target_include_directories(thraskvell_live PUBLIC ${PROJECT_SOURCE_DIR})
target_link_libraries(thraskvell_live
    PUBLIC thraskvell_render_core thraskvell_extension PkgConfig::THRASKVELL_JACK
    PRIVATE CLI11::CLI11 X11::X11)
thraskvell_target_defaults(thraskvell_live)

# As DPF's own dpf__build_jack, with libjack linked directly (JACKBRIDGE_DIRECT): no run-time loading
# and no fallback to other audio systems; pw-jack swaps the library in as for any JACK program.
dpf__add_executable(thraskvell-live)
dpf__add_plugin_main(thraskvell-live jack)
dpf__add_ui_main(thraskvell-live jack dgl-cairo)
target_compile_definitions(thraskvell-live PRIVATE
    JACKBRIDGE_DIRECT
    main=thraskvellDpfJackMain
    jack_client_open=thraskvellLiveClientOpen
    jack_activate=thraskvellLiveActivate)
target_link_libraries(thraskvell-live PRIVATE thraskvell_live ThraskVellLive-dsp ThraskVellLive-ui)
# The executable's own sources are DPF's (its defaults, hidden symbols), linked with our sanitized code.
if(THRASKVELL_SANITIZE)
    list(JOIN THRASKVELL_SANITIZE "," thraskvell_live_sanitizers)
    target_link_options(thraskvell-live PRIVATE -fsanitize=${thraskvell_live_sanitizers})
endif()
install(TARGETS thraskvell-live RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT app)
