# The loopback calendar of the device tests dates its actions as the reference server does.
target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tools/demo)
