cmake_minimum_required(VERSION 3.25)
# Installs the project into a scratch prefix (one with a space, which the bus
# service file must escape) and checks the tray program's desktop files: where
# they land, that the service starts the installed program, and that the
# desktop entry and the software-centre description pass their validators.
# Called with -DBUILD_DIR=… -DPREFIX=… -DDESKTOP_VALIDATOR=… -DAPPSTREAM=…
if(NOT DEFINED ENV{SENDOVA_TEST_SESSION})
    message(FATAL_ERROR "refusing to run outside the sealed test session; run it through scripts/with-test-session")
endif()
file(REMOVE_RECURSE "${PREFIX}")
execute_process(COMMAND ${CMAKE_COMMAND} --install "${BUILD_DIR}" --prefix "${PREFIX}"
                RESULT_VARIABLE result OUTPUT_QUIET)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "cmake --install failed: ${result}")
endif()
foreach(path bin/sendova bin/sendova-tray lib/sendova/sendova-commands.so share/icons/hicolor/scalable/apps/com.sendova.Sendova.svg)
    if(NOT EXISTS "${PREFIX}/${path}")
        message(FATAL_ERROR "missing: ${PREFIX}/${path}")
    endif()
endforeach()

# The installed launcher finds its command module under its own prefix.
execute_process(COMMAND "${PREFIX}/bin/sendova" help RESULT_VARIABLE result OUTPUT_VARIABLE usage)
if(NOT result EQUAL 0 OR NOT usage MATCHES "Usage: sendova COMMAND")
    message(FATAL_ERROR "the installed sendova cannot run a command: ${result}")
endif()

set(desktop "${PREFIX}/share/applications/com.sendova.Sendova.desktop")
file(STRINGS "${desktop}" lines)
foreach(line "Exec=sendova-tray %U" "DBusActivatable=true" "MimeType=x-scheme-handler/sendova;")
    if(NOT line IN_LIST lines)
        message(FATAL_ERROR "${desktop} lacks the line: ${line}")
    endif()
endforeach()
string(REPLACE " " "\\ " escaped "${PREFIX}/bin/sendova-tray")
file(STRINGS "${PREFIX}/share/dbus-1/services/com.sendova.Sendova.service" lines)
if(NOT "Exec=${escaped} --gapplication-service" IN_LIST lines OR NOT "Name=com.sendova.Sendova" IN_LIST lines)
    message(FATAL_ERROR "the bus service does not start ${PREFIX}/bin/sendova-tray: ${lines}")
endif()

execute_process(COMMAND ${DESKTOP_VALIDATOR} "${desktop}" RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "desktop-file-validate refused ${desktop}")
endif()
execute_process(COMMAND ${APPSTREAM} validate --no-net "${PREFIX}/share/metainfo/com.sendova.Sendova.metainfo.xml"
                RESULT_VARIABLE result)
if(NOT result EQUAL 0)
    message(FATAL_ERROR "appstreamcli refused the metainfo file")
endif()
