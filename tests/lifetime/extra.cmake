# The plug-in library as a host loads, uses and unloads it, round after round.
add_dependencies(${name} VeltranoCalendar)
target_compile_definitions(${name} PRIVATE ZRK_PLUGIN_PATH="$<TARGET_FILE:VeltranoCalendar>")
