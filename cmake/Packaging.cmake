# Debian packages of everything `cmake --install` installs (`make package`).
# Two packages, by install component:
#   krv520-config  the window program: component "window", set in app/
#   krv520-tools   krv520-cli and krv520-sim: component "tools", set in tools/
# A machine that only runs scripts then needs no desktop files, and a desktop
# needs no simulator.
include(GNUInstallDirs)

set(KRV_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)
set(KRV_PACKAGE_COMPONENTS window tools)
set(KRV_PACKAGE_NAMES krv520-config krv520-tools)

# Debian wants a copyright file and a changelog in each package's doc folder,
# and reads lintian overrides from a file named after the package. Only the
# packages get them, not a plain `cmake --install`.
foreach(component package IN ZIP_LISTS KRV_PACKAGE_COMPONENTS KRV_PACKAGE_NAMES)
    install(FILES ${KRV_PACKAGING_DIR}/copyright ${KRV_PACKAGING_DIR}/changelog
            DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
            COMPONENT ${component} EXCLUDE_FROM_ALL)
    # None is needed today; a warning that cannot be mended goes into
    # packaging/PACKAGE.lintian-overrides, each with its reason.
    if(EXISTS ${KRV_PACKAGING_DIR}/${package}.lintian-overrides)
        install(FILES ${KRV_PACKAGING_DIR}/${package}.lintian-overrides
                DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME ${package}
                COMPONENT ${component} EXCLUDE_FROM_ALL)
    endif()
endforeach()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${KRV_PACKAGE_COMPONENTS})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Vela KRV520 Utility Maintainers <krv520-config@vela.example>")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "https://vela.example/krv520/config/")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_STRIP_FILES ON)
# Manual pages and changelogs are compressed as Debian expects, whoever
# installs them.
set(CPACK_PRE_BUILD_SCRIPTS ${KRV_PACKAGING_DIR}/compress-docs.cmake)

set(CPACK_DEBIAN_WINDOW_PACKAGE_NAME krv520-config)
# The window's stand-in fonts for MS Sans Serif come from fontconfig, not
# from a library link. The xcb platform plugin and the gif and ico image
# plugins it loads ship in libqt6gui6, which the link already names. The
# spooler connection needs a CUPS scheduler, local or remote, the others none.
set(CPACK_DEBIAN_WINDOW_PACKAGE_DEPENDS "fonts-liberation2 | fonts-dejavu-core")
# Qt's Wayland plugin: without it the window runs through XWayland.
set(CPACK_DEBIAN_WINDOW_PACKAGE_RECOMMENDS "qt6-wayland")
set(CPACK_DEBIAN_WINDOW_PACKAGE_SUGGESTS "cups, krv520-tools")
set(CPACK_DEBIAN_WINDOW_DESCRIPTION
    "configuration utility for the Vela KRV520 receipt printer
The Vela KRV520 Configuration Utility sets the sixteen memory-switch
settings of the KRV520 thermal receipt printer, prints its test page and
explains every setting in a help topic. The printer is reached through a
CUPS queue, over TCP/IP or through a file or device node.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME krv520-tools)
# The simulator draws receipts with the DejaVu fonts, loaded by path from
# fonts-dejavu-core so that a page is the same dot for dot everywhere.
set(CPACK_DEBIAN_TOOLS_PACKAGE_DEPENDS "fonts-dejavu-core")
set(CPACK_DEBIAN_TOOLS_PACKAGE_SUGGESTS "cups, krv520-config")
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
    "command-line tools for the Vela KRV520 receipt printer
krv520-cli sends the same settings and test page as the KRV520
Configuration Utility from a terminal or a script, to many printers alike,
and checks what is wrong with a connection. krv520-sim is a virtual KRV520
on a local TCP port that decodes and draws what it receives, for trying
either program without a printer.")

include(CPack)
