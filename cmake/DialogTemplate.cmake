# The setup dialog's DIALOGEX statement (resource 101) for the Windows resource compiler, written from the
# same layout file that the GTK view reads, so that the dialog looks the same on both platforms.
#
# As a script:   cmake -DINPUT=<SetupDialog.xml> -DOUTPUT=<file.rc> -P DialogTemplate.cmake
# As a module:   include(DialogTemplate); zrk_dialog_template(<target>) adds the generated script to the
#                target's sources and regenerates it whenever the layout changes.
#
# Style names pass through unchanged (the resource compiler resolves them from windows.h and commctrl.h);
# they are checked to be plain names so that the layout cannot inject anything into the script.
cmake_minimum_required(VERSION 3.25)

set(ZRK_DIALOG_TEMPLATE_SCRIPT ${CMAKE_CURRENT_LIST_FILE})

function(zrk_dialog_template target)
  set(_input ${PROJECT_SOURCE_DIR}/resources/SetupDialog.xml)
  set(_output ${CMAKE_CURRENT_BINARY_DIR}/generated/SetupDialogTemplate.rc)
  add_custom_command(
    OUTPUT ${_output}
    COMMAND ${CMAKE_COMMAND} -DINPUT=${_input} -DOUTPUT=${_output} -P ${ZRK_DIALOG_TEMPLATE_SCRIPT}
    DEPENDS ${_input} ${ZRK_DIALOG_TEMPLATE_SCRIPT}
    COMMENT "Writing the setup dialog's template from its layout"
    VERBATIM)
  # The target may live in another directory, which sees the script only through a target of this one.
  add_custom_target(${target}_dialog_template DEPENDS ${_output})
  target_sources(${target} PRIVATE ${_output})
  set_source_files_properties(${_output} TARGET_DIRECTORY ${target} PROPERTIES GENERATED TRUE)
  add_dependencies(${target} ${target}_dialog_template)
endfunction()

if(NOT CMAKE_SCRIPT_MODE_FILE)
  return()
endif()

if(NOT INPUT OR NOT OUTPUT)
  message(FATAL_ERROR "DialogTemplate.cmake needs -DINPUT=... and -DOUTPUT=...")
endif()

file(READ "${INPUT}" _xml)

# Comments go first: they describe the attributes and would otherwise match as elements.
while(TRUE)
  string(FIND "${_xml}" "<!--" _open)
  if(_open EQUAL -1)
    break()
  endif()
  string(SUBSTRING "${_xml}" ${_open} -1 _rest)
  string(FIND "${_rest}" "-->" _close)
  if(_close EQUAL -1)
    message(FATAL_ERROR "${INPUT}: unterminated comment")
  endif()
  math(EXPR _after "${_open} + ${_close} + 3")
  string(SUBSTRING "${_xml}" 0 ${_open} _head)
  string(SUBSTRING "${_xml}" ${_after} -1 _tail)
  set(_xml "${_head}${_tail}")
endwhile()

# The value of attribute `name` of an element's text, with XML's character entities resolved.
function(_zrk_attribute element name out)
  if("${element}" MATCHES "[ \t\r\n]${name}=\"([^\"]*)\"")
    set(_value "${CMAKE_MATCH_1}")
  else()
    set(_value "")
  endif()
  string(REPLACE "&quot;" "\"" _value "${_value}")
  string(REPLACE "&apos;" "'" _value "${_value}")
  string(REPLACE "&lt;" "<" _value "${_value}")
  string(REPLACE "&gt;" ">" _value "${_value}")
  string(REPLACE "&amp;" "&" _value "${_value}")
  set(${out} "${_value}" PARENT_SCOPE)
endfunction()

function(_zrk_number element name out)
  _zrk_attribute("${element}" ${name} _value)
  if(NOT _value MATCHES "^-?[0-9]+$")
    message(FATAL_ERROR "${INPUT}: ${name}=\"${_value}\" is not a number in ${element}")
  endif()
  set(${out} "${_value}" PARENT_SCOPE)
endfunction()

# A text as a resource script string: quotes doubled, backslashes kept literal.
function(_zrk_rc_string text out)
  string(REPLACE "\\" "\\\\" text "${text}")
  string(REPLACE "\"" "\"\"" text "${text}")
  set(${out} "\"${text}\"" PARENT_SCOPE)
endfunction()

# "A|B" as "A | B"; `base` comes first. Empty parts are dropped; anything but a style name is refused.
function(_zrk_styles text base out)
  set(_result "${base}")
  string(REPLACE "|" ";" _names "${text}")
  foreach(_name IN LISTS _names)
    string(STRIP "${_name}" _name)
    if(_name STREQUAL "")
      continue()
    endif()
    if(NOT _name MATCHES "^[A-Z][A-Z0-9_]*$")
      message(FATAL_ERROR "${INPUT}: \"${_name}\" is not a style name")
    endif()
    if(_result STREQUAL "")
      set(_result "${_name}")
    else()
      set(_result "${_result} | ${_name}")
    endif()
  endforeach()
  set(${out} "${_result}" PARENT_SCOPE)
endfunction()

if(NOT _xml MATCHES "<Dialog([^>]*)>")
  message(FATAL_ERROR "${INPUT}: no <Dialog> element")
endif()
set(_dialog " ${CMAKE_MATCH_1}")
_zrk_number("${_dialog}" ID _id)
_zrk_number("${_dialog}" Width _width)
_zrk_number("${_dialog}" Height _height)
_zrk_number("${_dialog}" PointSize _point)
_zrk_number("${_dialog}" Weight _weight)
_zrk_number("${_dialog}" Italic _italic)
_zrk_number("${_dialog}" CharSet _charset)
_zrk_attribute("${_dialog}" Caption _caption)
_zrk_attribute("${_dialog}" Font _font)
_zrk_attribute("${_dialog}" Style _style)
_zrk_attribute("${_dialog}" ExStyle _exstyle)
_zrk_rc_string("${_caption}" _caption)
_zrk_rc_string("${_font}" _font)
_zrk_styles("${_style}" "" _style)

set(_rc "// Written by cmake/DialogTemplate.cmake from ${INPUT}; edit the layout, not this file.\n")
string(APPEND _rc "#pragma code_page(65001)\n#include <windows.h>\n#include <commctrl.h>\n\n")
string(APPEND _rc "${_id} DIALOGEX 0, 0, ${_width}, ${_height}\n")
string(APPEND _rc "STYLE ${_style}\n")
_zrk_styles("${_exstyle}" "" _exstyle)
if(NOT _exstyle STREQUAL "")
  string(APPEND _rc "EXSTYLE ${_exstyle}\n")
endif()
string(APPEND _rc "CAPTION ${_caption}\n")
string(APPEND _rc "FONT ${_point}, ${_font}, ${_weight}, ${_italic}, ${_charset}\n")
string(APPEND _rc "BEGIN\n")

string(REGEX MATCHALL "<Control[^>]*>" _controls "${_xml}")
set(_count 0)
foreach(_control IN LISTS _controls)
  string(REGEX REPLACE "^<Control" " " _control "${_control}")
  _zrk_number("${_control}" ID _cid)
  _zrk_number("${_control}" X _x)
  _zrk_number("${_control}" Y _y)
  _zrk_number("${_control}" Width _w)
  _zrk_number("${_control}" Height _h)
  _zrk_attribute("${_control}" Class _class)
  _zrk_attribute("${_control}" Text _text)
  _zrk_attribute("${_control}" Style _cstyle)
  if(NOT _class MATCHES "^(Static|Button|Edit|ComboBox|msctls_updown32)$")
    message(FATAL_ERROR "${INPUT}: unknown control class \"${_class}\"")
  endif()
  _zrk_rc_string("${_text}" _text)
  _zrk_styles("${_cstyle}" "WS_CHILD | WS_VISIBLE" _cstyle)
  string(APPEND _rc "    CONTROL ${_text}, ${_cid}, \"${_class}\", ${_cstyle}, ${_x}, ${_y}, ${_w}, ${_h}\n")
  math(EXPR _count "${_count} + 1")
endforeach()
if(_count EQUAL 0)
  message(FATAL_ERROR "${INPUT}: the dialog has no controls")
endif()
string(APPEND _rc "END\n")

# Written only when it changes, so that an unchanged layout does not relink the module.
if(EXISTS "${OUTPUT}")
  file(READ "${OUTPUT}" _old)
  if(_old STREQUAL _rc)
    return()
  endif()
endif()
file(WRITE "${OUTPUT}" "${_rc}")
