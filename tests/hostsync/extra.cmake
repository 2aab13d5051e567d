# The end-to-end synchronisation runs against the substitute host's objects and the reference server's
# routes, both linked in.
target_link_libraries(${name} PRIVATE zrkhost_lib calendar_server_core)
