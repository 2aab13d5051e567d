#!/usr/bin/python3
"""Compares the actions calendar-server serves for real calendars with an independent expansion.

    real-calendars.py <calendar-server> <exceptions-file> <file.ics>...

Each calendar is served by its own calendar-server in each of two zones; a few windows around its events
are asked for and compared with python3-icalendar + python3-recurring-ical-events: every instance of a
timed, not cancelled event, in the zone's local time, named by its SUMMARY. A difference that the exceptions
file lists (file name, zone, window start; a reason) is reported but does not fail. Exits 1 on any other
difference.
"""
import datetime
import json
import os
import subprocess
import sys
import time
import urllib.request
import zoneinfo

import icalendar
import recurring_ical_events

ZONES = ["Europe/Berlin", "America/New_York"]


def timed_starts(calendars):
    starts = []
    for calendar in calendars:
        for event in calendar.walk("VEVENT"):
            start = event.get("DTSTART")
            if hasattr(start, "dt") and isinstance(start.dt, datetime.datetime):
                starts.append(start.dt.replace(tzinfo=None))
    return sorted(starts)


def windows(calendars):
    """Whole days around the calendar's events: the month from its first event, the week of its middle
    event, and a month a year after its first (where rules that repeat for long are still running)."""
    starts = timed_starts(calendars)
    if not starts:
        return []
    first = datetime.datetime.combine(starts[0].date(), datetime.time())
    middle = datetime.datetime.combine(starts[len(starts) // 2].date(), datetime.time())
    result = [(first, first + datetime.timedelta(days=31)),
              (middle, middle + datetime.timedelta(days=7)),
              (first + datetime.timedelta(days=365), first + datetime.timedelta(days=396))]
    result = sorted(set((a, b - datetime.timedelta(seconds=1)) for a, b in result))
    return [(a, b) for a, b in result if a.year >= 1601 and b.year <= 9999]


def local(value, zone):
    if value.tzinfo is None:
        return value
    return value.astimezone(zone).replace(tzinfo=None)


def reference(calendars, window, zone):
    start, end = window
    actions = []
    # The library takes naive bounds in each event's own zone: widen them, then cut in local time.
    events = [e for calendar in calendars for e in recurring_ical_events.of(calendar).between(
        start - datetime.timedelta(days=2), end + datetime.timedelta(days=2))]
    for event in events:
        begin = event.get("DTSTART").dt
        if not isinstance(begin, datetime.datetime):
            continue
        if str(event.get("STATUS", "")).upper() == "CANCELLED":
            continue
        at = local(begin, zone)
        if start <= at <= end:
            actions.append(at.strftime("%Y-%m-%dT%H:%M:%S") + " " + str(event.get("SUMMARY", "")))
    return sorted(actions)


class Server:
    def __init__(self, program, path, zone):
        env = dict(os.environ, TZ=zone)
        env.pop("http_proxy", None)
        self.process = subprocess.Popen([program, "--ics", "1=" + path, "--port", "0"], env=env,
                                        stdout=subprocess.PIPE, stderr=subprocess.PIPE, text=True)
        self.url = self.process.stdout.readline().strip()

    def actions(self, window):
        query = "start=%s&end=%s" % tuple(t.strftime("%Y-%m-%dT%H:%M:%S") for t in window)
        try:
            with urllib.request.urlopen(self.url + "/apiv1/calendar/1/actions?" + query, timeout=30) as answer:
                listed = json.load(answer)["calendaractions"]
        except Exception as error:  # an answer other than 200: the calendar was refused
            return ["(no answer: %s)" % error]
        return sorted(a["date"] + " " + a["name"] for a in listed)

    def stop(self):
        self.process.terminate()
        try:
            _, errors = self.process.communicate(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            _, errors = self.process.communicate()
        return errors


def read_exceptions(path):
    known = {}
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            key, _, reason = line.partition(" -- ")
            known[tuple(key.split())] = reason
    return known


def main():
    program, exceptions, files = sys.argv[1], sys.argv[2], sys.argv[3:]
    known = read_exceptions(exceptions)
    compared = failed = excused = busy = 0
    began = time.monotonic()
    for path in files:
        name = os.path.basename(path)
        with open(path, "rb") as f:
            try:
                calendars = icalendar.Calendar.from_ical(f.read(), multiple=True)
                spans = windows(calendars)
            except Exception as error:
                print("%s: the reference cannot read it (%s); not compared" % (name, error))
                continue
        for zone_name in ZONES:
            zone = zoneinfo.ZoneInfo(zone_name)
            os.environ["TZ"] = zone_name
            time.tzset()
            server = Server(program, path, zone_name)
            for window in spans:
                served, expected = server.actions(window), reference(calendars, window, zone)
                compared += 1
                busy += bool(expected)
                if served == expected:
                    continue
                key = (name, zone_name, window[0].strftime("%Y-%m-%d"))
                detail = "\n".join("    served only:   " + a for a in served if a not in expected) + "\n" + \
                         "\n".join("    expected only: " + a for a in expected if a not in served)
                if key in known:
                    excused += 1
                    print("%s %s %s: differs as known (%s)" % (key + (known[key],)))
                else:
                    failed += 1
                    print("%s %s %s: differs\n%s" % (key + (detail,)))
            errors = server.stop()
            if "reader did not end" in errors:
                failed += 1
                print("%s %s: the server did not stop cleanly" % (name, zone_name))
    print("real calendars: %d files, %d windows compared (%d with actions) in %.0f s" % (
        len(files), compared, busy, time.monotonic() - began))
    print("%d passed, %d failed, %d skipped" % (compared - failed - excused, failed, excused))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
