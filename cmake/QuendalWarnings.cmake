# The strict warning set, applied per target (never globally) so that third-party code is
# compiled with its own flags. The list is also handed to the tests that build programs
# against the installed component.
set(QUENDAL_WARNING_FLAGS
    -Wall -Wextra -Wpedantic -Wshadow -Wconversion -Wold-style-cast
    -Woverloaded-virtual -Wnon-virtual-dtor -Wcast-qual -Wformat=2
    -Wimplicit-fallthrough -Wundef)

function(quendal_warnings target)
    if(MSVC)
        target_compile_options(${target} PRIVATE /W4 /permissive-)
        if(QUENDAL_WERROR)
            target_compile_options(${target} PRIVATE /WX)
        endif()
        return()
    endif()
    target_compile_options(${target} PRIVATE ${QUENDAL_WARNING_FLAGS})
    # GCC 12 reports std::string's own copies at -O3 (GCC bug 105329).
    if(CMAKE_CXX_COMPILER_ID STREQUAL "GNU" AND CMAKE_CXX_COMPILER_VERSION VERSION_LESS 13)
        target_compile_options(${target} PRIVATE -Wno-restrict)
    endif()
    if(QUENDAL_WERROR)
        target_compile_options(${target} PRIVATE -Werror)
    endif()
endfunction()
