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
