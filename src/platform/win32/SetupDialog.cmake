# The setup dialog's window in the Windows plug-in: dialog template 101 written from the layout file, the
# libraries the view calls, and the view itself kept in the link. Nothing in the plug-in names the view (it
# installs itself when the DLL loads), so the linker is told to keep it, as the GTK view is kept on POSIX.
include(${PROJECT_SOURCE_DIR}/cmake/DialogTemplate.cmake)
if(TARGET VeltranoCalendar)
  zrk_dialog_template(VeltranoCalendar)
  target_link_libraries(VeltranoCalendar PRIVATE comctl32 uxtheme gdi32 user32)
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(_zrk_view_symbol _zrk_win32_setup_dialog_view)  # 32-bit C names carry a leading underscore
  else()
    set(_zrk_view_symbol zrk_win32_setup_dialog_view)
  endif()
  target_link_options(VeltranoCalendar PRIVATE -Wl,--undefined=${_zrk_view_symbol})
endif()
