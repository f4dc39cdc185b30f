# sendova_add_test(NAME SOURCES file... [LIBS target...] [TIMEOUT seconds] [LABELS label...])
#
# One executable per unit under test. The environment is pinned so that a
# result never depends on the locale or display of whoever runs the suite.
function(sendova_add_test name)
    cmake_parse_arguments(ARG "" "TIMEOUT" "SOURCES;LIBS;LABELS;ENVIRONMENT" ${ARGN})
    add_executable(${name} ${ARG_SOURCES})
    target_link_libraries(${name} PRIVATE sendova_build_flags Qt6::Test sendova_sealed_session ${ARG_LIBS})
    add_test(NAME ${name} COMMAND ${name})
    if(NOT ARG_TIMEOUT)
        set(ARG_TIMEOUT 120)
    endif()
    set_tests_properties(${name} PROPERTIES
        TIMEOUT ${ARG_TIMEOUT}
        LABELS "${ARG_LABELS}"
        ENVIRONMENT "LANG=C.UTF-8;LC_ALL=C.UTF-8;LANGUAGE=;QT_QPA_PLATFORM=offscreen;QT_FORCE_STDERR_LOGGING=1;${ARG_ENVIRONMENT}")
endfunction()
