# Toolchain file of the 64-bit Windows build (preset `windows`).
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(ZRK_MINGW_TRIPLET x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/MinGW.cmake)
