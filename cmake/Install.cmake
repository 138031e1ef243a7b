# What `cmake --install` puts where (GNU layout under the prefix), and the Debian package
# that `cpack -G DEB` builds from the same rules.
include(GNUInstallDirs)

set(KESTRANE_APP_ID io.github.kestrane.Kestrane)
set(KESTRANE_DATA_DIR ${PROJECT_SOURCE_DIR}/data)

install(TARGETS kestrane RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
# The command-line tools and the tray application are started by `kestrane` only, so they
# stay out of PATH.
install(TARGETS kestrane-cli kestrane-desktop RUNTIME DESTINATION ${KESTRANE_LIBEXEC_INSTALL_DIR})
install(FILES ${KESTRANE_DATA_DIR}/${KESTRANE_APP_ID}.desktop
    DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${KESTRANE_DATA_DIR}/${KESTRANE_APP_ID}.metainfo.xml
    DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
install(FILES ${KESTRANE_DATA_DIR}/icons/${KESTRANE_APP_ID}.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)

# Manual pages are installed compressed, as Debian and man-db expect; gzip -n keeps the
# output byte-identical between builds.
set(KESTRANE_MANUAL ${PROJECT_BINARY_DIR}/data/kestrane.1.gz)
add_custom_command(OUTPUT ${KESTRANE_MANUAL}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/data
    COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh ${KESTRANE_DATA_DIR}/kestrane.1 ${KESTRANE_MANUAL}
    DEPENDS ${KESTRANE_DATA_DIR}/kestrane.1
    COMMENT "Compressing the manual page"
    VERBATIM)
add_custom_target(kestrane_manual ALL DEPENDS ${KESTRANE_MANUAL})
install(FILES ${KESTRANE_MANUAL} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Shell completions, where each shell looks for them under the prefix.
install(FILES ${KESTRANE_DATA_DIR}/completions/kestrane.bash
    DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kestrane)
install(FILES ${KESTRANE_DATA_DIR}/completions/kestrane.fish
    DESTINATION ${CMAKE_INSTALL_DATADIR}/fish/vendor_completions.d)
# zsh reads site-functions under /usr/local, but a distribution's own packages (prefix /usr)
# belong in vendor-completions. The prefix is only known when installing.
install(CODE "
    set(kestrane_zsh_folder site-functions)
    if(CMAKE_INSTALL_PREFIX STREQUAL \"/usr\")
        set(kestrane_zsh_folder vendor-completions)
    endif()
    file(INSTALL \"${KESTRANE_DATA_DIR}/completions/_kestrane\"
        DESTINATION \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_DATADIR}/zsh/\${kestrane_zsh_folder}\")
")

# The GNOME Shell top-bar extension. Shells 45 and later load it as ES modules, 43-44 through
# legacy imports, and one folder cannot serve both: the build assembles the one for the shell
# the package targets (data/gnome-shell/README.md). By default that is the gnome-shell found
# now, else Debian 12's 43.
set(KESTRANE_GNOME_SHELL_UUID kestrane@kestrane.github.io)
set(kestrane_gnome_shell_default 43)
find_program(KESTRANE_GNOME_SHELL_PROGRAM gnome-shell)
if(KESTRANE_GNOME_SHELL_PROGRAM)
    execute_process(COMMAND ${KESTRANE_GNOME_SHELL_PROGRAM} --version
        OUTPUT_VARIABLE kestrane_gnome_shell_version ERROR_QUIET TIMEOUT 10)
    if(kestrane_gnome_shell_version MATCHES "GNOME Shell ([0-9]+)")
        set(kestrane_gnome_shell_default ${CMAKE_MATCH_1})
    endif()
endif()
set(KESTRANE_GNOME_SHELL_VERSION ${kestrane_gnome_shell_default} CACHE STRING
    "GNOME Shell major version the top-bar extension is built for (43-44 or 45 and later)")
set(kestrane_extension_sources ${KESTRANE_DATA_DIR}/gnome-shell/${KESTRANE_GNOME_SHELL_UUID})
set(KESTRANE_GNOME_EXTENSION ${PROJECT_BINARY_DIR}/data/gnome-shell/${KESTRANE_GNOME_SHELL_UUID})
add_custom_command(OUTPUT ${KESTRANE_GNOME_EXTENSION}/metadata.json
    COMMAND ${CMAKE_COMMAND} -E rm -rf ${KESTRANE_GNOME_EXTENSION}
    COMMAND sh ${KESTRANE_DATA_DIR}/gnome-shell/assemble.sh ${KESTRANE_GNOME_SHELL_VERSION}
        ${KESTRANE_GNOME_EXTENSION}
    DEPENDS ${KESTRANE_DATA_DIR}/gnome-shell/assemble.sh
        ${KESTRANE_DATA_DIR}/gnome-shell/legacy/extension.js
        ${kestrane_extension_sources}/extension.js ${kestrane_extension_sources}/indicator.js
        ${kestrane_extension_sources}/logic.js ${kestrane_extension_sources}/metadata.json
        ${kestrane_extension_sources}/stylesheet.css
    COMMENT "Assembling the GNOME Shell ${KESTRANE_GNOME_SHELL_VERSION} extension"
    VERBATIM)
add_custom_target(kestrane_gnome_extension ALL DEPENDS ${KESTRANE_GNOME_EXTENSION}/metadata.json)
install(DIRECTORY ${KESTRANE_GNOME_EXTENSION}/
    DESTINATION ${CMAKE_INSTALL_DATADIR}/gnome-shell/extensions/${KESTRANE_GNOME_SHELL_UUID})

set(KESTRANE_CHANGELOG ${PROJECT_BINARY_DIR}/data/changelog.gz)
add_custom_command(OUTPUT ${KESTRANE_CHANGELOG}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/data
    COMMAND sh -c "gzip -9nc \"$1\" > \"$2\"" sh ${KESTRANE_DATA_DIR}/debian/changelog
        ${KESTRANE_CHANGELOG}
    DEPENDS ${KESTRANE_DATA_DIR}/debian/changelog
    COMMENT "Compressing the changelog"
    VERBATIM)
add_custom_target(kestrane_changelog ALL DEPENDS ${KESTRANE_CHANGELOG})
install(FILES ${KESTRANE_DATA_DIR}/debian/copyright ${KESTRANE_CHANGELOG}
    DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/kestrane)

# Whatever builds the program (a preset that builds only the tests, too) also makes the
# compressed files, so every build folder can be installed.
add_dependencies(kestrane kestrane_manual kestrane_changelog kestrane_gnome_extension)

# ---- Debian package ----------------------------------------------------------------------------
set(KESTRANE_PACKAGE_MAINTAINER "Kestrane maintainers <maintainers@kestrane.invalid>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kestrane)
set(CPACK_PACKAGE_VENDOR Kestrane)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT ${KESTRANE_PACKAGE_MAINTAINER})
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tray indicator of AI coding service usage limits")
# The long description; CPack puts the summary above it and indents it for the control file.
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "Kestrane shows in the system tray how much of each AI coding service's usage
limit is left (Codex, Cursor, Claude, Kimi Code, Antigravity) and whether it
will last until the limit resets. It also lists local development servers.

The command-line modes (kestrane --probe, --status, --services) work without
a graphical session. The interface is in Russian.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# Libraries come from dpkg-shlibdeps; these are what the program starts or loads at run
# time: the Wayland platform plugin, ps and lsof for the local services list.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-wayland, procps, lsof")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
