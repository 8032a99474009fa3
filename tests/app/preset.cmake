thraskvell_test(render_preset_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/PresetRenderTest.cpp
    LIBS thraskvell_render_core thraskvell_extension)
