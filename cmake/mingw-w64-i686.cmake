# Toolchain file of the 32-bit Windows build (preset `windows-x86`).
set(CMAKE_SYSTEM_PROCESSOR i686)
set(ZRK_MINGW_TRIPLET i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
