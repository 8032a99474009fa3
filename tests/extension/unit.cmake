find_package(nlohmann_json 3.10 REQUIRED)

thraskvell_test(thraskvell_extension_test
    SOURCES ${CMAKE_CURRENT_LIST_DIR}/ThraskVellAudioUnitTest.cpp
    LIBS thraskvell_extension)

# libFuzzer over the state text reader: clang only, on request.
option(THRASKVELL_FUZZ "Build the libFuzzer targets (clang only)" OFF)
if(THRASKVELL_FUZZ)
    if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
        message(FATAL_ERROR "THRASKVELL_FUZZ needs clang (configure with CXX=clang++)")
    endif()
    add_executable(thraskvell_state_text_fuzz ${CMAKE_CURRENT_LIST_DIR}/fuzz/StateTextFuzz.cpp
                                              ${PROJECT_SOURCE_DIR}/extension/SavedState.cpp)
    target_include_directories(thraskvell_state_text_fuzz PRIVATE ${PROJECT_SOURCE_DIR})
    target_link_libraries(thraskvell_state_text_fuzz PRIVATE nlohmann_json::nlohmann_json)
    target_compile_options(thraskvell_state_text_fuzz PRIVATE -Wall -Wextra -Werror -g
                                                              -fsanitize=fuzzer,address,undefined)
    target_link_options(thraskvell_state_text_fuzz PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
