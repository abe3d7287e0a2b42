# Cross-building for 64-bit Windows with Debian's mingw-w64 (POSIX thread
# model, which Qt needs). Used for Qt itself (scripts/windows-sdk.sh) and for
# Dervix (scripts/windows.sh); the Qt found is the one under
# CMAKE_PREFIX_PATH, never the host's.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(triple x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
# Searched below these roots only: the mingw-w64 headers and libraries, and
# the Windows Qt given with -DCMAKE_FIND_ROOT_PATH=<its folder>.
list(APPEND CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
