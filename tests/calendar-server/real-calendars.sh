#!/bin/sh
# Checks calendar-server against calendars written by other projects: the iCalendar test data that
# python-icalendar ships, expanded independently by python3-icalendar with python3-recurring-ical-events
# in two zones (real-calendars.py; known differences in real-calendars-exceptions.txt).
#
#   real-calendars.sh <calendar-server> <work-dir>
#
# The data is fetched at test time, never kept in the repository: the Debian source package (cached under
# <work-dir>), or where the package mirror does not serve that source, the copy in the installed binary
# package python3-icalendar.
set -eu
server=$1
work=$2
here=$(cd "$(dirname "$0")" && pwd)
root=$(cd "$here/../.." && pwd)
mkdir -p "$work"
tree=$work/src/python-icalendar
if ! sh "$root/tools/windows/fetch-debian-source.sh" "$work/fetch" python-icalendar "$tree" >"$work/fetch.log" 2>&1; then
    echo "real calendars: the source package python-icalendar could not be fetched (see $work/fetch.log);" \
         "using the installed python3-icalendar's copy"
    tree=/usr/lib/python3/dist-packages/icalendar
fi
files=$(find "$tree" -path '*icalendar/tests/*' -name '*.ics' | sort)
[ -n "$files" ] || { echo "real calendars: no .ics files found under $tree" >&2; exit 1; }
# shellcheck disable=SC2086
exec /usr/bin/python3 "$here/real-calendars.py" "$server" "$here/real-calendars-exceptions.txt" $files
