#!/bin/sh
# Gathers what the installer packs into one folder, and writes the lines with which the uninstaller removes
# the server's files again (exactly those: the program folder may hold other files).
#
#   installer/stage.sh STAGE   (from the repository's root, after the windows build; the 32-bit DLL is taken
#                               from the windows-x86 build when it is there)
set -eu
stage=$1
server=build/windows/bin/calendar-server.exe
[ -f "$server" ] || { echo "stage.sh: $server is missing (make build-windows)" >&2; exit 1; }
rm -rf "$stage"
mkdir -p "$stage/server" "$stage/plugin64"
cp build/windows/bin/VeltranoCalendar.dll "$stage/plugin64/"
cp "$server" "$stage/server/"
# The zone data the server reads beside itself.
[ ! -d build/windows/bin/zoneinfo ] || cp -r build/windows/bin/zoneinfo "$stage/server/"
if [ -f build/windows-x86/bin/VeltranoCalendar.dll ]; then
  mkdir -p "$stage/plugin32"
  cp build/windows-x86/bin/VeltranoCalendar.dll "$stage/plugin32/"
fi
# Files first, then their folders, deepest first; paths in Windows' spelling.
( cd "$stage/server"
  find . -type f | sort | awk '{ sub(/^\.\//, ""); gsub(/\//, "\\"); printf "  Delete \"$INSTDIR\\%s\"\n", $0 }'
  find . -mindepth 1 -type d | sort -r |
    awk '{ sub(/^\.\//, ""); gsub(/\//, "\\"); printf "  RMDir \"$INSTDIR\\%s\"\n", $0 }'
) > "$stage/uninstall-files.nsh"
