# The Debian package of the installed station (cmake/Install.cmake lays it out); scripts/package makes it.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${PXL_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Kestrane")
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/package)
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Kestrane station tools <station-tools@kestrane.example>")
set(CPACK_DEBIAN_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "factory flashing station for up to 16 devices at once")
# Debian's extended description, under the summary; CPack indents it.
set(CPACK_PACKAGE_DESCRIPTION
    "Kestrane Praxilo V6 writes one firmware load to as many as 16 devices at\n\
once, each on its own serial port, and shows per port its status, progress,\n\
elapsed time and last error. The window (Praxilo) and the headless front end\n\
(praxilo-cli) drive the same port manager.\n\
\n\
This package carries stand-ins of the closed flash engine, image checker and\n\
authentication library, which simulate a rack of devices; a vendor's\n\
libraries replace them in the package's library folder.")

# Dependencies from Debian's own packages, as dpkg-shlibdeps reads them off the binaries; it follows the
# executables' run path into the private folder, whose libraries are the package's own.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# What the binaries load or start by name, out of dpkg-shlibdeps' sight: the station database's Qt driver,
# and the desktop's opener of the logs folder.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libqt5sql5-sqlite")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils")

# The installer's settings file is the administrator's once installed: dpkg keeps their edits on upgrade.
file(WRITE ${CMAKE_BINARY_DIR}/packaging/conffiles "${PXL_INSTALL_SETTINGS_DIR}/pxl_setting.ini\n")
set(CPACK_DEBIAN_PACKAGE_CONTROL_EXTRA ${CMAKE_BINARY_DIR}/packaging/conffiles)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)

include(CPack)
