# Cross-compiles for 32-bit Windows with the MinGW-w64 i686 toolchain (Debian's
# g++-mingw-w64-i686):
#   cmake -S . -B build-windows -G Ninja \
#     -DCMAKE_TOOLCHAIN_FILE=cmake/i686-w64-mingw32.cmake
# The processor name makes the root CMakeLists add -msse2 -mfpmath=sse: without them 32-bit x86
# computes in the x87 unit's extended precision and the results would differ from the other
# builds.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)

set(MARLO_MINGW_PREFIX i686-w64-mingw32 CACHE STRING "Prefix of the MinGW-w64 tools")
set(CMAKE_C_COMPILER ${MARLO_MINGW_PREFIX}-gcc)
set(CMAKE_CXX_COMPILER ${MARLO_MINGW_PREFIX}-g++)
set(CMAKE_DLLTOOL ${MARLO_MINGW_PREFIX}-dlltool)

# Libraries and headers come from the target's own tree only; programs from the build machine.
set(CMAKE_FIND_ROOT_PATH /usr/${MARLO_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
