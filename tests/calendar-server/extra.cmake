# The server's logic is linked in; the program itself is started by the tests of its options.
target_link_libraries(${name} PRIVATE calendar_server_core)
target_compile_definitions(${name} PRIVATE CALENDAR_SERVER_PROGRAM="$<TARGET_FILE:calendar-server>")
add_dependencies(${name} calendar-server)
# Sun times are checked against an independent ephemeris (python3-ephem), Debian's own Python having it.
find_program(ZRK_SYSTEM_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
target_compile_definitions(${name} PRIVATE PYTHON3="${ZRK_SYSTEM_PYTHON3}"
  SUN_REFERENCE="${CMAKE_CURRENT_LIST_DIR}/sun_reference.py")
