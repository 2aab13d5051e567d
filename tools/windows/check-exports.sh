#!/bin/sh
# Passes when the DLL exports exactly one name, GetZRKEntryPoint, undecorated (no @n of __stdcall).
#   check-exports.sh VeltranoCalendar.dll
set -eu
dll=$1
objdump=x86_64-w64-mingw32-objdump
names=$($objdump -p "$dll" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' | sed -n 's/^[[:space:]]*\[ *[0-9]*\] *//p')
if [ "$names" != "GetZRKEntryPoint" ]; then
  echo "$dll exports: ${names:-nothing}; expected only GetZRKEntryPoint" >&2
  exit 1
fi
echo "$dll exports only GetZRKEntryPoint"
