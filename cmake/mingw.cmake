# MinGW-w64 cross toolchain, shared by the win32 (i686) and win64 (x86_64) presets. MINGW_ARCH is
# set by the file that includes this one. MINGW_THREADS picks the compilers' thread model:
# "posix" (the default) for the tests and saverpack.exe, which use std::thread, and "win32" for
# the programs we put on users' machines, which then link no threads library and so import
# nothing newer than Windows XP from it.
if(NOT MINGW_THREADS)
  set(MINGW_THREADS posix)
endif()
set(CMAKE_TRY_COMPILE_PLATFORM_VARIABLES MINGW_ARCH MINGW_THREADS)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${MINGW_ARCH})
set(CMAKE_C_COMPILER ${MINGW_ARCH}-w64-mingw32-gcc-${MINGW_THREADS})
set(CMAKE_CXX_COMPILER ${MINGW_ARCH}-w64-mingw32-g++-${MINGW_THREADS})
set(CMAKE_RC_COMPILER ${MINGW_ARCH}-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${MINGW_ARCH}-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Test programs run through Wine. The `wine` script starts the 32-bit loader; 64-bit programs are
# started by the 64-bit loader itself, which runs on kernels without 32-bit emulation too.
if(MINGW_ARCH STREQUAL "x86_64")
  set(CMAKE_CROSSCOMPILING_EMULATOR /usr/lib/wine/wine64)
else()
  set(CMAKE_CROSSCOMPILING_EMULATOR wine)
endif()
