# Sanitizers apply to every target, so the whole process (plug-in, host, tests) is instrumented.
if(ZRK_SANITIZE STREQUAL "address")
  add_compile_options(-fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  add_link_options(-fsanitize=address,undefined)
elseif(ZRK_SANITIZE STREQUAL "thread")
  add_compile_options(-fsanitize=thread -fno-omit-frame-pointer)
  add_link_options(-fsanitize=thread)
elseif(ZRK_SANITIZE STREQUAL "fuzzer")
  # The fuzz build (clang only): every object carries the fuzzer's coverage hooks and the address and
  # undefined-behaviour checks; only the fuzz targets link the fuzzer's own main (fuzz/CMakeLists.txt).
  # -O1 keeps the checks exact while running several times faster than an unoptimised build.
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "ZRK_SANITIZE=fuzzer needs clang (the fuzz preset selects it)")
  endif()
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer
                      -fno-sanitize-recover=undefined -O1 -g)
  add_link_options(-fsanitize=address,undefined)
elseif(NOT ZRK_SANITIZE STREQUAL "")
  message(FATAL_ERROR "ZRK_SANITIZE must be empty, 'address', 'thread' or 'fuzzer'")
endif()
