# The server's logic is linked in; the program itself is started by the tests of its options.
target_link_libraries(${name} PRIVATE calendar_server_core)
target_compile_definitions(${name} PRIVATE CALENDAR_SERVER_PROGRAM="$<TARGET_FILE:calendar-server>")
add_dependencies(${name} calendar-server)
