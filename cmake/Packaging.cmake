# Installs Vantrel as a desktop application (the program and the simulated client have their own
# rules; here: the menu entry, the theme icons and the README) and describes its Debian package.
# `cpack -G DEB` in the build folder (or the `package` target) builds vantrel_<version>_<arch>.deb.

# Without the desktop program (VANTREL_BUILD_UI=OFF) there is nothing to install for a desktop.
if(NOT TARGET vantrel)
    return()
endif()

# The sizes desktops look for in the hicolor theme; the SVG covers every other size.
set(VANTREL_ICON_SIZES 16 22 24 32 48 64 128 256)
add_subdirectory(packaging)

# Debian names a package's documentation folder after the package ("vantrel"), while
# GNUInstallDirs would take the project's name ("Vantrel"). The About box's default home page in
# src/ui/CMakeLists.txt points at the same file.
set(VANTREL_INSTALL_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/vantrel)

install(FILES ${PROJECT_SOURCE_DIR}/packaging/vantrel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${PROJECT_SOURCE_DIR}/src/ui/icons/vantrel.svg
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
foreach(size IN LISTS VANTREL_ICON_SIZES)
    install(FILES ${PROJECT_BINARY_DIR}/packaging/hicolor/${size}x${size}/apps/vantrel.png
            DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/README.md DESTINATION ${VANTREL_INSTALL_DOCDIR})

# The headless program as a systemd user service (`systemctl --user enable --now vantrel-headless`).
# The unit names the program under the prefix it is installed to, known only when installing.
install(CODE "
    set(VANTREL_BINDIR \"\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}\")
    set(VANTREL_DOCDIR \"\${CMAKE_INSTALL_PREFIX}/${VANTREL_INSTALL_DOCDIR}\")
    configure_file(\"${PROJECT_SOURCE_DIR}/packaging/vantrel-headless.service.in\"
                   \"${PROJECT_BINARY_DIR}/packaging/vantrel-headless.service\" @ONLY)")
install(FILES ${PROJECT_BINARY_DIR}/packaging/vantrel-headless.service DESTINATION lib/systemd/user)

# The Debian package.
set(VANTREL_PACKAGE_MAINTAINER "Vantrel maintainers <vantrel@localhost>"
    CACHE STRING "The Debian package's Maintainer field: a name and an e-mail address")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME vantrel)
set(CPACK_PACKAGE_VENDOR "Vantrel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${VANTREL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
# Debian packages live in /usr whatever prefix the build was configured for.
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Debian shows the long description in 80 columns: lines stay shorter.
set(CPACK_PACKAGE_DESCRIPTION
    "Vantrel keeps a chosen number of ORVA work units cached in numbered
directories, processes them with the ORVA command-line client at idle
priority, sends finished results and fetches new work units in transmit
passes, shows the progress of the current work unit, and can log every
finished result to a CSV file. It lives in the notification area.
The package also holds a simulated ORVA client for trying the program
offline: ${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBEXECDIR}/vantrel/ORVA_sim_cmdline.exe.")
set(CPACK_STRIP_FILES ON)
# The build's own prefix, for the check in the project configuration file below.
set(CPACK_VANTREL_BUILD_PREFIX "${CMAKE_INSTALL_PREFIX}")
set(CPACK_PROJECT_CONFIG_FILE ${PROJECT_SOURCE_DIR}/packaging/cpackproject.cmake)

set(CPACK_DEBIAN_PACKAGE_NAME vantrel)
# "~beta" sorts before the release itself, so the release later installs over a beta.
if(VANTREL_PRERELEASE)
    set(CPACK_DEBIAN_PACKAGE_VERSION "${PROJECT_VERSION}~beta")
else()
    set(CPACK_DEBIAN_PACKAGE_VERSION "${PROJECT_VERSION}")
endif()
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# The architecture is left to CPack, which asks `dpkg --print-architecture`.
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# dpkg-shlibdeps computes Depends from the libraries the binaries link (Qt, the C++ runtime).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The window and tray icons are SVG files drawn by Qt's SVG icon plugin, which the program loads at
# run time and never links, so dpkg-shlibdeps cannot see it.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt6svg6")
# Not needed to run: a native window on Wayland desktops (without it Qt runs through XWayland), and
# setcap, for granting the right to raise the watched client's priority.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "qt6-wayland, libcap2-bin")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

# A source archive holds the sources only, never build folders or the repository's history.
set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/" "/demo/")

include(CPack)
