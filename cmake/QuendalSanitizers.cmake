# Sanitizers apply to everything built in the tree (tests, libraries and programs), since a
# sanitizer build must not link instrumented with uninstrumented code of our own.
if(QUENDAL_SANITIZE STREQUAL "address")
    add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer
                        -fno-sanitize-recover=undefined)
    add_link_options(-fsanitize=address,undefined)
elseif(QUENDAL_SANITIZE STREQUAL "thread")
    add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
    add_link_options(-fsanitize=thread)
elseif(NOT QUENDAL_SANITIZE STREQUAL "")
    message(FATAL_ERROR "QUENDAL_SANITIZE must be empty, 'address' or 'thread'")
endif()
