# Installation and the Debian package.
#   cmake --install build --prefix /usr/local     installs the programs, menu entry and icon
#   (cd build && cpack)                           builds callpanel-tool_<version>_<arch>.deb
# Make the package from a plain Release build: a sanitizer build would ship sanitized programs.
# Only the programs, their manual pages and the menu entry are installed; no test, library or
# header is.

include(GNUInstallDirs)

set(CALLPANEL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

install(TARGETS callpanel-tool callpanel callpanel-standin RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
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
    "The package also holds callpanel-standin, a stand-in call panel for\n"
    "trying the tool without hardware inside a private test network.")
set(CPACK_PACKAGE_CONTACT "callpanel-tool maintainers <callpanel-tool@localhost>"
    CACHE STRING "Maintainer of the Debian package (name <address>)")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${CPACK_PACKAGE_CONTACT}")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_STRIP_FILES ON)

# The window asks for "WenQuanYi Zen Hei Mono" (the composite address boxes rest on its 7-pixel
# half-width cell) and "DejaVu Sans"; no library dependency pulls these fonts in.
set(CALLPANEL_RUNTIME_DEPENDS "fonts-wqy-zenhei, fonts-dejavu-core")
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
