# The Windows packages: a portable zip (the program's folder is its program directory) and an
# installer made with NSIS (Start menu entry, uninstaller; the cache and log go to
# %LOCALAPPDATA%\Vantrel and stay when the program is removed).
# `cpack -G ZIP` or `cpack -G NSIS` in build-windows.
if(NOT TARGET vantrel)
    return()
endif()

install(FILES ${PROJECT_SOURCE_DIR}/README.md ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION .)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)

set(CPACK_PACKAGE_NAME Vantrel)
set(CPACK_PACKAGE_VENDOR "Vantrel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_INSTALL_DIRECTORY Vantrel)
if(VANTREL_PRERELEASE)
    set(CPACK_PACKAGE_FILE_NAME "Vantrel-${PROJECT_VERSION}-beta-win64")
else()
    set(CPACK_PACKAGE_FILE_NAME "Vantrel-${PROJECT_VERSION}-win64")
endif()
set(CPACK_GENERATOR ZIP NSIS)
set(CPACK_STRIP_FILES ON)
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)

# The installer: per user, into Program Files; a Start menu entry for the program.
set(CPACK_NSIS_DISPLAY_NAME "Vantrel")
set(CPACK_NSIS_PACKAGE_NAME "Vantrel ${PROJECT_VERSION}")
set(CPACK_NSIS_MUI_ICON ${PROJECT_BINARY_DIR}/src/winui/dish-128.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_BINARY_DIR}/src/winui/dish-128.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME vantrel.exe)
set(CPACK_NSIS_MENU_LINKS "vantrel.exe" "Vantrel" "README.md" "Vantrel README")
set(CPACK_PACKAGE_EXECUTABLES vantrel Vantrel)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
# The uninstaller removes only what it installed: the cache, the log and the configuration live
# in %LOCALAPPDATA%\Vantrel, never beside the installed program, and stay.

include(CPack)
