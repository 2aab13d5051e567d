# The server's logic is linked in; the program itself is started by the tests of its options.
target_link_libraries(${name} PRIVATE calendar_server_core)
target_compile_definitions(${name} PRIVATE CALENDAR_SERVER_PROGRAM="$<TARGET_FILE:calendar-server>")
add_dependencies(${name} calendar-server)
# Sun times are checked against an independent ephemeris (python3-ephem), Debian's own Python having it.
find_program(ZRK_SYSTEM_PYTHON3 python3 PATHS /usr/bin NO_DEFAULT_PATH REQUIRED)
target_compile_definitions(${name} PRIVATE PYTHON3="${ZRK_SYSTEM_PYTHON3}"
  SUN_REFERENCE="${CMAKE_CURRENT_LIST_DIR}/sun_reference.py")

# The plan page in a real browser: Debian's chromium and chromedriver, driven headless by python3-selenium,
# one test a process (each against its own server); the screenshots go to build/<preset>/page-shots. The
# thread checker's build leaves them out: the asan build's run drives the same page, its server checked.
if(NOT ZRK_SANITIZE STREQUAL "thread")
  foreach(page_test BrowserTest.test_today_in_server_zone BrowserTest.test_repeat_added_through_form_reaches_plugin
          BrowserTest.test_closed_day_missing_for_plugin_and_struck_on_page
          BrowserTest.test_busy_half_hour_is_one_entry_opening_its_day
          BrowserTest.test_failing_url_source_red_and_health_503 BrowserTest.test_refused_field_shown_beside_it
          BrowserLoginTest.test_write_needs_login_beyond_loopback)
    add_test(NAME plan_page.${page_test}
      COMMAND ${ZRK_SYSTEM_PYTHON3} ${CMAKE_CURRENT_LIST_DIR}/plan_page_test.py ${page_test})
    set_tests_properties(plan_page.${page_test} PROPERTIES TIMEOUT 180 ENVIRONMENT
      "CALENDAR_SERVER=$<TARGET_FILE:calendar-server>;PAGE_SHOTS=${PROJECT_BINARY_DIR}/page-shots")
  endforeach()
endif()
