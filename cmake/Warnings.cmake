# Every target of the project links zrk_warnings; the build stays free of warnings.
add_library(zrk_warnings INTERFACE)
target_compile_options(zrk_warnings INTERFACE -Wall -Wextra)
# A unity build (the sanitizer and Windows presets) compiles each source as a file included into a batch,
# where GCC takes the source's own file-local types for a header's and warns about every test fixture.
if(CMAKE_UNITY_BUILD AND CMAKE_CXX_COMPILER_ID STREQUAL "GNU")
  target_compile_options(zrk_warnings INTERFACE -Wno-subobject-linkage)
endif()
