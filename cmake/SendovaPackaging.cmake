# The Debian packages, made by `scripts/package` through CPack from the same
# install rules that `cmake --install` follows: `sendova` (the desktop client,
# its command line, share program and desktop files) and `sendova-server`.
# Debian's own files (copyright, changelog, maintainer scripts) are in
# packaging/debian/.
include(GNUInstallDirs)
set(debian ${PROJECT_SOURCE_DIR}/packaging/debian)
set(debianGenerated ${PROJECT_BINARY_DIR}/packaging)

# Each package carries its own copyright file and changelog where Debian
# looks for them; the packages are native (no Debian revision of their own),
# so the changelog is changelog.gz.
execute_process(COMMAND date -u -R -d "${SENDOVA_RELEASE_DATE} 12:00"
                OUTPUT_VARIABLE SENDOVA_RELEASE_DATE_RFC2822 OUTPUT_STRIP_TRAILING_WHITESPACE COMMAND_ERROR_IS_FATAL ANY)
foreach(PACKAGE sendova sendova-server)
    configure_file(${debian}/changelog.in ${debianGenerated}/${PACKAGE}/changelog @ONLY)
endforeach()
find_program(GZIP gzip REQUIRED)
foreach(component client server)
    set(package sendova)
    if(component STREQUAL "server")
        set(package sendova-server)
    endif()
    set(log ${debianGenerated}/${package}/changelog)
    add_custom_command(OUTPUT ${log}.gz COMMAND ${GZIP} -9nkf ${log} DEPENDS ${log} VERBATIM)
    add_custom_target(debian-changelog-${component} ALL DEPENDS ${log}.gz)
    install(FILES ${debian}/copyright ${log}.gz
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME sendova)
set(CPACK_PACKAGE_VENDOR Sendova)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Sendova packages <packages@sendova.app>")
# The install rules are run with the package's prefix and a staging
# DESTDIR, so that files which name a path (the bus service, the file-manager
# entries, the unit) name /usr and never the staging folder.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /usr)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL client server)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_CLIENT_PACKAGE_NAME sendova)
set(CPACK_DEBIAN_CLIENT_PACKAGE_SECTION net)
set(CPACK_COMPONENT_CLIENT_DESCRIPTION "upload files to your server and share their links
Sendova sits in the system tray. Drop a file on its popover, or hand one
over from a file manager: it hashes the file, asks the server whether that
content is already stored, uploads it with your API key and gives back the
public link, copied to the clipboard, announced by a notification and kept
in a list of recent uploads.
.
This package holds the tray program, the command-line client sendova, the
share program sendova-share for file managers, and their desktop
integration. The server is in the sendova-server package.")
# What dpkg-shlibdeps cannot see: the command line opens libcurl and
# libcrypto only when it first sends or hashes something, and Qt loads its
# Wayland platform as a plugin.
set(CPACK_DEBIAN_CLIENT_PACKAGE_DEPENDS "qt6-wayland, libcurl4 (>= 7.88.1), libssl3 (>= 3.0.0)")
# The API key is kept through the Secret Service; without one the command
# line can still keep it in its settings file on request.
set(CPACK_DEBIAN_CLIENT_PACKAGE_RECOMMENDS "gnome-keyring | kwalletmanager")
set(CPACK_DEBIAN_CLIENT_PACKAGE_SUGGESTS "xdg-desktop-portal")

set(CPACK_DEBIAN_SERVER_PACKAGE_NAME sendova-server)
set(CPACK_DEBIAN_SERVER_PACKAGE_SECTION net)
set(CPACK_COMPONENT_SERVER_DESCRIPTION "self-hosted server for the Sendova clients
sendova-server takes uploads from the Sendova clients, answers their
duplicate checks, logins, setup links and status requests, and serves the
download links. It keeps accounts in SQLite and content in a data folder,
or, for several instances, in PostgreSQL and an S3-compatible object store.
.
The package runs it as a systemd service under its own system user; the
service is not enabled on installation. Examples of an nginx front end are
in /usr/share/doc/sendova-server/examples.")
set(CPACK_DEBIAN_SERVER_PACKAGE_DEPENDS "adduser")
set(CPACK_DEBIAN_SERVER_PACKAGE_CONTROL_EXTRA
    ${debian}/sendova-server/postinst ${debian}/sendova-server/prerm ${debian}/sendova-server/postrm
    ${debian}/sendova-server/conffiles)
include(CPack)
