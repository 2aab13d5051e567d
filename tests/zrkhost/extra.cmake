# The stand-in plug-in that zrkhost loads in these tests, and the paths the tests find both by.
add_library(zrkhost_test_plugin SHARED ${CMAKE_CURRENT_SOURCE_DIR}/zrkhost/plugin/TestPlugin.cpp)
target_include_directories(zrkhost_test_plugin PRIVATE ${PROJECT_SOURCE_DIR}/include)
target_link_libraries(zrkhost_test_plugin PRIVATE nlohmann_json::nlohmann_json Threads::Threads zrk_warnings)
target_link_libraries(${name} PRIVATE zrkhost_lib)
add_dependencies(${name} zrkhost zrkhost_test_plugin)
target_compile_definitions(${name} PRIVATE
  ZRKHOST_PATH="$<TARGET_FILE:zrkhost>"
  ZRKHOST_TEST_PLUGIN="$<TARGET_FILE:zrkhost_test_plugin>")
