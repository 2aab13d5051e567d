# The Windows build's dependencies, built with the mingw compiler from Debian's own sources: TinyXML and
# cpp-httplib from their Debian source packages (Debian's patches applied), fetched through a private apt
# configuration into build/windows-deps; GoogleTest from the sources Debian's googletest package installs;
# nlohmann-json's headers as Debian installs them. Nothing of them is kept in the repository.
set(ZRK_WINDOWS_DEPS ${PROJECT_SOURCE_DIR}/build/windows-deps CACHE PATH
  "Where the Debian source packages of the Windows build are unpacked")

function(zrk_fetch_debian_source package)
  if(NOT EXISTS ${ZRK_WINDOWS_DEPS}/${package})
    message(STATUS "Fetching Debian's ${package} sources")
    execute_process(
      COMMAND sh ${PROJECT_SOURCE_DIR}/tools/windows/fetch-debian-source.sh
              ${ZRK_WINDOWS_DEPS} ${package} ${ZRK_WINDOWS_DEPS}/${package}
      RESULT_VARIABLE result)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "apt-get source ${package} failed")
    endif()
  endif()
endfunction()

find_package(Threads REQUIRED)

# nlohmann-json is header-only: its folder alone, not the machine's whole include tree.
set(_json_root ${PROJECT_BINARY_DIR}/deps/json-include)
if(NOT EXISTS ${_json_root}/nlohmann)
  file(MAKE_DIRECTORY ${_json_root})
  file(CREATE_LINK /usr/include/nlohmann ${_json_root}/nlohmann SYMBOLIC)
endif()
add_library(nlohmann_json::nlohmann_json INTERFACE IMPORTED)
set_target_properties(nlohmann_json::nlohmann_json PROPERTIES INTERFACE_INCLUDE_DIRECTORIES ${_json_root})

# TinyXML as Debian builds it (with the STL interface).
zrk_fetch_debian_source(tinyxml)
set(_tinyxml ${ZRK_WINDOWS_DEPS}/tinyxml)
add_library(zrk_tinyxml STATIC
  ${_tinyxml}/tinyxml.cpp ${_tinyxml}/tinystr.cpp ${_tinyxml}/tinyxmlerror.cpp ${_tinyxml}/tinyxmlparser.cpp)
target_compile_definitions(zrk_tinyxml PUBLIC TIXML_USE_STL)
target_include_directories(zrk_tinyxml SYSTEM PUBLIC ${_tinyxml})
add_library(PkgConfig::TINYXML ALIAS zrk_tinyxml)
# Other projects' sources are built file by file as their own builds do (their file-local names may clash).
set_target_properties(zrk_tinyxml PROPERTIES UNITY_BUILD OFF)

# cpp-httplib's whole header, for the loopback servers of the tests.
if(ZRK_BUILD_TESTS OR ZRK_BUILD_TOOLS)
  zrk_fetch_debian_source(cpp-httplib)
  add_library(PkgConfig::HTTPLIB INTERFACE IMPORTED)
  set_target_properties(PkgConfig::HTTPLIB PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES ${ZRK_WINDOWS_DEPS}/cpp-httplib
    INTERFACE_LINK_LIBRARIES "ws2_32;crypt32")
endif()

if(ZRK_BUILD_TESTS)
  set(gtest_force_shared_crt ON CACHE BOOL "" FORCE)
  set(INSTALL_GTEST OFF CACHE BOOL "" FORCE)
  add_subdirectory(/usr/src/googletest ${PROJECT_BINARY_DIR}/deps/googletest EXCLUDE_FROM_ALL SYSTEM)
  include(GoogleTest)
endif()

# The calendar server's libraries (64-bit only: the 32-bit build holds the plug-in's DLL alone), built from
# Debian's source packages with this build's mingw compiler, static, once per clone: the results stay in
# build/windows-deps/<triplet>, apart from the preset's own build folder.
if(ZRK_BUILD_TOOLS AND CMAKE_SIZEOF_VOID_P EQUAL 8)
  set(_prefix ${ZRK_WINDOWS_DEPS}/${ZRK_MINGW_TRIPLET})
  file(MAKE_DIRECTORY ${_prefix})

  function(zrk_run_step what)
    execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE out)
    if(NOT result EQUAL 0)
      message(FATAL_ERROR "${what} failed:\n${out}")
    endif()
  endfunction()

  # SQLite: its one-file form, made from Debian's source tree by SQLite's own build on this machine (tclsh),
  # then compiled here like any source.
  zrk_fetch_debian_source(sqlite3)
  set(_sqlite ${ZRK_WINDOWS_DEPS}/sqlite3-amalgamation)
  if(NOT EXISTS ${_sqlite}/sqlite3.c)
    message(STATUS "Making SQLite's one-file source")
    file(MAKE_DIRECTORY ${_sqlite})
    zrk_run_step("SQLite's configure" sh ${ZRK_WINDOWS_DEPS}/sqlite3/configure --disable-tcl
                 WORKING_DIRECTORY ${_sqlite})
    zrk_run_step("SQLite's one-file source" make -C ${_sqlite} sqlite3.c)
  endif()
  add_library(zrk_sqlite3 STATIC ${_sqlite}/sqlite3.c)
  # As Debian builds it for the server's needs: threads, the write-ahead log, no loadable extensions.
  target_compile_definitions(zrk_sqlite3 PRIVATE SQLITE_THREADSAFE=1 SQLITE_OMIT_LOAD_EXTENSION
                                                 SQLITE_DEFAULT_FOREIGN_KEYS=0)
  target_include_directories(zrk_sqlite3 SYSTEM PUBLIC ${_sqlite})
  add_library(PkgConfig::SQLITE3 ALIAS zrk_sqlite3)

  # A small change to a dependency's sources, from tools/windows/patches, applied once.
  function(zrk_patch_source package patch)
    set(_marker ${ZRK_WINDOWS_DEPS}/${package}/.zrk-${patch})
    if(NOT EXISTS ${_marker})
      zrk_run_step("${package}: ${patch}" patch -d ${ZRK_WINDOWS_DEPS}/${package} -p1 -N -i
                   ${PROJECT_SOURCE_DIR}/tools/windows/patches/${patch}.patch)
      file(TOUCH ${_marker})
    endif()
  endfunction()

  # libnova: its C sources, with 64-bit time (its Windows build asks for 32-bit time on every mingw).
  zrk_fetch_debian_source(libnova)
  zrk_patch_source(libnova libnova-64bit-time)
  set(_nova ${ZRK_WINDOWS_DEPS}/libnova/src)
  file(GLOB _nova_sources ${_nova}/*.c)
  add_library(zrk_nova STATIC ${_nova_sources})
  set_target_properties(zrk_nova PROPERTIES UNITY_BUILD OFF)
  # The few checks its configure would make, answered for mingw.
  file(WRITE ${PROJECT_BINARY_DIR}/deps/nova-config/config.h
       "#define HAVE_ROUND 1\n#define HAVE_COSL 1\n#define HAVE_SINL 1\n#define HAVE_ACOSL 1\n"
       "#define HAVE_ASINL 1\n#define HAVE_ATAN2L 1\n")
  target_include_directories(zrk_nova PRIVATE ${PROJECT_BINARY_DIR}/deps/nova-config)
  target_include_directories(zrk_nova SYSTEM PUBLIC ${_nova})
  target_compile_definitions(zrk_nova PUBLIC LIBNOVA_STATIC)
  target_compile_options(zrk_nova PRIVATE -w)
  set(NOVA_INCLUDE_DIR ${_nova})
  set(NOVA_LIBRARY zrk_nova)

  # libical: its own CMake build (the library alone: no bindings, tests or docs), installed into the
  # prefix. Debian's libical3 source package; a mirror without its Debian part gives the upstream tarball.
  # One small addition lets the server point libical's TZif reader at the zone data shipped beside it.
  # (tools/windows/patches: changes made to a dependency's unpacked sources, once, before its build.)
  zrk_fetch_debian_source(libical3)
  if(NOT EXISTS ${_prefix}/lib/libical.a)
    message(STATUS "Building libical for ${ZRK_MINGW_TRIPLET}")
    set(_src ${ZRK_WINDOWS_DEPS}/libical3)
    zrk_patch_source(libical3 libical-zone-directory)
    # Its Windows build takes every Windows machine for big-endian, which garbles the TZif files it reads.
    zrk_patch_source(libical3 libical-byte-order)
    set(_build ${ZRK_WINDOWS_DEPS}/libical3-build-${ZRK_MINGW_TRIPLET})
    zrk_run_step("libical's configure" ${CMAKE_COMMAND} -S ${_src} -B ${_build} -G "Unix Makefiles"
      -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE} -DCMAKE_BUILD_TYPE=Release
      -DCMAKE_INSTALL_PREFIX=${_prefix} -DSTATIC_ONLY=ON -DSHARED_ONLY=OFF -DICAL_GLIB=OFF
      -DICAL_BUILD_DOCS=OFF -DLIBICAL_BUILD_TESTING=OFF -DWITH_CXX_BINDINGS=OFF -DENABLE_GTK_DOC=OFF
      -DGOBJECT_INTROSPECTION=OFF -DICAL_GLIB_VAPI=OFF -DCMAKE_DISABLE_FIND_PACKAGE_ICU=ON
      -DCMAKE_DISABLE_FIND_PACKAGE_BDB=ON -DCMAKE_DISABLE_FIND_PACKAGE_BerkeleyDB=ON
      -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER}
      # Its zone lock is taken again by the thread holding it: recursive, as libical asks of glibc.
      "-DCMAKE_C_FLAGS=-DPTHREAD_RECURSIVE_MUTEX_INITIALIZER_NP=PTHREAD_RECURSIVE_MUTEX_INITIALIZER")
    zrk_run_step("libical's build" ${CMAKE_COMMAND} --build ${_build} -j 2)
    zrk_run_step("libical's install" ${CMAKE_COMMAND} --install ${_build})
  endif()
  # libsodium (the plan page's password hashes): its C sources built by tools/windows/libsodium (its own
  # configure would need autotools to be generated first), static, installed into the prefix.
  zrk_fetch_debian_source(libsodium)
  if(NOT EXISTS ${_prefix}/lib/libsodium.a)
    message(STATUS "Building libsodium for ${ZRK_MINGW_TRIPLET}")
    set(_build ${ZRK_WINDOWS_DEPS}/libsodium-build-${ZRK_MINGW_TRIPLET})
    zrk_run_step("libsodium's configure" ${CMAKE_COMMAND} -S ${PROJECT_SOURCE_DIR}/tools/windows/libsodium
      -B ${_build} -G "Unix Makefiles" -DCMAKE_TOOLCHAIN_FILE=${CMAKE_TOOLCHAIN_FILE}
      -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=${_prefix}
      -DSODIUM_SOURCE_DIR=${ZRK_WINDOWS_DEPS}/libsodium
      -DCMAKE_C_COMPILER_LAUNCHER=${CMAKE_C_COMPILER_LAUNCHER})
    zrk_run_step("libsodium's build" ${CMAKE_COMMAND} --build ${_build} -j 2)
    zrk_run_step("libsodium's install" ${CMAKE_COMMAND} --install ${_build})
  endif()
  add_library(PkgConfig::SODIUM STATIC IMPORTED)
  set_target_properties(PkgConfig::SODIUM PROPERTIES IMPORTED_LOCATION ${_prefix}/lib/libsodium.a
    INTERFACE_INCLUDE_DIRECTORIES ${_prefix}/include INTERFACE_COMPILE_DEFINITIONS SODIUM_STATIC
    # randombytes takes the system's random bytes through advapi32 (RtlGenRandom).
    INTERFACE_LINK_LIBRARIES advapi32)

  add_library(PkgConfig::LIBICAL STATIC IMPORTED)
  set_target_properties(PkgConfig::LIBICAL PROPERTIES IMPORTED_LOCATION ${_prefix}/lib/libical.a
    INTERFACE_INCLUDE_DIRECTORIES ${_prefix}/include
    # This build can be pointed at a folder of zone data (the addition above).
    INTERFACE_COMPILE_DEFINITIONS ZRK_LIBICAL_ZONE_DIRECTORY)
endif()
