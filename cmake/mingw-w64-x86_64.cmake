# Cross build of the Windows program with Debian's mingw-w64, 64-bit: a
# second target beside the 32-bit program (cmake/mingw-w64-i686.cmake).
# The POSIX-threads flavour of the compiler is used: it is the one whose C++
# library has std::thread, which the dialog models run on.
#
#   cmake -S . -B build-windows64 -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(HHSYNC_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${HHSYNC_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HHSYNC_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${HHSYNC_MINGW_TRIPLE}-windres)

# Libraries and headers come from the cross sysroot only; build tools from
# the host.
set(CMAKE_FIND_ROOT_PATH /usr/${HHSYNC_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs built here run under wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
