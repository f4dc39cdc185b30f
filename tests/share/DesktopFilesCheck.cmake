# Installs the project into a scratch prefix and checks that every desktop
# integration file lands where its desktop looks for it, starts the installed
# program with the selected files, and (where a validator knows the format)
# is a valid desktop entry.
# Called with -DBUILD_DIR=… -DPREFIX=… [-DVALIDATOR=desktop-file-validate]
if(NOT DEFINED ENV{SENDOVA_TEST_SESSION})
    message(FATAL_ERROR "refusing to run outside the sealed test session; run it through scripts/with-test-session")
endif()
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()

set(program "${PREFIX}/bin/sendova-share")
if(NOT EXISTS "${program}")
    message(FATAL_ERROR "program not installed at ${program}")
endif()

# The path as one quoted argument: in a desktop entry, $ takes a backslash
# that the string escaping doubles; in the script, single quotes.
string(REPLACE "$" "\\\\$" quoted "${program}")
set(exec "Exec=\"${quoted}\" %F")
# file, line it must hold, must it be executable
set(checks
    "share/applications/sendova-share.desktop|${exec}|no"
    "share/kio/servicemenus/sendova-share.desktop|${exec}|yes"
    "share/Thunar/sendto/sendova-share.desktop|${exec}|no"
    "share/nautilus/scripts/Sendova|exec '${program}' \"$@\"|yes")
foreach(check ${checks})
    string(REPLACE "|" ";" parts "${check}")
    list(GET parts 0 path)
    list(GET parts 1 line)
    list(GET parts 2 executable)
    set(file "${PREFIX}/${path}")
    if(NOT EXISTS "${file}")
        message(FATAL_ERROR "missing: ${file}")
    endif()
    file(STRINGS "${file}" lines)
    list(FIND lines "${line}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "${file} lacks the line: ${line}")
    endif()
    execute_process(COMMAND test -x "${file}" RESULT_VARIABLE notExecutable)
    if(executable STREQUAL "yes" AND NOT notExecutable EQUAL 0)
        message(FATAL_ERROR "not executable: ${file}")
    endif()
endforeach()

file(STRINGS "${PREFIX}/share/kio/servicemenus/sendova-share.desktop" menu)
foreach(line "Type=Service" "MimeType=all/allfiles;" "Actions=shareWithSendova;" "[Desktop Action shareWithSendova]")
    list(FIND menu "${line}" found)
    if(found EQUAL -1)
        message(FATAL_ERROR "service menu lacks: ${line}")
    endif()
endforeach()
file(STRINGS "${PREFIX}/share/Thunar/sendto/sendova-share.desktop" sendto)
list(FIND sendto "Type=X-Thunar-SendTo" found)
if(found EQUAL -1)
    message(FATAL_ERROR "Thunar entry is not a send-to entry")
endif()

if(VALIDATOR)
    execute_process(COMMAND "${VALIDATOR}" "${PREFIX}/share/applications/sendova-share.desktop"
                    RESULT_VARIABLE invalid OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT invalid EQUAL 0 OR out MATCHES "error")
        message(FATAL_ERROR "Open With entry does not validate:\n${out}")
    endif()
endif()
file(REMOVE_RECURSE "${PREFIX}")
