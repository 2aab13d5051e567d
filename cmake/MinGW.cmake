# Cross build of the Windows programs with Debian's mingw-w64 (the -posix compilers, whose C++ library has
# std::thread). Included by the two toolchain files, which set ZRK_MINGW_TRIPLET and the processor.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_VERSION 10)

set(CMAKE_C_COMPILER ${ZRK_MINGW_TRIPLET}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ZRK_MINGW_TRIPLET}-g++-posix)
set(CMAKE_RC_COMPILER ${ZRK_MINGW_TRIPLET}-windres)

# Libraries and headers only from the mingw tree; programs (cmake, the generators) from the machine.
set(CMAKE_FIND_ROOT_PATH /usr/${ZRK_MINGW_TRIPLET})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

# Test programs run through Wine.
set(CMAKE_CROSSCOMPILING_EMULATOR wine)
