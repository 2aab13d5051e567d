#include "SunTimes.h"

#include <libnova/julian_day.h>
#include <libnova/solar.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <map>
#include <mutex>
#include <tuple>

#include "platform/Clock.h"

namespace calendar_server {
namespace {

constexpr int64_t kMaxOffsetSeconds = 24 * 3600;

bool IsSpace(char c) {
    return std::isspace(static_cast<unsigned char>(c)) != 0;
}

bool ToLocal(time_t utc, uint64_t* instant) {
    std::tm tm{};
    if (!localtime_r(&utc, &tm) || tm.tm_year < 1601 - 1900) return false;
    platform::CalendarTime c;
    c.year = static_cast<uint16_t>(tm.tm_year + 1900);
    c.month = static_cast<uint16_t>(tm.tm_mon + 1);
    c.day = static_cast<uint16_t>(tm.tm_mday);
    c.hour = static_cast<uint16_t>(tm.tm_hour);
    c.minute = static_cast<uint16_t>(tm.tm_min);
    c.second = static_cast<uint16_t>(tm.tm_sec);
    return platform::CalendarToInstant(c, instant);
}

enum class Found { kYes, kNotThatDay, kSunless };

// The first event in [start, end) (seconds since 1970, UTC). The library answers with the event next after
// the instant it is asked from.
Found Compute(SunEvent event, const Coordinates& where, time_t start, time_t end, time_t* at) {
    // The transit depends on the longitude alone, and at the equator the sun rises and sets every day: noon
    // is asked there, so that it exists in polar night and midnight sun too.
    const bool noon = event == SunEvent::kNoon;
    ln_lnlat_posn observer{where.longitude, noon ? 0.0 : where.latitude};
    const double altitude = event == SunEvent::kDawn || event == SunEvent::kDusk ? -6.0 : -0.833;
    time_t from = start;
    for (int attempt = 0; attempt < 2; ++attempt) {
        ln_rst_time rst{};
        if (ln_get_solar_rst_horizon(ln_get_julian_from_timet(&from), &observer, altitude, &rst) != 0)
            return Found::kSunless;
        const double jd = event == SunEvent::kSunrise || event == SunEvent::kDawn ? rst.rise
                          : noon                                                  ? rst.transit
                                                                                  : rst.set;
        time_t t = 0;
        ln_get_timet_from_julian(jd, &t);
        if (t >= start && t < end) return *at = t, Found::kYes;
        if (t >= end) return Found::kNotThatDay;
        // One just before the date: the next comes about a day later.
        from = t + 3600;
    }
    return Found::kNotThatDay;
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
    std::tm day{};
    day.tm_year = c.year - 1900;
    day.tm_mon = c.month - 1;
    day.tm_mday = c.day;
    day.tm_isdst = -1;
    std::tm next = day;
    ++next.tm_mday;
    const time_t start = std::mktime(&day);
    const time_t end = std::mktime(&next);
    if (start == static_cast<time_t>(-1) || end <= start) return false;
    time_t at = 0;
    const Found found = Cached(plan.marker.event, plan.where, start, end, &at);
    *sunless = found == Found::kSunless;
    return found == Found::kYes && ToLocal(at + static_cast<time_t>(plan.marker.offsetSeconds), instant);
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
