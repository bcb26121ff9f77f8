# One interface target carries the warning and floating-point flags to every target, tests included.
add_library(tri2stl_flags INTERFACE)

if(MSVC)
    target_compile_options(tri2stl_flags INTERFACE /W4 /permissive- /fp:precise)
    if(TRI2STL_WERROR)
        target_compile_options(tri2stl_flags INTERFACE /WX)
    endif()
else()
    target_compile_options(tri2stl_flags INTERFACE
        -Wall -Wextra -Wpedantic -Wconversion -Wsign-conversion -Wshadow -Wundef
        -Wold-style-cast -Wdouble-promotion -Wcast-qual
        # Number code relies on every binary64 step being rounded on its own:
        # no fused multiply-add, no extended precision.
        -ffp-contract=off)
    if(CMAKE_SIZEOF_VOID_P EQUAL 4 AND CMAKE_SYSTEM_PROCESSOR MATCHES "i.86|x86")
        target_compile_options(tri2stl_flags INTERFACE -msse2 -mfpmath=sse)
    endif()
    if(TRI2STL_WERROR)
        target_compile_options(tri2stl_flags INTERFACE -Werror)
    endif()
    if(TRI2STL_FUZZ)
        # Coverage for the fuzzer in every library, not only in the targets.
        target_compile_options(tri2stl_flags INTERFACE -fsanitize=fuzzer-no-link)
    endif()
    if(TRI2STL_SANITIZE)
        target_compile_options(tri2stl_flags INTERFACE
            -fsanitize=address,undefined -fno-sanitize-recover=all -fno-omit-frame-pointer)
        target_link_options(tri2stl_flags INTERFACE -fsanitize=address,undefined)
    endif()
endif()
