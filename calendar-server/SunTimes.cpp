#include "SunTimes.h"

#include <libnova/julian_day.h>
#include <libnova/precession.h>
#include <libnova/rise_set.h>
#include <libnova/solar.h>
#include <libnova/transform.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <tuple>

#include "CalendarServer.h"
#include "platform/Clock.h"
#include "platform/LocalZone.h"

namespace calendar_server {
namespace {

constexpr int64_t kMaxOffsetSeconds = 24 * 3600;

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

enum class Found { kYes, kNotThatDay, kSunless };

// The sun's position for the equator and equinox of the date. The library's solar position is referred to
// the year-2000 equinox, and its own sunrise and sunset take it as of the date: a quarter of a degree off
// in 2026 (over a minute), more every year.
void SunOfDate(double jd, ln_equ_posn* position) {
    ln_equ_posn j2000{};
    ln_get_solar_equ_coords(jd, &j2000);
    ln_get_equ_prec(&j2000, jd, position);
}

// The event in [start, end) (seconds since 1970, UTC). The library computes the events of the UTC day of the
// instant it is asked from (later ones are that day's moved by a whole day), so it is asked from the start
// of a UTC day: the one of the date's middle, then the one before or after when the event falls outside.
Found Compute(SunEvent event, const Coordinates& where, time_t start, time_t end, time_t* at) {
    // The transit depends on the longitude alone, and at the equator the sun rises and sets every day: noon
    // is asked there, so that it exists in polar night and midnight sun too.
    const bool noon = event == SunEvent::kNoon;
    ln_lnlat_posn observer{where.longitude, noon ? 0.0 : where.latitude};
    const double altitude = event == SunEvent::kDawn || event == SunEvent::kDusk ? -6.0 : -0.833;
    // False when the sun does not reach the altitude that UTC day.
    auto ask = [&](double jd, time_t* t) {
        ln_rst_time rst{};
        if (ln_get_body_rst_horizon(jd, &observer, SunOfDate, altitude, &rst) != 0) return false;
        ln_get_timet_from_julian(event == SunEvent::kSunrise || event == SunEvent::kDawn ? rst.rise
                                 : noon                                                  ? rst.transit
                                                                                         : rst.set,
                                 t);
        return true;
    };
    // The library interpolates positions a day apart; where the sun barely crosses the altitude (around
    // polar night) that is minutes off. A few steps on the sun's altitude itself settle it.
    auto refine = [&](time_t* t) {
        if (noon) return;
        auto above = [&](double jd) {
            ln_equ_posn position{};
            SunOfDate(jd, &position);
            ln_hrz_posn horizontal{};
            ln_get_hrz_from_equ(&position, &observer, jd, &horizontal);
            return horizontal.alt - altitude;
        };
        const double first = ln_get_julian_from_timet(t);
        double jd = first;
        constexpr double kMinute = 1.0 / 1440;
        for (int step = 0; step < 8; ++step) {
            const double height = above(jd);
            const double slope = (above(jd + kMinute) - height) / kMinute;
            if (slope == 0) return;
            const double move = std::max(-30 * kMinute, std::min(30 * kMinute, -height / slope));
            jd += move;
            if (std::fabs(move) < 1.0 / 86400) break;
        }
        // A step that wandered off (no crossing near) keeps the interpolated time.
        if (std::fabs(jd - first) < 60 * kMinute && std::fabs(above(jd)) < 0.01)
            ln_get_timet_from_julian(jd, t);
    };
    time_t middle = start + (end - start) / 2;
    const double day = std::floor(ln_get_julian_from_timet(&middle) - 0.5) + 0.5;
    time_t t = 0;
    if (!ask(day, &t)) return Found::kSunless;
    if ((t < start && !ask(day + 1, &t)) || (t >= end && !ask(day - 1, &t))) return Found::kNotThatDay;
    refine(&t);
    if (t < start || t >= end) return Found::kNotThatDay;
    *at = t;
    return Found::kYes;
}

// Occurrences of many events fall on the same dates and places, and a calendar is read again every few
// minutes: each date's event is computed once.
Found Cached(SunEvent event, const Coordinates& where, time_t start, time_t end, time_t* at) {
    using Key = std::tuple<time_t, time_t, double, double, int>;
    static std::mutex lock;
    static std::map<Key, std::pair<Found, time_t>> cache;
    std::lock_guard<std::mutex> hold(lock);
    const Key key{start, end, where.latitude, where.longitude, static_cast<int>(event)};
    auto it = cache.find(key);
    if (it == cache.end()) {
        if (cache.size() > 200000) cache.clear();
        time_t t = 0;
        const Found found = Compute(event, where, start, end, &t);
        it = cache.emplace(key, std::make_pair(found, t)).first;
    }
    *at = it->second.second;
    return it->second.first;
}

}  // namespace

bool ValidCoordinates(double latitude, double longitude) {
    return std::isfinite(latitude) && std::isfinite(longitude) && std::fabs(latitude) <= 90 &&
           std::fabs(longitude) <= 180;
}

bool ParseCoordinates(const std::string& text, char separator, Coordinates* out) {
    const size_t split = text.find(separator);
    if (split == std::string::npos) return false;
    const std::string parts[2] = {text.substr(0, split), text.substr(split + 1)};
    double values[2] = {0, 0};
    for (int i = 0; i < 2; ++i) {
        const char* begin = parts[i].c_str();
        char* end = nullptr;
        values[i] = std::strtod(begin, &end);
        if (parts[i].empty() || IsSpace(parts[i][0]) || end != begin + parts[i].size()) return false;
    }
    if (!ValidCoordinates(values[0], values[1])) return false;
    *out = Coordinates{values[0], values[1]};
    return true;
}

MarkerRead ReadSunMarker(std::string* summary, SunMarker* marker) {
    size_t end = summary->size();
    while (end > 0 && IsSpace((*summary)[end - 1])) --end;
    size_t begin = end;
    while (begin > 0 && !IsSpace((*summary)[begin - 1])) --begin;
    if (begin == end || (*summary)[begin] != '@') return MarkerRead::kNone;
    std::string word = summary->substr(begin + 1, end - begin - 1);
    for (char& c : word) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));

    static const std::pair<const char*, SunEvent> kNames[] = {{"sunrise", SunEvent::kSunrise},
                                                              {"sunset", SunEvent::kSunset},
                                                              {"dawn", SunEvent::kDawn},
                                                              {"dusk", SunEvent::kDusk},
                                                              {"noon", SunEvent::kNoon}};
    SunMarker read;
    size_t at = std::string::npos;
    for (const auto& name : kNames) {
        if (word.compare(0, std::strlen(name.first), name.first) == 0) {
            read.event = name.second;
            at = std::strlen(name.first);
            break;
        }
    }
    if (at == std::string::npos) return MarkerRead::kBad;
    if (at < word.size()) {
        const char sign = word[at++];
        if ((sign != '+' && sign != '-') || at == word.size()) return MarkerRead::kBad;
        int64_t total = 0;
        while (at < word.size()) {
            int64_t number = 0;
            size_t digits = 0;
            for (; at < word.size() && std::isdigit(static_cast<unsigned char>(word[at])); ++at, ++digits) {
                if (digits == 6) return MarkerRead::kBad;
                number = number * 10 + (word[at] - '0');
            }
            if (digits == 0 || at == word.size()) return MarkerRead::kBad;
            const char unit = word[at++];
            const int64_t scale = unit == 'h' ? 3600 : unit == 'm' ? 60 : unit == 's' ? 1 : 0;
            if (scale == 0) return MarkerRead::kBad;
            total += number * scale;
            if (total > kMaxOffsetSeconds) return MarkerRead::kBad;
        }
        read.offsetSeconds = sign == '-' ? -total : total;
    }
    while (begin > 0 && IsSpace((*summary)[begin - 1])) --begin;
    summary->erase(begin);
    *marker = read;
    return MarkerRead::kMarker;
}

uint64_t SunReach(const SunPlan& plan) {
    const int64_t offset = plan.marker.offsetSeconds;
    return platform::kTicksPerDay +
           static_cast<uint64_t>(offset < 0 ? -offset : offset) * platform::kTicksPerSecond;
}

bool SunTime(const SunPlan& plan, uint64_t localInstant, uint64_t* instant, bool* sunless) {
    *sunless = false;
    platform::CalendarTime c;
    if (!platform::InstantToCalendar(localInstant, &c)) return false;
    platform::CalendarTime next;
    if (!platform::InstantToCalendar(localInstant + platform::kTicksPerDay, &next)) return false;
    c.hour = c.minute = c.second = c.milliseconds = 0;
    next.hour = next.minute = next.second = next.milliseconds = 0;
    int64_t dayStart = 0, dayEnd = 0;
    if (!platform::LocalTimeToUtc(c, &dayStart) || !platform::LocalTimeToUtc(next, &dayEnd)) return false;
    const time_t start = static_cast<time_t>(dayStart);
    const time_t end = static_cast<time_t>(dayEnd);
    if (end <= start) return false;
    time_t at = 0;
    const Found found = Cached(plan.marker.event, plan.where, start, end, &at);
    *sunless = found == Found::kSunless;
    return found == Found::kYes &&
           UtcToLocalInstant(at + static_cast<time_t>(plan.marker.offsetSeconds), instant);
}

void FollowSun(const SunPlan& plan, const std::vector<uint64_t>& clock, uint64_t from, uint64_t to,
               std::vector<uint64_t>* out, size_t* sunless) {
    const size_t first = out->size();
    uint64_t lastDay = UINT64_MAX;
    for (uint64_t t : clock) {
        const uint64_t day = t / platform::kTicksPerDay;
        if (day == lastDay) continue;  // the sun has one such event a date
        lastDay = day;
        uint64_t at = 0;
        bool none = false;
        if (SunTime(plan, t, &at, &none)) {
            if (at >= from && at <= to) out->push_back(at);
        } else if (none && sunless && day >= from / platform::kTicksPerDay &&
                   day <= to / platform::kTicksPerDay) {
            ++*sunless;
        }
    }
    std::sort(out->begin() + static_cast<std::ptrdiff_t>(first), out->end());
    out->erase(std::unique(out->begin() + static_cast<std::ptrdiff_t>(first), out->end()), out->end());
}

}  // namespace calendar_server
