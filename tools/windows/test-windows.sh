#!/bin/sh
# The Windows step of `make test`: the Windows test programs under Wine, the exports of both DLLs, and
# zrkhost.exe with the 64-bit DLL against the Linux calendar-server (the debug build's end-to-end test, the
# setup dialog's window tests and a short lateness run drive them). Wine keeps its prefix under build/ and
# one server for the whole step.
#
#   tools/windows/test-windows.sh            (from the repository's root, after the builds)
set -eu
root=$(pwd)
export WINEPREFIX="$root/build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# No display for this prefix: a device's Configure in the test programs then answers as cancelled instead of
# waiting for a user at a modal dialog; the setup dialog's window tests bring a virtual display of their own.
unset DISPLAY WAYLAND_DISPLAY
jobs=${JOBS:-2}
started=$(date +%s)

[ -f "$WINEPREFIX/system.reg" ] || wineboot -i >/dev/null 2>&1
# A server already running for this prefix is used as it is.
wineserver -p 2>/dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT

echo "== exports of both DLLs"
for dll in build/windows/bin/VeltranoCalendar.dll build/windows-x86/bin/VeltranoCalendar.dll; do
  sh tools/windows/check-exports.sh "$dll"
done

echo "== Windows test programs under Wine"
# A program that passed all its tests and then did not end was seen once in about twenty runs under Wine:
# such a time-out is run again once, and a second one fails the step.
ctest --preset windows -j "$jobs" --repeat after-timeout:2

echo "== zrkhost.exe and the DLL against calendar-server"
ZRK_E2E_LAUNCHER="$root/tools/windows/wine-run.sh" \
ZRK_E2E_ZRKHOST="$root/build/windows/bin/zrkhost.exe" \
ZRK_E2E_PLUGIN="$root/build/windows/bin/VeltranoCalendar.dll" \
  build/debug/tests/test_e2e --gtest_brief=1

echo "== the setup dialog of the DLL under Wine on a virtual display (a Wine prefix of its own)"
ZRK_WINDOWS_BIN="$root/build/windows/bin" \
  build/debug/tests/test_setupdialog --gtest_filter='Win32SetupDialogWindow.*' --gtest_brief=1

echo "== firing lateness of the DLL under Wine (a short run: more actions and idle time with --actions, --idle)"
build/debug/bench/bench_show_lateness --actions 20 --idle 10 \
  --launcher "$root/tools/windows/wine-run.sh" --zrkhost "$root/build/windows/bin/zrkhost.exe" \
  --plugin "$root/build/windows/bin/VeltranoCalendar.dll"

echo "== Windows step took $(( $(date +%s) - started )) s"
