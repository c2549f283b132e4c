# Running the Windows test programs under Wine on a Linux build machine (64-bit only: 32-bit
# Wine would replace much of the system). Included by tests/CMakeLists.txt in cross builds.
# The Linux side (device host, modem-line library) is built with the machine's own compiler as
# an external project; wine-run, made from wine-run.in, is the emulator of every test program.
find_program(QUENDAL_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
find_program(QUENDAL_WINESERVER NAMES wineserver64 wineserver PATHS /usr/lib/wine
             NO_CMAKE_FIND_ROOT_PATH)
if(NOT QUENDAL_WINE64 OR NOT QUENDAL_WINESERVER)
    message(STATUS "wine64 not found: the Windows tests build but cannot run here")
endif()

include(ExternalProject)
set(host_dir ${CMAKE_BINARY_DIR}/wine-host)
ExternalProject_Add(wine_host
    SOURCE_DIR ${CMAKE_CURRENT_LIST_DIR}
    BINARY_DIR ${host_dir}
    CMAKE_GENERATOR ${CMAKE_GENERATOR}
    CMAKE_ARGS -DCMAKE_BUILD_TYPE=Release -DQUENDAL_WERROR=${QUENDAL_WERROR}
               -DCMAKE_CXX_COMPILER_LAUNCHER=${CMAKE_CXX_COMPILER_LAUNCHER}
    BUILD_ALWAYS ON
    INSTALL_COMMAND ""
    BUILD_BYPRODUCTS ${host_dir}/device_host ${host_dir}/libmodem_lines.so)

set(QUENDAL_WINE_PREFIX ${CMAKE_BINARY_DIR}/wine-prefix)
set(QUENDAL_DEVICE_HOST ${host_dir}/device_host)
set(QUENDAL_MODEM_LIB ${host_dir}/libmodem_lines.so)
configure_file(${CMAKE_CURRENT_LIST_DIR}/wine-run.in ${CMAKE_BINARY_DIR}/wine-run
               FILE_PERMISSIONS OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE
                                WORLD_READ WORLD_EXECUTE
               @ONLY)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_BINARY_DIR}/wine-run)

# The run's wineserver: started before the first test and stopped after the last one.
add_test(NAME wine_start COMMAND ${CMAKE_BINARY_DIR}/wine-run --start)
add_test(NAME wine_stop COMMAND ${CMAKE_BINARY_DIR}/wine-run --stop)
set_tests_properties(wine_start PROPERTIES FIXTURES_SETUP wine)
set_tests_properties(wine_stop PROPERTIES FIXTURES_CLEANUP wine)
set(QUENDAL_TEST_PROPERTIES FIXTURES_REQUIRED wine)
