# Cross build of the 32-bit Windows console program with Debian's mingw-w64
# i686 compiler (posix thread model, for std::thread and std::mutex). The
# executables link the compiler's run-time libraries statically, so each .exe
# runs on its own, with nothing but system DLLs beside it. Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(TRI2STL_MINGW_PREFIX i686-w64-mingw32)
set(CMAKE_C_COMPILER ${TRI2STL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TRI2STL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TRI2STL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TRI2STL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# The call-stack table walks frames with StackWalk64, which on x86 follows the
# EBP chain when it has no debugging symbols: every frame keeps its pointer.
set(CMAKE_CXX_FLAGS_INIT "-fno-omit-frame-pointer")
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# gtest_discover_tests and ctest start every test .exe through Wine, in a Wine
# prefix of the build folder's own: made on first use, never shared with the
# user's, and quiet (no debug channels, no offer to install .NET or a browser).
find_program(TRI2STL_WINE wine REQUIRED)
find_program(TRI2STL_ENV env REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR
    ${TRI2STL_ENV} WINEPREFIX=${CMAKE_BINARY_DIR}/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=
    ${TRI2STL_WINE})
