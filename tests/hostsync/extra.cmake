# The end-to-end synchronisation runs against the substitute host's objects and the reference server's
# routes, both linked in (Linux only: the Windows step syncs zrkhost.exe against the Linux server).
if(TARGET calendar_server_core)
  target_link_libraries(${name} PRIVATE zrkhost_lib calendar_server_core)
else()
  list(FILTER sources EXCLUDE REGEX "EndToEndSyncTest\\.cpp$")
  set_property(TARGET ${name} PROPERTY SOURCES ${sources})
  target_link_libraries(${name} PRIVATE zrkhost_lib)
endif()
