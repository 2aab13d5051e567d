#!/bin/sh
# Passes when a Windows program needs only DLLs that every Windows has (the C, C++, GCC and threads
# runtimes and the libraries built from Debian's sources are linked in).
#   check-imports.sh calendar-server.exe
set -eu
program=$1
system="advapi32.dll bcrypt.dll crypt32.dll gdi32.dll iphlpapi.dll kernel32.dll msvcrt.dll ole32.dll psapi.dll shell32.dll
        user32.dll version.dll winhttp.dll winmm.dll ws2_32.dll"
others=""
for dll in $(x86_64-w64-mingw32-objdump -p "$program" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z'); do
  case " $(echo $system) " in *" $dll "*) ;; *) others="$others $dll" ;; esac
done
if [ -n "$others" ]; then
  echo "$program needs DLLs that Windows does not have:$others" >&2
  exit 1
fi
echo "$program needs only the system's DLLs"
