#!/bin/sh
# The Windows step of `make test`, for each DLL (the `windows` build, 64-bit, and the `windows-x86` build,
# 32-bit): its exports, its build's test programs under Wine, and its zrkhost.exe with the DLL against the
# Linux calendar-server (the end-to-end test, the setup dialog's window tests and a short lateness run of
# the Linux build ZRK_DRIVERS, by default the asan build, drive them). Both builds share one 64-bit Wine prefix under build/ (it runs 32-bit programs
# too) and one Wine server for the whole step.
#
# Without Wine's 32-bit half (wine32:i386, which the package step may fail to install while a mirror is in
# sync), the 32-bit DLL's exports are still checked and the rest of its parts are counted as skipped with
# apt's reason. Ends with "N passed, N failed, N skipped" over every part and fails when one failed.
#
#   tools/windows/test-windows.sh [PRESET...]   (from the repository's root, after the builds; default: both)
set -u
root=$(pwd)
ci=${ZRK_CI_DIR:-$root/build/ci}
drivers=${ZRK_DRIVERS:-build/asan}
mkdir -p "$ci"
passed=0 failed=0 skipped=0
export WINEPREFIX="$root/build/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
# No display for this prefix: a device's Configure in the test programs then answers as cancelled instead of
# waiting for a user at a modal dialog; the setup dialog's window tests bring a virtual display of their own.
unset DISPLAY WAYLAND_DISPLAY
jobs=${JOBS:-2}
presets=${*:-windows windows-x86}
started=$(date +%s)

# The server is made persistent first, then wineboot starts the prefix's helper processes (services,
# winedevice, plugplay, rpcss) on it with their output sent elsewhere. Started by a test program instead,
# they would inherit its output pipe and keep it open until the server ends, and CTest would wait for that
# pipe. (A server already running for this prefix keeps running; wineserver -p then does nothing.)
wineserver -p 2>/dev/null || true
trap 'wineserver -k 2>/dev/null || true' EXIT
# Plain wineboot, not -i: in an existing prefix -i starts a second service manager, and the two then answer
# in turn, each with its own list of services (the service tests see their service come and go).
wineboot >/dev/null 2>&1

# count WHAT LOG STATUS SECONDS: a finished part's counts added from its output (a part that prints none
# counts as one test).
count() {
  echo "== $preset: $4 s"
  set -- "$1" "$3" $(awk -f "$root/tools/ci/counts.awk" "$2")
  [ $# -gt 2 ] || set -- "$1" "$2" $(($2 == 0)) 0 0
  p=$3 f=$4 s=$5
  [ "$2" -ne 0 ] && [ "$f" -eq 0 ] && f=1
  [ "$f" -eq 0 ] || echo "failed: $preset: $1"
  passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))
}

# part NAME COMMAND...: one part of a DLL's run, its output shown as it comes.
part() {
  echo "== $preset: $1"
  what=$1
  shift
  began=$(date +%s)
  { "$@"; echo $? >"$ci/windows-part.status"; } 2>&1 | tee "$ci/windows-part.log"
  count "$what" "$ci/windows-part.log" "$(cat "$ci/windows-part.status")" $(($(date +%s) - began))
}

# beside NAME COMMAND...: a part that spends its time waiting for planned times and Wine's services, run
# beside the others of its group; `together` waits for the group and then shows each one's output whole.
group=0
beside() {
  group=$((group + 1))
  echo "$1" >"$ci/windows-beside.$group.what"
  shift
  (
    began=$(date +%s)
    "$@" >"$ci/windows-beside.$group.log" 2>&1
    echo "$? $(($(date +%s) - began))" >"$ci/windows-beside.$group.status"
  ) &
}
together() {
  wait
  i=1
  while [ "$i" -le "$group" ]; do
    what=$(cat "$ci/windows-beside.$i.what")
    echo "== $preset: $what"
    cat "$ci/windows-beside.$i.log"
    set -- $(cat "$ci/windows-beside.$i.status")
    count "$what" "$ci/windows-beside.$i.log" "$1" "$2"
    rm -f "$ci/windows-beside.$i".*
    i=$((i + 1))
  done
  group=0
}

# Why this machine's Wine cannot run a preset's programs; nothing when it can.
wine_missing() {
  [ "$1" = windows-x86 ] || return 0
  if [ -s "$ci/unavailable/wine32:i386" ]; then
    echo "wine32:i386 could not be installed:"
    cat "$ci/unavailable/wine32:i386"
  elif [ "$(dpkg-query -W -f='${db:Status-Status}' wine32:i386 2>/dev/null)" != installed ]; then
    echo "wine32:i386 is not installed"
  fi
}

for preset in $presets; do
  bin="$root/build/$preset/bin"
  step=$(date +%s)
  part "exports of the DLL" sh tools/windows/check-exports.sh "$bin/VeltranoCalendar.dll"

  missing=$(wine_missing "$preset")
  if [ -n "$missing" ]; then
    # Counted, never passed: the build's test programs, the end-to-end runs, the dialog's window tests, the
    # lateness run.
    programs=$(ctest --preset "$preset" -N | sed -n 's/^Total Tests: //p')
    e2e=$($drivers/tests/test_e2e --gtest_list_tests | grep -c '^  ')
    dialog=$($drivers/tests/test_setupdialog --gtest_list_tests --gtest_filter='Win32SetupDialogWindow.*' |
      grep -c '^  ')
    count=$((${programs:-0} + e2e + dialog + 1))
    skipped=$((skipped + count))
    echo "skipped: $preset under Wine ($count: ${programs:-0} test programs, $e2e end-to-end, $dialog dialog" \
      "windows, 1 lateness run): $(echo "$missing" | head -n 1)"
    # apt's errors: the resolver's and the failed index's.
    echo "$missing" | sed 1d | grep '^E: ' | head -n 4 | sed 's/^/skipped:   /'
    continue
  fi

  # No rerun: a program that does not end within its time limit fails the step.
  part "Windows test programs under Wine" ctest --preset "$preset" -j "$jobs"

  part "zrkhost.exe and the DLL against calendar-server" env ZRK_E2E_LAUNCHER="$root/tools/windows/wine-run.sh" \
    ZRK_E2E_ZRKHOST="$bin/zrkhost.exe" ZRK_E2E_PLUGIN="$bin/VeltranoCalendar.dll" \
    $drivers/tests/test_e2e --gtest_brief=1

  # The 64-bit build also has the calendar server: its program tests against the .exe, and the show with
  # zrkhost.exe and the DLL against calendar-server.exe, both under Wine.
  if [ -f "$bin/calendar-server.exe" ]; then
    part "calendar-server.exe needs only the system's DLLs" sh tools/windows/check-imports.sh "$bin/calendar-server.exe"
    part "calendar-server.exe under Wine: the server's program tests" \
      env ZRK_CALENDAR_SERVER_LAUNCHER="$root/tools/windows/wine-run.sh" ZRK_CALENDAR_SERVER_PROGRAM="$bin/calendar-server.exe" \
      $drivers/tests/test_calendar_server --gtest_filter='CalendarServerProgram.*' --gtest_brief=1
    part "zrkhost.exe and the DLL against calendar-server.exe, all under Wine" \
      env ZRK_E2E_LAUNCHER="$root/tools/windows/wine-run.sh" ZRK_E2E_ZRKHOST="$bin/zrkhost.exe" \
      ZRK_E2E_PLUGIN="$bin/VeltranoCalendar.dll" ZRK_E2E_SERVER="$bin/calendar-server.exe" \
      $drivers/tests/test_e2e --gtest_filter='ShowRun*' --gtest_brief=1
  fi

  # One prefix for window runs serves both builds: a new one costs Wine half a minute.
  dialog_prefix="$root/build/$preset/wineprefix-dialog"
  if [ "$preset" != windows ] && [ ! -e "$dialog_prefix" ]; then
    mkdir -p "$root/build/windows/wineprefix-dialog"
    ln -s ../windows/wineprefix-dialog "$dialog_prefix"
  fi
  part "the setup dialog of the DLL under Wine on a virtual display (a Wine prefix of its own)" \
    env ZRK_WINDOWS_BIN="$bin" \
    $drivers/tests/test_setupdialog --gtest_filter='Win32SetupDialogWindow.*' --gtest_brief=1

  # The lateness runs and the service test mostly wait (for planned times, for Wine's service manager), so
  # they run side by side; each lateness run fails only on an action missed, doubled or early, and prints
  # its figures.
  beside "firing lateness of the DLL under Wine (a short run: more actions and idle time with --actions, --idle)" \
    $drivers/bench/bench_show_lateness --actions 20 --idle 10 \
    --launcher "$root/tools/windows/wine-run.sh" --zrkhost "$bin/zrkhost.exe" --plugin "$bin/VeltranoCalendar.dll"
  if [ -f "$bin/calendar-server.exe" ]; then
    beside "firing lateness of the DLL under Wine against calendar-server.exe under Wine" \
      $drivers/bench/bench_show_lateness --actions 20 --idle 10 --launcher "$root/tools/windows/wine-run.sh" \
      --zrkhost "$bin/zrkhost.exe" --plugin "$bin/VeltranoCalendar.dll" --server "$bin/calendar-server.exe"
    # The calendar server as a service and the installer (both 64-bit), in the same prefix.
    setup=$(ls "$root"/build/dist/VeltranoCalendar-Setup-*.exe 2>/dev/null | tail -n 1)
    beside "calendar-server.exe as a Windows service, and the installer's silent install, under Wine" \
      python3 tools/windows/test-service.py "$bin/calendar-server.exe" ${setup:+"$setup" "$bin/zrkhost.exe"}
  elif [ "$preset" = windows ]; then
    # Counted, never passed.
    skipped=$((skipped + 1))
    echo "skipped: the service and installer tests ($bin/calendar-server.exe is not built)"
  fi
  together
  echo "== $preset took $(( $(date +%s) - step )) s"
done

echo "== Windows step took $(( $(date +%s) - started )) s"
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" -eq 0 ]
