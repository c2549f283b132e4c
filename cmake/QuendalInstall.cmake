# Where things are installed, and what the component's users need besides its libraries and
# headers: the CMake package (find_package(cport), imported targets, a version file) and a
# pkg-config file. The libraries, headers and programs are installed by their own folders.

# Libraries go to the multiarch folder (lib/x86_64-linux-gnu) on Debian and its kin, whatever
# the prefix, so that the package's pkg-config and CMake files serve cross builds as well.
if(CMAKE_SYSTEM_NAME STREQUAL "Linux" AND CMAKE_LIBRARY_ARCHITECTURE
   AND EXISTS /etc/debian_version)
    set(CMAKE_INSTALL_LIBDIR lib/${CMAKE_LIBRARY_ARCHITECTURE} CACHE PATH
        "Object code libraries (LIBDIR)")
endif()
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

# quendal_install_static_library(TARGET EXPORT): installs a library of the component for the
# development files. cmake --install --strip (and so the Debian package) also drops its
# debugging information, most of its size, which CMake does for programs only.
function(quendal_install_static_library target export)
    install(TARGETS ${target} EXPORT ${export}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT dev)
    if(CMAKE_STRIP)
        set(file "\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR}")
        string(APPEND file "/$<TARGET_FILE_NAME:${target}>")
        install(CODE "if(CMAKE_INSTALL_DO_STRIP)
            execute_process(COMMAND \"${CMAKE_STRIP}\" --strip-debug --remove-section=.comment
                                    --enable-deterministic-archives \"${file}\"
                            COMMAND_ERROR_IS_FATAL ANY)
        endif()" COMPONENT dev)
    endif()
endfunction()

# Called once every library's folder has been added.
function(quendal_install_package_files)
    set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/cport)
    install(EXPORT cportTargets NAMESPACE cport:: DESTINATION ${package_dir} COMPONENT dev)
    if(TARGET cportqt)
        install(EXPORT cportqtTargets NAMESPACE cport:: DESTINATION ${package_dir}
            COMPONENT dev)
    endif()
    configure_package_config_file(${PROJECT_SOURCE_DIR}/cmake/cportConfig.cmake.in
        ${PROJECT_BINARY_DIR}/cportConfig.cmake INSTALL_DESTINATION ${package_dir})
    # The component's interface may change with a new major version only.
    write_basic_package_version_file(${PROJECT_BINARY_DIR}/cportConfigVersion.cmake
        COMPATIBILITY SameMajorVersion)
    install(FILES ${PROJECT_BINARY_DIR}/cportConfig.cmake
                  ${PROJECT_BINARY_DIR}/cportConfigVersion.cmake
        DESTINATION ${package_dir} COMPONENT dev)

    # Paths relative to the file's own folder, so that the installed tree can be moved (tests
    # install into a temporary prefix, the package into /usr).
    file(RELATIVE_PATH QUENDAL_PC_TO_PREFIX "/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/")
    string(REGEX REPLACE "/$" "" QUENDAL_PC_TO_PREFIX "${QUENDAL_PC_TO_PREFIX}")
    configure_file(${PROJECT_SOURCE_DIR}/cmake/cport.pc.in ${PROJECT_BINARY_DIR}/cport.pc @ONLY)
    install(FILES ${PROJECT_BINARY_DIR}/cport.pc
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig COMPONENT dev)
endfunction()
