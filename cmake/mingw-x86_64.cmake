# MinGW-w64 for 64-bit Windows: the same sources as a test build that 64-bit Wine runs everywhere.
set(MINGW_ARCH x86_64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw.cmake)
