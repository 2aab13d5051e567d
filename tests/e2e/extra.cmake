# The real plug-in in the substitute host against the reference server, all three as built programs.
add_dependencies(${name} zrkhost calendar-server)
target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tools/demo)
target_compile_definitions(${name} PRIVATE
  ZRKHOST_PATH="$<TARGET_FILE:zrkhost>"
  CALENDAR_SERVER_PATH="$<TARGET_FILE:calendar-server>")
if(TARGET VeltranoCalendar)
  add_dependencies(${name} VeltranoCalendar)
  target_compile_definitions(${name} PRIVATE PLUGIN_PATH="$<TARGET_FILE:VeltranoCalendar>")
endif()
# The calendar server's sun times pick the place where the sun sets a few seconds ahead.
target_link_libraries(${name} PRIVATE calendar_server_core)
