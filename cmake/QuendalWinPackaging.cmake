# The Windows installers, built with cpack from a cross build: an NSIS installer
# (Quendal-<version>-win32.exe or -win64.exe) that puts the program into its own folder under
# Program Files with a Start menu entry and an uninstaller and shows the licence, and a zip of
# the same folder for running without installing. Only the program's component goes in.
install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION . RENAME LICENSE.txt COMPONENT quendal)

if(CMAKE_SIZEOF_VOID_P EQUAL 8)
    set(CPACK_SYSTEM_NAME win64)
    set(CPACK_NSIS_INSTALL_ROOT "$PROGRAMFILES64")
else()
    set(CPACK_SYSTEM_NAME win32)
endif()
set(CPACK_GENERATOR NSIS ZIP)
set(CPACK_PACKAGE_NAME Quendal)
set(CPACK_PACKAGE_VENDOR "The Quendal developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Data logger for the Tessivo RQ-71 measuring device")
set(CPACK_PACKAGE_FILE_NAME Quendal-${PROJECT_VERSION}-${CPACK_SYSTEM_NAME})
set(CPACK_PACKAGE_INSTALL_DIRECTORY Quendal)
set(CPACK_PACKAGE_INSTALL_REGISTRY_KEY Quendal)
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_STRIP_FILES ON)
# The program's component alone: the component's headers and libraries are for developers.
set(CPACK_INSTALL_CMAKE_PROJECTS "${CMAKE_BINARY_DIR};${PROJECT_NAME};quendal;/")

# The Start menu entry: quendal.exe, named Quendal, from the installation folder itself.
set(CPACK_PACKAGE_EXECUTABLES quendal Quendal)
set(CPACK_NSIS_EXECUTABLES_DIRECTORY .)
set(CPACK_NSIS_DISPLAY_NAME Quendal)
set(CPACK_NSIS_PACKAGE_NAME "Quendal ${PROJECT_VERSION}")
set(CPACK_NSIS_MUI_ICON ${PROJECT_SOURCE_DIR}/app/win/quendal.ico)
set(CPACK_NSIS_MUI_UNIICON ${PROJECT_SOURCE_DIR}/app/win/quendal.ico)
set(CPACK_NSIS_INSTALLED_ICON_NAME quendal.exe)
set(CPACK_NSIS_ENABLE_UNINSTALL_BEFORE_INSTALL ON)
set(CPACK_NSIS_COMPRESSOR "/SOLID lzma")

include(CPack)
