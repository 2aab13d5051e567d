# Every target of the project links zrk_warnings; the build stays free of warnings.
add_library(zrk_warnings INTERFACE)
target_compile_options(zrk_warnings INTERFACE -Wall -Wextra)
