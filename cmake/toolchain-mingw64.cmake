# Cross-build for 64-bit Windows with Debian's MinGW-w64 toolchain
# (package g++-mingw-w64-x86-64-posix: the posix thread model, which the
# host's std::thread needs).
#
#   cmake -S . -B build/windows -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(QUOLVA_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${QUOLVA_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${QUOLVA_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${QUOLVA_MINGW_TRIPLE}-windres)
set(CMAKE_OBJDUMP ${QUOLVA_MINGW_TRIPLE}-objdump CACHE FILEPATH "objdump of the Windows toolchain")

# Libraries and headers come from the MinGW sysroot only; programs run on the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${QUOLVA_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
