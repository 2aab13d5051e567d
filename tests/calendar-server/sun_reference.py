"""Reference sun times for the calendar server's tests, from an independent ephemeris.

Reads lines "EVENT LATITUDE LONGITUDE YYYY-MM-DD" (EVENT: sunrise, sunset, dawn, dusk or noon) and prints,
per line, the event's local time on that local date ("YYYY-MM-DDThh:mm:ss", the zone of TZ) or "none".
"""
import calendar
import sys
import time

import ephem


def event_time(event, latitude, longitude, day):
    year, month, mday = (int(part) for part in day.split("-"))
    start = time.mktime((year, month, mday, 0, 0, 0, 0, 0, -1))
    end = time.mktime((year, month, mday + 1, 0, 0, 0, 0, 0, -1))
    observer = ephem.Observer()
    observer.lat, observer.lon = str(latitude), str(longitude)
    observer.pressure = 0  # refraction is in the horizons below
    observer.date = ephem.Date(time.strftime("%Y/%m/%d %H:%M:%S", time.gmtime(start)))
    sun = ephem.Sun()
    twilight = event in ("dawn", "dusk")
    # Upper limb 34' below the horizon (centre about 0.833 degrees), or the centre 6 degrees below.
    observer.horizon = "-6" if twilight else "-0:34"
    try:
        if event == "noon":
            found = observer.next_transit(sun)
        elif event in ("sunrise", "dawn"):
            found = observer.next_rising(sun, use_center=twilight)
        else:
            found = observer.next_setting(sun, use_center=twilight)
    except (ephem.NeverUpError, ephem.AlwaysUpError):
        return "none"
    seconds = calendar.timegm(found.datetime().timetuple())
    if seconds >= end:
        return "none"
    return time.strftime("%Y-%m-%dT%H:%M:%S", time.localtime(seconds))


for line in sys.stdin:
    if line.strip():
        event, latitude, longitude, day = line.split()
        print(event_time(event, float(latitude), float(longitude), day))
