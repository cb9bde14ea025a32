# The Debian package, built by CPack (scripts/package):
#   build/package/harborwatch_<version>_<arch>.deb
# Its dependencies come from dpkg-shlibdeps, its binary is stripped, and the
# copyright and changelog are in /usr/share/doc/harborwatch (data/CMakeLists.txt).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME harborwatch)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Harborwatch developers")
set(CPACK_PACKAGE_CONTACT "Harborwatch developers <harborwatch@users.noreply.github.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "tray utility listing local development servers")
set(CPACK_PACKAGE_DESCRIPTION
    "Harborwatch sits in the system tray and lists the development servers that
listen on TCP ports in a chosen range, such as node, python3, ruby or java
processes and the ports Docker or Podman containers publish. Each can be
opened in the browser, have its URL copied, its folder opened, or be stopped.
It posts a notification when a server starts or stops, can start at login,
and answers on the command line as well (harborwatch --list, --watch and
--stop).")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://github.com/harborwatch/harborwatch")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_HARBORWATCH_STRIP ${CMAKE_STRIP})
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/PackageStrip.cmake)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION devel)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Beside the libraries it links: Qt's display plugins, which it loads.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The monochrome tray icon is an SVG; lsof is the fallback lister.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "libqt6svg6")
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "lsof")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
