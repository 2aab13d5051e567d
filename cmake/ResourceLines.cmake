# The text resources (Strings.txt, Version.txt) hold one entry a line; blank lines and lines starting with
# '#' are comments. Reads the entries of FILE into OUT; a line not matching PATTERN stops the build with
# FORM, the form it should have.
function(zrk_resource_entries file pattern form out)
  get_filename_component(_name "${file}" NAME)
  file(STRINGS "${file}" _lines ENCODING UTF-8)
  set(_entries "")
  foreach(_line IN LISTS _lines)
    if(_line MATCHES "^[ \t]*(#|$)")
      continue()
    endif()
    if(NOT _line MATCHES "${pattern}")
      message(FATAL_ERROR "${_name}: line not of the form '${form}': ${_line}")
    endif()
    list(APPEND _entries "${_line}")
  endforeach()
  set(${out} "${_entries}" PARENT_SCOPE)
endfunction()
