# The soak's server and judgement, reached directly.
target_link_libraries(${name} PRIVATE soak_lib)
