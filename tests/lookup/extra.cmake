# The plug-in library as the host loads it; the program's own getaddrinfo (SlowLookup.cpp) must be the one
# the library's transport finds, so the program exports its symbols.
add_dependencies(${name} VeltranoCalendar)
target_compile_definitions(${name} PRIVATE ZRK_PLUGIN_PATH="$<TARGET_FILE:VeltranoCalendar>")
if(NOT WIN32)
  set_target_properties(${name} PROPERTIES ENABLE_EXPORTS ON)
  target_link_libraries(${name} PRIVATE ${CMAKE_DL_LIBS})
endif()
