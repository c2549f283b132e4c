# Debian packages, built with cpack from a build folder: quendal (the programs with their
# desktop files and manual pages) and libcport-dev (the component's headers, static libraries,
# CMake package and pkg-config file). dpkg-shlibdeps names the runtime dependencies.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quendal)
set(CPACK_PACKAGE_VENDOR "The Quendal developers")
# As in data/changelog and data/copyright.
set(CPACK_PACKAGE_CONTACT "The Quendal developers <quendal@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
# Programs and libraries without their debugging information (libraries keep their symbols).
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL quendal dev)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SOURCE quendal)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_DEBIAN_QUENDAL_PACKAGE_NAME quendal)
set(CPACK_DEBIAN_QUENDAL_PACKAGE_SECTION electronics)
set(CPACK_DEBIAN_QUENDAL_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_QUENDAL_DESCRIPTION "data logger for the Tessivo RQ-71 measuring device
Quendal logs the readings of a Tessivo RQ-71, a measuring device that talks
RS-232: pick a serial port and its line settings, open the port, and
everything the device sends is appended to the log, which can be saved to
and loaded from text files. It can poll the device every 350 ms.
.
The package also holds rq71sim, a simulated RQ-71 on a pseudo-terminal, to
try the logger without a device.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libcport-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "qt6-base-dev, cmake, pkg-config")
set(CPACK_DEBIAN_DEV_DESCRIPTION "serial-port component for C++ programs (development files)
cport opens serial ports and sets their line settings, transfers data with
or without blocking, hands line events (received data, modem lines, errors)
to the program's handlers, stores port settings and lists the system's
ports. It needs no GUI library; cportqt adds Qt 6 Widgets selectors and a
setup dialog.
.
This package holds the headers, the static libraries, the CMake package
(find_package(cport)) and the pkg-config file.")

include(CPack)
