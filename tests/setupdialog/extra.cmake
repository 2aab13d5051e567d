# The setup dialog on a virtual display: zrkhost loads the real plug-in, a calendar server runs in the test.
target_link_libraries(${name} PRIVATE calendar_server_core)
add_dependencies(${name} zrkhost VeltranoCalendar)
target_compile_definitions(${name} PRIVATE
  ZRKHOST_PATH="$<TARGET_FILE:zrkhost>"
  ZRK_PLUGIN_PATH="$<TARGET_FILE:VeltranoCalendar>"
  SETUP_DIALOG_OUTPUT_DIR="${CMAKE_CURRENT_BINARY_DIR}")
