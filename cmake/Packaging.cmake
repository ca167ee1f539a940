# Installation and the Debian package.
#   cmake --install build --prefix /usr/local     installs the programs, menu entries and icon
#   (cd build && cpack)                           builds callpanel-tool_<version>_<arch>.deb
# Make the package from a plain Release build: a sanitizer build would ship sanitized programs.
# Only the window, callpanel, their manual pages, callpanel's bash completion, the two menu
# entries, the icons, the HTML documentation and the receive buffer limit are installed; no test,
# library or header is. The stand-in panel (callpanel-standin) is a build and test tool and stays
# in the build tree.

include(GNUInstallDirs)

set(CALLPANEL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

install(TARGETS callpanel-tool callpanel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(FILES ${CALLPANEL_PACKAGING_DIR}/callpanel-tool.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CALLPANEL_PACKAGING_DIR}/callpanel-tool.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
# Rendered from the SVG for menus that do not draw SVG icons:
#   convert -background none -density 288 callpanel-tool.svg -resize 48x48 -depth 8 -strip \
#       callpanel-tool-48.png
install(FILES ${CALLPANEL_PACKAGING_DIR}/callpanel-tool-48.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/48x48/apps
        RENAME callpanel-tool.png)

# The user documentation as HTML pages, as the Windows zip holds them, for reading in a browser.
set(CALLPANEL_HTML_DOCS ${CMAKE_CURRENT_BINARY_DIR}/docs-html)
file(GLOB CALLPANEL_DOC_SOURCES CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/docs/*.md
    ${PROJECT_SOURCE_DIR}/docs/*.png)
add_custom_command(OUTPUT ${CALLPANEL_HTML_DOCS}/index.html
    COMMAND ${CALLPANEL_PACKAGING_DIR}/docs-html.sh ${CALLPANEL_HTML_DOCS} ${PROJECT_VERSION}
    DEPENDS ${CALLPANEL_PACKAGING_DIR}/docs-html.sh ${CALLPANEL_PACKAGING_DIR}/windows/docs-html.awk
        ${CALLPANEL_PACKAGING_DIR}/windows/style.css ${CALLPANEL_DOC_SOURCES} VERBATIM)
add_custom_target(docs-html ALL DEPENDS ${CALLPANEL_HTML_DOCS}/index.html)
set(CALLPANEL_HTML_DOCS_DIR ${CMAKE_INSTALL_DATADIR}/callpanel-tool/docs)
install(DIRECTORY ${CALLPANEL_HTML_DOCS}/ DESTINATION ${CALLPANEL_HTML_DOCS_DIR})
# The menu entry "Call Panel commissioning": `callpanel ui` in a terminal, which serves the page
# and opens the browser on it; closing the terminal ends the page and frees port 8300 for the
# window. Started again while it runs, it opens the running page.
install(FILES ${CALLPANEL_PACKAGING_DIR}/callpanel-commissioning.desktop.in
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications RENAME callpanel-commissioning.desktop)

# Completion of callpanel's commands, options and plan files in bash, where bash-completion
# looks for it by the command's name when the command is first completed.
install(FILES ${CALLPANEL_PACKAGING_DIR}/callpanel.bash-completion
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME callpanel)

# A search of a big site: the replies of every panel wait in one socket's receive buffer, which
# the kernel caps at net.core.rmem_max for a normal user. /usr/lib/sysctl.d (not the libdir
# with its multiarch triplet) is read at every boot; the package's postinst applies it at once.
install(FILES ${CALLPANEL_PACKAGING_DIR}/sysctl.d/60-callpanel-tool.conf DESTINATION lib/sysctl.d)

# Manual pages, compressed as Debian ships them: `man callpanel` once the package is installed.
set(CALLPANEL_MAN_PAGES)
foreach(page callpanel.1 callpanel-tool.1)
    set(compressed ${CMAKE_CURRENT_BINARY_DIR}/man/${page}.gz)
    add_custom_command(OUTPUT ${compressed}
        COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_CURRENT_BINARY_DIR}/man
        COMMAND ${CMAKE_COMMAND} -E copy ${CALLPANEL_PACKAGING_DIR}/${page}
            ${CMAKE_CURRENT_BINARY_DIR}/man/${page}
        COMMAND gzip -9nf ${CMAKE_CURRENT_BINARY_DIR}/man/${page}
        DEPENDS ${CALLPANEL_PACKAGING_DIR}/${page} VERBATIM)
    list(APPEND CALLPANEL_MAN_PAGES ${compressed})
endforeach()
add_custom_target(man-pages ALL DEPENDS ${CALLPANEL_MAN_PAGES})
install(FILES ${CALLPANEL_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# No address of the project's own takes mail: .invalid says so and passes lintian. A packager
# sets theirs with -DCPACK_PACKAGE_CONTACT="Name <address>".
set(CPACK_PACKAGE_CONTACT "Call Panel settings Tool developers <callpanel-tool@packages.invalid>"
    CACHE STRING "Maintainer of the Debian package (name <address>)")
if(CPACK_PACKAGE_CONTACT MATCHES "@localhost>$") # the old default, which lintian refuses
    set(CPACK_PACKAGE_CONTACT "Call Panel settings Tool developers <callpanel-tool@packages.invalid>"
        CACHE STRING "Maintainer of the Debian package (name <address>)" FORCE)
endif()
# Debian revision 1 of the upstream version: a package that is not Debian-native, whose
# changelog is changelog.Debian.gz.
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CALLPANEL_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
set(CALLPANEL_DOC_DIR ${CMAKE_INSTALL_DATADIR}/doc/callpanel-tool)
set(CALLPANEL_CHANGELOG ${CMAKE_CURRENT_BINARY_DIR}/debian/changelog.Debian)
configure_file(${CALLPANEL_PACKAGING_DIR}/debian/changelog.in ${CALLPANEL_CHANGELOG} @ONLY)
add_custom_command(OUTPUT ${CALLPANEL_CHANGELOG}.gz
    COMMAND gzip -9nkf ${CALLPANEL_CHANGELOG}
    DEPENDS ${CALLPANEL_CHANGELOG} VERBATIM)
add_custom_target(debian-changelog ALL DEPENDS ${CALLPANEL_CHANGELOG}.gz)
install(FILES ${CALLPANEL_PACKAGING_DIR}/debian/copyright ${CALLPANEL_CHANGELOG}.gz
    DESTINATION ${CALLPANEL_DOC_DIR})
install(FILES ${CALLPANEL_PACKAGING_DIR}/debian/lintian-overrides
    DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME callpanel-tool)

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME callpanel-tool)
set(CPACK_PACKAGE_VENDOR "Call Panel settings Tool developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "set up the call panels of a building intercom over the LAN")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Call Panel settings Tool V1.4 finds the call panels of a building\n"
    "intercom (flat cameras, villa cameras and help stations) with one UDP\n"
    "broadcast on port 8300, shows the settings each panel reports, checks\n"
    "and writes new settings into a panel, and tells a panel to delete all\n"
    "its access cards.\n"
    "\n"
    "callpanel does the same from the command line, for scripts and for a\n"
    "whole site at once: it lists the panels as a table, CSV or JSON, and\n"
    "applies a CSV plan after checking every row and the site for clashes.\n"
    "\n"
    "The package raises net.core.rmem_max to 4 MiB so that a normal user's\n"
    "search holds the replies of a site of 2,000 panels.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CALLPANEL_PACKAGING_DIR}/debian/postinst)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# The window asks for "WenQuanYi Zen Hei Mono" (the composite address boxes rest on its 7-pixel
# half-width cell) and "DejaVu Sans"; no library dependency pulls these fonts in.
set(CALLPANEL_RUNTIME_DEPENDS "fonts-wqy-zenhei, fonts-dejavu-core")
# A Wayland desktop without XWayland needs Qt's wayland platform; X11 and XWayland do without.
# xdg-open starts the browser for the menu entry "Call Panel commissioning".
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "qt6-wayland, xdg-utils")
find_program(DPKG_SHLIBDEPS_EXECUTABLE dpkg-shlibdeps)
if(DPKG_SHLIBDEPS_EXECUTABLE)
    # Library dependencies with the versions the build actually linked against.
    set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
    set(CPACK_DEBIAN_PACKAGE_DEPENDS "${CALLPANEL_RUNTIME_DEPENDS}")
else()
    # Debian 12's Qt 6.4 packages; libqt6gui6 holds the xcb platform plugin.
    set(CPACK_DEBIAN_PACKAGE_DEPENDS
        "libqt6widgets6 (>= 6.4), libqt6gui6 (>= 6.4), libqt6core6 (>= 6.4), libstdc++6 (>= 12), libgcc-s1, libc6 (>= 2.34), ${CALLPANEL_RUNTIME_DEPENDS}")
endif()

include(CPack)
