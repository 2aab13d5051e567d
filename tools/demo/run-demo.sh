#!/bin/sh
# The demo: the calendar server on a free loopback port with a calendar planned a few seconds ahead, and
# zrkhost running the plug-in against it. Each task started and variable set is shown with how late it
# came after its planned time. Ends by itself after DEMO_SECONDS (default 60) or at Ctrl-C, and leaves no
# process behind.
#
#   tools/demo/run-demo.sh BUILD_DIR
set -u

build=${1:?usage: run-demo.sh BUILD_DIR}
here=$(cd "$(dirname "$0")" && pwd)
seconds=${DEMO_SECONDS:-60}
server_bin=$build/calendar-server/calendar-server
host_bin=$build/bin/zrkhost
for program in "$server_bin" "$host_bin" "$build/bin/libVeltranoCalendar.so"; do
    [ -e "$program" ] || { echo "run-demo: $program is missing (build first)" >&2; exit 1; }
done

work=$(mktemp -d)
server_pid=""
host_pid=""
view_pid=""
# Ends zrkhost through the end of its input (it stops the device and releases it), the server with its
# stop signal, and anything still running after a few seconds by force.
cleanup() {
    trap - EXIT INT TERM
    exec 3>&-
    if [ -n "$host_pid" ]; then
        tries=0
        while kill -0 "$host_pid" 2>/dev/null && [ $tries -lt 50 ]; do sleep 0.1; tries=$((tries + 1)); done
        kill -9 "$host_pid" 2>/dev/null
        wait "$host_pid" 2>/dev/null
    fi
    [ -n "$view_pid" ] && wait "$view_pid" 2>/dev/null
    if [ -n "$server_pid" ]; then
        kill "$server_pid" 2>/dev/null
        wait "$server_pid" 2>/dev/null
    fi
    rm -rf "$work"
}
trap cleanup EXIT
trap 'echo; echo "demo: stopped"; cleanup; exit 130' INT TERM

# Relative dates in the calendar count from the server's start.
"$server_bin" --data "$here/demo-calendar.json" --port 0 --bind 127.0.0.1 >"$work/address" 2>"$work/server.log" &
server_pid=$!
tries=0
while [ ! -s "$work/address" ] && [ $tries -lt 100 ]; do sleep 0.1; tries=$((tries + 1)); done
url=$(head -n 1 "$work/address")
case "$url" in
    http://*) ;;
    *) echo "run-demo: the calendar server did not start" >&2; cat "$work/server.log" >&2; exit 1 ;;
esac

echo "demo: calendar server at $url; the plug-in runs for $seconds s (Ctrl-C ends it sooner)"
echo "demo: planned: two actions at +6 s, then +10, +14, +20, +30, +38, +45, +52 s; one 30 s ago (never runs)"
echo

# zrkhost reads its commands from a pipe held open here (read-write, so that opening it never blocks):
# "quit", or the pipe's end, ends it cleanly.
mkfifo "$work/commands" "$work/events"
exec 3<>"$work/commands"
"$host_bin" --pretty --host "$here/demo-host.json" --server "$url" --location 1 --refresh 10 --lookahead 1 \
    <"$work/commands" >"$work/events" 3>&- &
host_pid=$!
awk '
    # The action being fired is still the one "NextEventTime" shows; lateness is counted from it.
    function ms(clock,   p) { split(clock, p, ":"); return ((p[1] * 60 + p[2]) * 60 + p[3]) * 1000 }
    $3 == "status" && $4 == "NextEventTime" { planned = $6; gsub(/"/, "", planned) }
    ($3 == "task" || $3 == "set") && planned != "" {
        late = ms($2) - ms(planned); if (late < -43200000) late += 86400000
        printf "%s   (%+d ms after %s)\n", $0, late, planned; fflush(); next
    }
    { print; fflush() }' <"$work/events" 3>&- &
view_pid=$!

elapsed=0
while [ $elapsed -lt "$seconds" ] && kill -0 "$host_pid" 2>/dev/null; do
    sleep 1
    elapsed=$((elapsed + 1))
done
echo quit >&3
cleanup
echo
echo "demo: done"
