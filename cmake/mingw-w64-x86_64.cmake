# Cross-build for 64-bit Windows with Debian's mingw-w64. The "-posix" compilers are used:
# the win32-threads variant lacks std::mutex and std::thread.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(TRACKHAUL_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${TRACKHAUL_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${TRACKHAUL_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${TRACKHAUL_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${TRACKHAUL_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Everything linked in, so that the .exe files run without the compiler's DLLs beside them.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Tests run under Wine when the build is tested on Linux.
find_program(TRACKHAUL_WINE64 NAMES wine64 PATHS /usr/lib/wine NO_CMAKE_FIND_ROOT_PATH)
if(TRACKHAUL_WINE64)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${TRACKHAUL_WINE64})
endif()
