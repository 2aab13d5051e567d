// Events that follow the sun ("lights on 30 minutes after sunset"): the marker at the end of an event's
// summary, and the local times of sun events at given coordinates.
//
// Marker: the summary's last word, "@sunrise", "@sunset", "@dawn", "@dusk" or "@noon" (any case), at once
// followed by an optional offset: a sign and one or more of a number with h, m or s ("@sunset+30m",
// "@sunrise-1h30m"), a day at most. Sunrise and sunset: the sun's centre 0.833 degrees below the horizon
// (its upper edge on it, with standard refraction); dawn and dusk: civil twilight, the centre 6 degrees
// below; noon: the sun's transit.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace calendar_server {

struct Coordinates {
    double latitude = 0;   // degrees, north positive
    double longitude = 0;  // degrees, east positive
};

// "LAT<separator>LON" in decimal degrees, latitude within +-90 and longitude within +-180; false for
// anything else.
bool ParseCoordinates(const std::string& text, char separator, Coordinates* out);
bool ValidCoordinates(double latitude, double longitude);

enum class SunEvent { kSunrise, kSunset, kDawn, kDusk, kNoon };

struct SunMarker {
    SunEvent event = SunEvent::kSunset;
    int64_t offsetSeconds = 0;
};

enum class MarkerRead { kNone, kMarker, kBad };
// Reads the last word of a summary. kMarker: *summary loses the marker and the space before it; kBad: the
// last word starts with '@' but is no marker; kNone: no marker, nothing changed.
MarkerRead ReadSunMarker(std::string* summary, SunMarker* marker);

struct SunPlan {
    SunMarker marker;
    Coordinates where;
};

// How far a sun event moves an occurrence from any time of its date, at most (local ticks): the clock
// occurrences of a window widened by this hold every sun occurrence of the window.
uint64_t SunReach(const SunPlan& plan);

// The sun event (plus the offset) of the local date of `localInstant`, as a local instant (100 ns units
// since 1601, the server's local time). False when the date has none; *sunless tells whether that is
// because the sun never reaches the event's altitude on it (polar night or midnight sun).
bool SunTime(const SunPlan& plan, uint64_t localInstant, uint64_t* instant, bool* sunless);

// Moves each clock occurrence (local instants) to its date's sun event and appends those inside
// [from, to] to `out`, sorted and each once; adds to *sunless the dates of the window without one
// because of the sun.
void FollowSun(const SunPlan& plan, const std::vector<uint64_t>& clock, uint64_t from, uint64_t to,
               std::vector<uint64_t>* out, size_t* sunless);

}  // namespace calendar_server
