# Cross-build of the 64-bit Windows DLL with MinGW-w64 (Debian's
# g++-mingw-w64-x86-64):
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(DEDEDIRUZURUD_MINGW_PREFIX x86_64-w64-mingw32 CACHE STRING "MinGW-w64 tool prefix")
set(_triple ${DEDEDIRUZURUD_MINGW_PREFIX})

# Debian ships a win32 and a posix thread-model compiler; the win32 one needs
# no libwinpthread, and the library starts no threads anyway.
find_program(_mingw_cc NAMES ${_triple}-gcc-win32 ${_triple}-gcc NO_CACHE)
find_program(_mingw_cxx NAMES ${_triple}-g++-win32 ${_triple}-g++ NO_CACHE)
if(NOT _mingw_cc OR NOT _mingw_cxx)
  message(FATAL_ERROR "MinGW-w64 compilers not found (apt-get install g++-mingw-w64-x86-64)")
endif()
set(CMAKE_C_COMPILER ${_mingw_cc})
set(CMAKE_CXX_COMPILER ${_mingw_cxx})
set(CMAKE_RC_COMPILER ${_triple}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
