# Precompiled headers: the heavy library headers (nlohmann-json, cpp-httplib, GoogleTest) are parsed once
# per target instead of once per source file. A target precompiles only what it
# links (json with nlohmann_json, httplib.h with HTTPLIB, gtest.h and gmock.h with GoogleTest), so a source
# sees no library that its target does not already use; sources still include what they use, so a build
# with ZRK_PCH=OFF is the same build, only slower.
option(ZRK_PCH "Precompile the heavy library headers of each target" ON)
# Below this many C++ sources a target's own header costs more than it saves.
set(ZRK_PCH_MIN_SOURCES 2)

# With ccache as the compiler launcher, ccache caches sources compiled against a precompiled header only
# with this sloppiness (the header's own timestamps and the macros it was built with are checked by the
# compiler itself: -Winvalid-pch). Nothing else depends on ccache.
if(ZRK_PCH)
  foreach(lang C CXX)
    if(CMAKE_${lang}_COMPILER_LAUNCHER MATCHES "ccache")
      set(CMAKE_${lang}_COMPILER_LAUNCHER
        ${CMAKE_COMMAND} -E env CCACHE_SLOPPINESS=pch_defines,time_macros,include_file_mtime,include_file_ctime
        ${CMAKE_${lang}_COMPILER_LAUNCHER})
    endif()
  endforeach()
endif()

# The libraries a target links, directly or through the targets it links, in _zrk_links.
function(_zrk_link_closure target)
  set(seen ${_zrk_links})
  set(queue ${target})
  while(queue)
    list(POP_FRONT queue current)
    set(next "")
    if(TARGET ${current})
      get_target_property(type ${current} TYPE)
      get_target_property(interface ${current} INTERFACE_LINK_LIBRARIES)
      if(interface)
        list(APPEND next ${interface})
      endif()
      if(NOT type STREQUAL "INTERFACE_LIBRARY")
        get_target_property(direct ${current} LINK_LIBRARIES)
        if(direct)
          list(APPEND next ${direct})
        endif()
      endif()
    endif()
    foreach(item ${next})
      # $<LINK_ONLY:x> and $<LINK_LIBRARY:FEATURE,x> name a target too.
      string(REGEX REPLACE "^\\$<LINK_ONLY:(.*)>$" "\\1" item "${item}")
      string(REGEX REPLACE "^\\$<LINK_LIBRARY:[A-Z_]+,(.*)>$" "\\1" item "${item}")
      if(NOT item IN_LIST seen)
        list(APPEND seen ${item})
        list(APPEND queue ${item})
      endif()
    endforeach()
  endwhile()
  set(_zrk_links ${seen} PARENT_SCOPE)
endfunction()

function(_zrk_precompile_target target)
  get_target_property(type ${target} TYPE)
  if(NOT type MATCHES "^(STATIC_LIBRARY|SHARED_LIBRARY|MODULE_LIBRARY|EXECUTABLE)$")
    return()
  endif()
  get_target_property(sources ${target} SOURCES)
  list(FILTER sources INCLUDE REGEX "\\.(cpp|cc|cxx)$")
  list(LENGTH sources count)
  if(count LESS ZRK_PCH_MIN_SOURCES)
    return()
  endif()
  set(_zrk_links "")
  _zrk_link_closure(${target})
  # Only the project's own targets, which all link zrk_warnings (not the libraries the Windows build
  # compiles from Debian's sources).
  if(NOT "zrk_warnings" IN_LIST _zrk_links)
    return()
  endif()
  set(headers "")
  if("nlohmann_json::nlohmann_json" IN_LIST _zrk_links)
    list(APPEND headers <nlohmann/json.hpp>)
  endif()
  # Not on Windows, nor windows.h itself: httplib.h brings windows.h there, whose macros rename portable
  # names (FindResource becomes FindResourceA) in every source that would see it without asking.
  if("PkgConfig::HTTPLIB" IN_LIST _zrk_links AND NOT WIN32)
    list(APPEND headers <httplib.h>)
  endif()
  if("GTest::gtest" IN_LIST _zrk_links OR "gtest" IN_LIST _zrk_links)
    list(APPEND headers <gtest/gtest.h>)
  endif()
  if("GTest::gmock" IN_LIST _zrk_links OR "gmock" IN_LIST _zrk_links)
    list(APPEND headers <gmock/gmock.h>)
  endif()
  if(headers)
    target_precompile_headers(${target} PRIVATE ${headers})
  endif()
endfunction()

# Gives every C++ target of the project below DIR its precompiled headers; called once at the end of the
# top-level CMakeLists.txt, when every target is known.
function(zrk_precompile_headers dir)
  if(NOT ZRK_PCH)
    return()
  endif()
  get_property(targets DIRECTORY ${dir} PROPERTY BUILDSYSTEM_TARGETS)
  foreach(target ${targets})
    _zrk_precompile_target(${target})
  endforeach()
  get_property(subdirs DIRECTORY ${dir} PROPERTY SUBDIRECTORIES)
  foreach(subdir ${subdirs})
    zrk_precompile_headers(${subdir})
  endforeach()
endfunction()
