# libFuzzer targets for the parsers that read outside input (tests/fuzz).
#
# Only the "fuzz" preset turns this on: libFuzzer comes with clang. Every
# library of the project is then built with coverage hooks, so that the
# fuzzer can steer into the code behind the function a target calls; the
# address and undefined-behaviour sanitizers come from SENDOVA_SANITIZE.
option(SENDOVA_FUZZ "Build the libFuzzer targets of tests/fuzz (needs clang)" OFF)

if(NOT SENDOVA_FUZZ)
    return()
endif()
if(NOT CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
    message(FATAL_ERROR "SENDOVA_FUZZ needs clang; use the fuzz preset")
endif()
# clang 14 cannot emit the function-type check of -fsanitize=undefined in a
# coroutine's split parts ("Cannot represent a difference across sections").
target_compile_options(sendova_build_flags INTERFACE -fsanitize=fuzzer-no-link -fno-sanitize=function)

# `cmake --build --preset fuzz` builds this target and nothing else.
add_custom_target(fuzz)

# sendova_add_fuzz_target(NAME LIBS target...): NAME.cpp in tests/fuzz.
function(sendova_add_fuzz_target name)
    cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
    add_executable(${name} ${name}.cpp)
    target_link_libraries(${name} PRIVATE sendova_build_flags ${ARG_LIBS})
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
    set_target_properties(${name} PROPERTIES EXCLUDE_FROM_ALL ON AUTOMOC OFF)
    add_dependencies(fuzz ${name})
endfunction()

add_subdirectory(${PROJECT_SOURCE_DIR}/tests/fuzz ${CMAKE_BINARY_DIR}/tests/fuzz)
