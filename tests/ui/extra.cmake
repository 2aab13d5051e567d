# The Windows build reads the dialog template compiled into the plug-in and the layout file it comes from.
if(WIN32)
  add_dependencies(${name} VeltranoCalendar)
  target_compile_definitions(${name} PRIVATE
    ZRK_PLUGIN_PATH="$<TARGET_FILE:VeltranoCalendar>"
    SETUP_DIALOG_LAYOUT="${PROJECT_SOURCE_DIR}/resources/SetupDialog.xml")
endif()
