#include "IcsCalendar.h"

#include <libical/ical.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>

#include "CalendarServer.h"
#include "SunTimes.h"
#include "platform/Clock.h"
#include "platform/LocalZone.h"
#include "platform/ZoneData.h"

namespace calendar_server {
namespace {

// The calendar library keeps shared state (loaded zones, their cached transitions), so every use of it
// that touches a zone goes through one lock, taken briefly (per event read, per batch of instants
// converted). Walking a rule's days needs no zone and runs outside it, so that a slow rule never makes
// other sources or requests wait.
std::mutex& LibraryLock() {
    static std::mutex lock;
    return lock;
}

void QuietLibrary() {
    // Its default is to abort on malformed input.
    static std::once_flag once;
    std::call_once(once, [] {
        icalerror_set_errors_are_fatal(0);
#ifdef ZRK_LIBICAL_ZONE_DIRECTORY
        // Every zone a calendar names comes from the current zone data shipped with the server, never
        // from the library's own years-old copy.
        const std::string zones = platform::ShippedZoneDirectory();
        if (!zones.empty()) {
            icaltimezone_set_builtin_tzdata(0);
            icaltzutil_set_zone_directory(zones.c_str());
        }
#endif
    });
}

// A rule's expansion over one window gives up after this many steps or this much time, and is not tried
// again for that calendar.
constexpr long kMaxSteps = 50000000;
constexpr std::chrono::milliseconds kMaxRuleTime{1000};
// All rules of a window together: past this (and a little more per event, so that a large calendar of
// plain rules is never cut short on a slow machine), the rules not yet expanded are given up too.
constexpr std::chrono::milliseconds kMaxWindowTime{5000};
constexpr std::chrono::microseconds kMoreTimePerEvent{1000};
// The device fires at most one action a second: more than one a minute per event and day is cut.
constexpr size_t kMaxPerDay = 1440;
// Instances held for one window, all events together.
constexpr size_t kMaxHeld = 500000;
// Components nest three deep in a real calendar (calendar, event, alarm); the library frees a tree by
// recursion, so a file nested without end would overflow the stack.
constexpr int kMaxDepth = 8;
// Zones differ from the local one by less than this, so a window widened by it holds every candidate.
constexpr int64_t kZoneSlackSeconds = 2 * 86400;
constexpr int64_t kDay = 86400;

// Days since 1970-01-01 of a civil date (proleptic Gregorian).
int64_t DaysFromCivil(int64_t y, int m, int d) {
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468;
}

// A wall time as seconds since 1970 read as if it were UTC: arithmetic on wall clocks, zone aside.
int64_t WallSeconds(const icaltimetype& t) {
    return DaysFromCivil(t.year, t.month, t.day) * kDay + t.hour * 3600 + t.minute * 60 + t.second;
}

icaltimetype FromWallSeconds(int64_t wall, const icaltimezone* zone) {
    // Days to a civil date: the inverse of DaysFromCivil.
    const int64_t days = (wall >= 0 ? wall : wall - (kDay - 1)) / kDay;
    const int64_t secs = wall - days * kDay;
    const int64_t z = days + 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int64_t month = mp < 10 ? mp + 3 : mp - 9;
    icaltimetype t = icaltime_null_time();
    t.year = static_cast<int>(yoe + era * 400 + (month <= 2 ? 1 : 0));
    t.month = static_cast<int>(month);
    t.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    t.hour = static_cast<int>(secs / 3600), t.minute = static_cast<int>(secs / 60 % 60);
    t.second = static_cast<int>(secs % 60);
    t.zone = zone;
    return t;
}

// One recurrence rule, split into what the library walks (its days) and what is done here (the times
// of a day, the count, the end): the library steps through every candidate second of a rule such as
// "every minute of February 30" inside one call, and aligns hourly and minutely intervals on the day.
struct Rule {
    icalrecurrencetype days;  // the same rule by day: no times of day, no count, no end
    icalrecurrencetype_frequency freq = ICAL_NO_RECURRENCE;
    int interval = 1;
    int count = 0;  // 0: none
    bool hasUntil = false;
    int64_t untilWall = 0;  // in the event's wall time
    std::vector<int> hours, minutes, seconds;
    std::shared_ptr<std::atomic<bool>> gaveUp = std::make_shared<std::atomic<bool>>(false);
};

struct Event {
    // The action's members after "date", as JSON text: a day's answer may hold thousands of them.
    std::string members;
    std::string description;  // for the operator's notes
    icaltimetype start;       // wall time in its zone (null zone: floating)
    time_t startUtc = 0;
    std::vector<Rule> rules;
    std::vector<std::pair<time_t, int64_t>> extra;  // RDATE: instant, wall day
    std::vector<time_t> excluded;                   // EXDATE and overridden instances, sorted
    std::vector<int64_t> excludedDays;              // EXDATE of whole days (wall days), sorted
    std::shared_ptr<std::atomic<bool>> cutNoted = std::make_shared<std::atomic<bool>>(false);
    std::optional<SunPlan> sun;  // its time follows the sun on each occurrence's date
};

// Seconds since 1970 (UTC) of a wall time in its zone; floating times are the server's local time.
bool ToUtc(const icaltimetype& t, time_t* out) {
    if (t.zone) {
        *out = icaltime_as_timet_with_zone(t, t.zone);
        return true;
    }
    platform::CalendarTime local;
    local.year = static_cast<uint16_t>(t.year);
    local.month = static_cast<uint16_t>(t.month);
    local.day = static_cast<uint16_t>(t.day);
    local.hour = static_cast<uint16_t>(t.hour);
    local.minute = static_cast<uint16_t>(t.minute);
    local.second = static_cast<uint16_t>(t.second);
    int64_t utc = 0;
    if (!platform::LocalTimeToUtc(local, &utc)) return false;
    *out = static_cast<time_t>(utc);
    return true;
}

int64_t LocalWallSeconds(uint64_t instant) {
    platform::CalendarTime c;
    platform::InstantToCalendar(instant, &c);
    return DaysFromCivil(c.year, c.month, c.day) * kDay + c.hour * 3600 + c.minute * 60 + c.second;
}

int64_t FloorDiv(int64_t a, int64_t b) {
    return a / b - ((a % b != 0) && ((a < 0) != (b < 0)));
}

std::string Text(const char* text) {
    return text ? text : "";
}

std::string DayText(int64_t wall) {
    const icaltimetype t = FromWallSeconds(wall, nullptr);
    char text[40];  // room for any int, so the formatting is never cut
    std::snprintf(text, sizeof text, "%04d-%02d-%02d", t.year, t.month, t.day);
    return text;
}

// The library takes "2025-99-99" for a date and February 30 for a day; neither names a day.
bool RealDate(const icaltimetype& t) {
    if (icaltime_is_null_time(t) || t.year < 1601 || t.year > 9999 || t.month < 1 || t.month > 12)
        return false;
    if (t.day < 1 || t.day > icaltime_days_in_month(t.month, t.year)) return false;
    return t.is_date ||
           (t.hour >= 0 && t.hour < 24 && t.minute >= 0 && t.minute < 60 && t.second >= 0 && t.second <= 60);
}

std::string Describe(icalcomponent* event) {
    return "event \"" + Text(icalcomponent_get_summary(event)) + "\" (UID " +
           Text(icalcomponent_get_uid(event)) + ")";
}

// The zone of a date-time property: its TZID (the calendar's own definition first), UTC for a "Z" time,
// none for a floating time. False for a TZID nobody defines.
bool ZoneOf(icalcomponent* root, icalproperty* prop, icaltimetype* t) {
    icalparameter* tzid = icalproperty_get_first_parameter(prop, ICAL_TZID_PARAMETER);
    if (!tzid || icaltime_is_utc(*t)) return true;
    const char* id = icalparameter_get_tzid(tzid);
    icaltimezone* zone = id ? icalcomponent_get_timezone(root, id) : nullptr;
    if (!zone && id) zone = icaltimezone_get_builtin_timezone_from_tzid(id);
    if (!zone && id) zone = icaltimezone_get_builtin_timezone(id);
    t->zone = zone;
    return zone != nullptr;
}

// The properties the server reads from an event: one of them that the library could not read makes the
// event unusable; any other broken property is ignored.
bool UsedProperty(const std::string& error) {
    // The library's messages name the property as "... <NAME> property".
    const size_t at = error.find(" property");
    if (at == std::string::npos) return false;
    const size_t begin = error.rfind(' ', at - 1);
    std::string name = error.substr(begin == std::string::npos ? 0 : begin + 1,
                                    begin == std::string::npos ? at : at - begin - 1);
    for (char& c : name) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    static const char* const kUsed[] = {"DTSTART",       "RRULE",   "RDATE",  "EXDATE",
                                        "RECURRENCE-ID", "SUMMARY", "STATUS", "GEO"};
    return std::find(std::begin(kUsed), std::end(kUsed), name) != std::end(kUsed);
}

std::vector<int> Values(const short* list, size_t size, int low, int high) {
    std::vector<int> values;
    for (size_t i = 0; i < size && list[i] != ICAL_RECURRENCE_ARRAY_MAX; ++i) {
        if (list[i] >= low && list[i] <= high) values.push_back(list[i]);
    }
    std::sort(values.begin(), values.end());
    values.erase(std::unique(values.begin(), values.end()), values.end());
    return values;
}

std::vector<int> Range(int high) {
    std::vector<int> values;
    for (int i = 0; i <= high; ++i) values.push_back(i);
    return values;
}

bool SubDaily(icalrecurrencetype_frequency freq) {
    return freq == ICAL_SECONDLY_RECURRENCE || freq == ICAL_MINUTELY_RECURRENCE ||
           freq == ICAL_HOURLY_RECURRENCE;
}

// Splits a rule of an event (read: its start and zone) into a Rule; false with the reason when it cannot
// be used.
bool ReadRule(const icalrecurrencetype& rule, const Event& e, Rule* r, std::string* why) {
    if (rule.freq == ICAL_NO_RECURRENCE) return *why = "bad recurrence rule", false;
    r->freq = rule.freq;
    r->interval = std::max<int>(1, rule.interval);
    r->count = std::max(0, rule.count);
    if (!icaltime_is_null_time(rule.until)) {
        icaltimetype until = rule.until;
        if (!RealDate(until)) return *why = "recurrence rule ends on an impossible date", false;
        r->hasUntil = true;
        if (until.is_date) {
            until.is_date = 0;
            until.hour = until.minute = until.second = 0;
            r->untilWall = WallSeconds(until) + kDay - 1;
        } else if (icaltime_is_utc(until) && e.start.zone && !icaltime_is_utc(e.start)) {
            r->untilWall = WallSeconds(icaltime_convert_to_zone(
                until, const_cast<icaltimezone*>(static_cast<const icaltimezone*>(e.start.zone))));
        } else if (icaltime_is_utc(until) && !e.start.zone) {
            platform::CalendarTime tm;
            if (!platform::UtcToLocalTime(WallSeconds(until), &tm))
                return *why = "recurrence rule ends out of range", false;
            r->untilWall =
                DaysFromCivil(tm.year, tm.month, tm.day) * kDay + tm.hour * 3600 + tm.minute * 60 + tm.second;
        } else {
            r->untilWall = WallSeconds(until);
        }
    }
    const bool sub = SubDaily(rule.freq);
    r->hours = Values(rule.by_hour, ICAL_BY_HOUR_SIZE, 0, 23);
    r->minutes = Values(rule.by_minute, ICAL_BY_MINUTE_SIZE, 0, 59);
    r->seconds = Values(rule.by_second, ICAL_BY_SECOND_SIZE, 0, 59);
    const bool byTime = rule.by_hour[0] != ICAL_RECURRENCE_ARRAY_MAX ||
                        rule.by_minute[0] != ICAL_RECURRENCE_ARRAY_MAX ||
                        rule.by_second[0] != ICAL_RECURRENCE_ARRAY_MAX;
    if (rule.by_hour[0] == ICAL_RECURRENCE_ARRAY_MAX)
        r->hours = sub ? Range(23) : std::vector<int>{e.start.hour};
    if (rule.by_minute[0] == ICAL_RECURRENCE_ARRAY_MAX) {
        r->minutes =
            sub && rule.freq != ICAL_HOURLY_RECURRENCE ? Range(59) : std::vector<int>{e.start.minute};
    }
    if (rule.by_second[0] == ICAL_RECURRENCE_ARRAY_MAX) {
        r->seconds = rule.freq == ICAL_SECONDLY_RECURRENCE ? Range(59) : std::vector<int>{e.start.second};
    }
    // A position among the instances of an interval picks among times of a day too; the library is left
    // that only when a day has one time.
    if (rule.by_set_pos[0] != ICAL_RECURRENCE_ARRAY_MAX && (sub || byTime)) {
        return *why = "recurrence rule with BYSETPOS and times of day is not supported", false;
    }
    r->days = rule;
    // The library looks at every element of a list, not only up to the first end mark.
    std::fill(std::begin(r->days.by_hour), std::end(r->days.by_hour), ICAL_RECURRENCE_ARRAY_MAX);
    std::fill(std::begin(r->days.by_minute), std::end(r->days.by_minute), ICAL_RECURRENCE_ARRAY_MAX);
    std::fill(std::begin(r->days.by_second), std::end(r->days.by_second), ICAL_RECURRENCE_ARRAY_MAX);
    r->days.count = 0;
    r->days.until = icaltime_null_time();
    if (sub) {
        r->days.freq = ICAL_DAILY_RECURRENCE;
        r->days.interval = 1;
    }
    return true;
}

// A summary ending in a sun marker follows the sun at the event's GEO, else at its location's coordinates.
// A mistyped marker or unusable coordinates skip the event rather than fire it at its clock time.
bool ReadSun(icalcomponent* c, const Coordinates* place, std::string* name, Event* e, std::string* why) {
    SunMarker marker;
    const MarkerRead read = ReadSunMarker(name, &marker);
    if (read == MarkerRead::kNone) return true;
    if (read == MarkerRead::kBad) {
        return *why =
                   "the summary ends in no valid sun marker (@sunrise, @sunset, @dawn, @dusk or @noon, "
                   "optionally with an offset such as +30m or -1h15m)",
               false;
    }
    std::optional<Coordinates> where;
    if (place) where = *place;
    if (icalproperty* geo = icalcomponent_get_first_property(c, ICAL_GEO_PROPERTY)) {
        Coordinates own;
        if (!ParseCoordinates(Text(icalproperty_get_value_as_string(geo)), ';', &own))
            return *why = "bad GEO (latitude;longitude in degrees)", false;
        where = own;
    }
    if (!where) {
        return *why =
                   "follows the sun but has no coordinates: no GEO, and none for its location (--geo, or "
                   "latitude and longitude in the data file)",
               false;
    }
    e->sun = SunPlan{marker, *where};
    return true;
}

// Reads one VEVENT; false (with the reason) when it cannot be used, true with *skip for an event that is
// rightly not an action (all-day, cancelled). Broken properties the server does not read are listed in
// *ignored.
bool ReadEvent(icalcomponent* root, icalcomponent* c, const Coordinates* place, Event* e, bool* skip,
               std::string* why, std::string* ignored) {
    *skip = false;
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_XLICERROR_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_XLICERROR_PROPERTY)) {
        const std::string error = Text(icalproperty_get_xlicerror(p));
        if (UsedProperty(error)) return *why = error, false;
        ignored->append(ignored->empty() ? "" : "; ").append(error);
    }
    icalproperty* start = icalcomponent_get_first_property(c, ICAL_DTSTART_PROPERTY);
    if (!start) return *why = "no start date", false;
    e->start = icalproperty_get_dtstart(start);
    if (!RealDate(e->start)) return *why = "bad start date", false;
    if (e->start.is_date || icalcomponent_get_status(c) == ICAL_STATUS_CANCELLED) return *skip = true, true;
    if (!ZoneOf(root, start, &e->start)) return *why = "unknown time zone", false;
    if (!ToUtc(e->start, &e->startUtc)) return *why = "start date out of range", false;

    std::string name = Text(icalcomponent_get_summary(c));
    if (!ReadSun(c, place, &name, e, why)) return false;
    const size_t equals = name.find('=');
    const bool variable = equals != std::string::npos;
    const nlohmann::json members{{"macro", name.substr(0, equals)},
                                 {"macro_action", variable ? 2 : 1},
                                 {"macro_data", variable ? name.substr(equals + 1) : std::string()},
                                 {"name", name}};
    // Bytes that are not UTF-8 are replaced rather than failing the answer.
    e->members = "," + members.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace).substr(1);
    e->description = Describe(c);

    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_RRULE_PROPERTY)) {
        Rule rule;
        if (!ReadRule(icalproperty_get_rrule(p), *e, &rule, why)) return false;
        e->rules.push_back(std::move(rule));
    }
    // Extra and excluded dates without a zone of their own are in the event's.
    auto readTime = [&](icalproperty* p, icaltimetype t, std::vector<time_t>* into,
                        std::vector<std::pair<time_t, int64_t>>* extra) -> bool {
        if (!RealDate(t)) return false;
        if (t.is_date) {
            // An excluded day takes out the instances of that day; an extra whole day names no instant.
            if (!extra) e->excludedDays.push_back(DaysFromCivil(t.year, t.month, t.day));
            return true;
        }
        if (!icaltime_is_utc(t)) t.zone = e->start.zone;
        time_t utc = 0;
        if (!ZoneOf(root, p, &t) || !ToUtc(t, &utc)) return false;
        if (into) into->push_back(utc);
        if (extra) extra->emplace_back(utc, DaysFromCivil(t.year, t.month, t.day));
        return true;
    };
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_RDATE_PROPERTY)) {
        const icaldatetimeperiodtype rdate = icalproperty_get_rdate(p);
        const icaltimetype t = icaltime_is_null_time(rdate.time) ? rdate.period.start : rdate.time;
        if (!readTime(p, t, nullptr, &e->extra)) return *why = "bad RDATE", false;
    }
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_EXDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_EXDATE_PROPERTY)) {
        if (!readTime(p, icalproperty_get_exdate(p), &e->excluded, nullptr))
            return *why = "bad EXDATE", false;
    }
    std::sort(e->excludedDays.begin(), e->excludedDays.end());
    return true;
}

enum class Walk { kDone, kGaveUp, kCancelled };

// The wall times (seconds, see WallSeconds) of one rule's instances in [low, high], DTSTART itself aside:
// it is served by itself and counts as the first instance. At most kMaxPerDay a day; *cutDay tells the
// first day cut.
Walk WalkRule(const Event& e, const Rule& r, int64_t low, int64_t high, const std::atomic<bool>* cancel,
              std::vector<int64_t>* walls, int64_t* cutDay, std::string* why) {
    const int64_t start = WallSeconds(e.start);
    icaltimetype dayStart = icaltime_null_time();
    dayStart.year = e.start.year, dayStart.month = e.start.month, dayStart.day = e.start.day;
    icalrecur_iterator* it = icalrecur_iterator_new(r.days, dayStart);
    if (!it) return *why = "the recurrence rule cannot be expanded", Walk::kGaveUp;
    // Without a count the walk may begin at the window (days are walked in whole intervals of days,
    // weeks, months or years from the start, which the library aligns rightly).
    if (r.count == 0 && low > start) {
        icalrecur_iterator_set_start(it, FromWallSeconds(low - low % kDay, nullptr));
    }
    const int64_t unit = r.freq == ICAL_HOURLY_RECURRENCE     ? 3600
                         : r.freq == ICAL_MINUTELY_RECURRENCE ? 60
                         : r.freq == ICAL_SECONDLY_RECURRENCE ? 1
                                                              : 0;
    const int64_t startUnit = unit ? FloorDiv(start, unit) : 0;
    const auto deadline = std::chrono::steady_clock::now() + kMaxRuleTime;
    long steps = 0;
    long counted = 1;
    Walk result = Walk::kDone;
    bool end = false;
    while (!end) {
        const icaltimetype d = icalrecur_iterator_next(it);
        if (icaltime_is_null_time(d)) break;
        const int64_t day = DaysFromCivil(d.year, d.month, d.day) * kDay;
        if (day > high || (r.hasUntil && day > r.untilWall)) break;
        size_t perDay = 0;
        bool dayDone = false;
        for (size_t h = 0; h < r.hours.size() && !end && !dayDone; ++h) {
            for (size_t m = 0; m < r.minutes.size() && !end && !dayDone; ++m) {
                for (size_t s = 0; s < r.seconds.size() && !end && !dayDone; ++s) {
                    if (++steps % 4096 == 0) {
                        if (cancel && cancel->load()) {
                            result = Walk::kCancelled, end = true;
                        } else if (steps > kMaxSteps || std::chrono::steady_clock::now() > deadline) {
                            *why = "expanding the recurrence rule took too long; given up";
                            result = Walk::kGaveUp, end = true;
                        }
                        if (end) break;
                    }
                    const int64_t t = day + r.hours[h] * 3600 + r.minutes[m] * 60 + r.seconds[s];
                    if (t <= start) continue;
                    if ((r.hasUntil && t > r.untilWall) || t > high) {
                        end = true;
                        break;
                    }
                    // Sub-daily instances follow DTSTART by whole intervals, whatever window is asked.
                    if (unit && (FloorDiv(t, unit) - startUnit) % r.interval != 0) continue;
                    if (r.count && ++counted > r.count) {
                        end = true;
                        break;
                    }
                    if (t < low) continue;
                    if (perDay == kMaxPerDay) {
                        if (*cutDay < 0) *cutDay = day;
                        dayDone = !r.count;  // a count goes on counting the rest
                        continue;
                    }
                    ++perDay;
                    walls->push_back(t);
                }
            }
        }
        if (!end && ++steps % 4096 == 0 && std::chrono::steady_clock::now() > deadline) {
            *why = "expanding the recurrence rule took too long; given up";
            result = Walk::kGaveUp;
            break;
        }
    }
    icalrecur_iterator_free(it);
    return result;
}

using Note = IcsCalendar::Note;

// The clock-time instances (instant, local time) of one event whose local start lies in [from, to], one per
// instant.
bool ExpandClock(const Event& e, uint64_t from, uint64_t to, const std::atomic<bool>* cancel,
                 const Note& note, std::vector<std::pair<time_t, uint64_t>>* out) {
    out->clear();
    // As in the other direction, local times within one steady hour follow from the hour's start.
    time_t hour = -1;
    uint64_t hourLocal = 0;
    bool steady = false;
    auto add = [&](time_t utc, int64_t day) {
        if (std::binary_search(e.excluded.begin(), e.excluded.end(), utc)) return;
        if (std::binary_search(e.excludedDays.begin(), e.excludedDays.end(), day)) return;
        const time_t start = utc - ((utc % 3600) + 3600) % 3600;
        if (start != hour) {
            uint64_t last = 0;
            hour = start;
            steady = UtcToLocalInstant(start, &hourLocal) && UtcToLocalInstant(start + 3599, &last) &&
                     last - hourLocal == 3599 * platform::kTicksPerSecond;
        }
        uint64_t local = 0;
        if (steady) {
            local = hourLocal + static_cast<uint64_t>(utc - start) * platform::kTicksPerSecond;
        } else if (!UtcToLocalInstant(utc, &local)) {
            return;
        }
        if (local >= from && local <= to) out->emplace_back(utc, local);
    };
    add(e.startUtc, DaysFromCivil(e.start.year, e.start.month, e.start.day));
    for (const auto& t : e.extra) add(t.first, t.second);
    const int64_t low = LocalWallSeconds(from) - kZoneSlackSeconds;
    const int64_t high = LocalWallSeconds(to) + kZoneSlackSeconds;
    std::vector<int64_t> walls;
    for (const Rule& rule : e.rules) {
        if (rule.gaveUp->load()) continue;
        walls.clear();
        int64_t cutDay = -1;
        std::string why;
        const Walk walk = WalkRule(e, rule, low, high, cancel, &walls, &cutDay, &why);
        if (walk == Walk::kCancelled) return false;
        if (walk == Walk::kGaveUp && !rule.gaveUp->exchange(true) && note) note(e.description + ": " + why);
        if (cutDay >= 0 && !e.cutNoted->exchange(true) && note) {
            note(e.description + ": more than " + std::to_string(kMaxPerDay) + " instances on " +
                 DayText(cutDay) + " (and maybe other days); the first " + std::to_string(kMaxPerDay) +
                 " of a day are kept");
        }
        std::lock_guard<std::mutex> lock(LibraryLock());
        // Zones change their offset on the hour: within an hour whose first and last second convert
        // 3,599 s apart, the instants follow from the hour's start (a rule every second converts once
        // per hour, not once per instance).
        int64_t hour = -1;
        time_t hourUtc = 0;
        bool steady = false;
        for (int64_t wall : walls) {
            const int64_t start = FloorDiv(wall, 3600) * 3600;
            if (start != hour) {
                time_t last = 0;
                hour = start;
                steady = ToUtc(FromWallSeconds(start, e.start.zone), &hourUtc) &&
                         ToUtc(FromWallSeconds(start + 3599, e.start.zone), &last) && last - hourUtc == 3599;
            }
            time_t utc = 0;
            if (steady) {
                add(hourUtc + static_cast<time_t>(wall - start), FloorDiv(wall, kDay));
            } else if (ToUtc(FromWallSeconds(wall, e.start.zone), &utc)) {
                add(utc, FloorDiv(wall, kDay));
            }
        }
    }
    // Distinct instants stay distinct even where the local clock shows one time twice.
    std::sort(out->begin(), out->end());
    out->erase(std::unique(out->begin(), out->end(),
                           [](const std::pair<time_t, uint64_t>& a, const std::pair<time_t, uint64_t>& b) {
                               return a.first == b.first;
                           }),
               out->end());
    return true;
}

// The instances of one event in [from, to]. A sun event's dates come from a window wide enough to hold every
// date whose sun time falls inside, and its instances carry only their local time; *sunless counts its
// dates without the sun event.
bool Expand(const Event& e, uint64_t from, uint64_t to, const std::atomic<bool>* cancel, const Note& note,
            std::vector<std::pair<time_t, uint64_t>>* out, size_t* sunless) {
    if (!e.sun) return ExpandClock(e, from, to, cancel, note, out);
    const uint64_t reach = SunReach(*e.sun);
    if (!ExpandClock(e, from > reach ? from - reach : 0, to + reach, cancel, note, out)) return false;
    std::vector<uint64_t> clock, sun;
    for (const auto& t : *out) clock.push_back(t.second);
    std::sort(clock.begin(), clock.end());
    FollowSun(*e.sun, clock, from, to, &sun, sunless);
    out->clear();
    for (uint64_t local : sun) out->emplace_back(0, local);
    return true;
}

// True when the text's last line is END:VCALENDAR: a calendar cut short (a half-written file, a broken
// transfer) would otherwise lose its later events without a word.
bool EndsWhole(const std::string& text) {
    size_t end = text.size();
    while (end > 0 && std::isspace(static_cast<unsigned char>(text[end - 1]))) --end;
    static const std::string kEnd = "END:VCALENDAR";
    if (end < kEnd.size()) return false;
    for (size_t i = 0; i < kEnd.size(); ++i) {
        if (std::toupper(static_cast<unsigned char>(text[end - kEnd.size() + i])) != kEnd[i]) return false;
    }
    return true;
}

bool StartsLine(const std::string& text, size_t at, const char* word) {
    for (size_t i = 0; word[i]; ++i) {
        if (at + i >= text.size() || std::toupper(static_cast<unsigned char>(text[at + i])) != word[i])
            return false;
    }
    return true;
}

// The deepest nesting of BEGIN:/END: lines.
int Depth(const std::string& text) {
    int depth = 0, deepest = 0;
    for (size_t at = 0; at < text.size();) {
        if (StartsLine(text, at, "BEGIN:")) {
            deepest = std::max(deepest, ++depth);
        } else if (StartsLine(text, at, "END:")) {
            --depth;
        }
        // A bare carriage return ends a line too, for the library.
        const size_t eol = text.find_first_of("\r\n", at);
        if (eol == std::string::npos) break;
        at = eol + 1;
    }
    return deepest;
}

// A zone definition without a start or offsets in each of its parts cannot be computed; the system's zone
// of that name is used instead (removing it makes the lookups fall through to it).
void DropIncompleteZones(icalcomponent* calendar, std::vector<std::string>* notes) {
    std::vector<icalcomponent*> incomplete;
    for (icalcomponent* z = icalcomponent_get_first_component(calendar, ICAL_VTIMEZONE_COMPONENT); z;
         z = icalcomponent_get_next_component(calendar, ICAL_VTIMEZONE_COMPONENT)) {
        int parts = 0;
        bool whole = true;
        for (icalcomponent* p = icalcomponent_get_first_component(z, ICAL_ANY_COMPONENT); p;
             p = icalcomponent_get_next_component(z, ICAL_ANY_COMPONENT)) {
            const icalcomponent_kind kind = icalcomponent_isa(p);
            if (kind != ICAL_XSTANDARD_COMPONENT && kind != ICAL_XDAYLIGHT_COMPONENT) continue;
            ++parts;
            whole = whole && icalcomponent_get_first_property(p, ICAL_DTSTART_PROPERTY) &&
                    icalcomponent_get_first_property(p, ICAL_TZOFFSETTO_PROPERTY) &&
                    icalcomponent_get_first_property(p, ICAL_TZOFFSETFROM_PROPERTY);
        }
        if (parts == 0 || !whole) incomplete.push_back(z);
    }
    for (icalcomponent* z : incomplete) {
        icalproperty* id = icalcomponent_get_first_property(z, ICAL_TZID_PROPERTY);
        if (notes) {
            notes->push_back("time zone \"" + Text(id ? icalproperty_get_tzid(id) : nullptr) +
                             "\" has no start or offsets; the system's zone of that name is used");
        }
        icalcomponent_remove_component(calendar, z);
        icalcomponent_free(z);
    }
}

}  // namespace

struct IcsCalendar::Events {
    ~Events() {
        std::lock_guard<std::mutex> lock(LibraryLock());
        if (root) icalcomponent_free(root);
    }
    icalcomponent* root = nullptr;  // owns the zones the events point to
    std::string name;
    std::vector<Event> list;
    Note later;  // what expansions after the first read have to say
};

IcsCalendar::~IcsCalendar() = default;

std::shared_ptr<const IcsCalendar> IcsCalendar::Parse(const std::string& text, uint64_t from, uint64_t to,
                                                      std::vector<std::string>* notes, std::string* error,
                                                      Note later, const std::atomic<bool>* cancel,
                                                      const Coordinates* place) {
    QuietLibrary();
    if (!EndsWhole(text)) return *error = "not a whole calendar (no END:VCALENDAR at its end)", nullptr;
    if (Depth(text) > kMaxDepth) {
        return *error = "components nested deeper than " + std::to_string(kMaxDepth) + " levels", nullptr;
    }
    auto events = std::make_shared<Events>();
    events->later = std::move(later);
    {
        std::lock_guard<std::mutex> lock(LibraryLock());
        events->root = icalparser_parse_string(text.c_str());
    }
    // Several calendars in one file come as children of one root.
    std::vector<icalcomponent*> calendars;
    if (events->root && icalcomponent_isa(events->root) == ICAL_VCALENDAR_COMPONENT) {
        calendars.push_back(events->root);
    } else if (events->root && icalcomponent_isa(events->root) == ICAL_XROOT_COMPONENT) {
        std::lock_guard<std::mutex> lock(LibraryLock());
        for (icalcomponent* c = icalcomponent_get_first_component(events->root, ICAL_VCALENDAR_COMPONENT); c;
             c = icalcomponent_get_next_component(events->root, ICAL_VCALENDAR_COMPONENT)) {
            calendars.push_back(c);
        }
    }
    if (calendars.empty()) return *error = "not an iCalendar VCALENDAR", nullptr;
    std::vector<std::pair<std::string, time_t>> overridden;  // UID, instant
    std::vector<std::string> series;                         // per kept event: its UID, empty for an override
    for (icalcomponent* root : calendars) {
        {
            std::lock_guard<std::mutex> lock(LibraryLock());
            DropIncompleteZones(root, notes);
            for (icalproperty* p = icalcomponent_get_first_property(root, ICAL_X_PROPERTY); p;
                 p = icalcomponent_get_next_property(root, ICAL_X_PROPERTY)) {
                if (events->name.empty() && Text(icalproperty_get_x_name(p)) == "X-WR-CALNAME")
                    events->name = Text(icalproperty_get_x(p));
            }
        }
        for (icalcomponent* c = icalcomponent_get_first_component(root, ICAL_VEVENT_COMPONENT); c;
             c = icalcomponent_get_next_component(root, ICAL_VEVENT_COMPONENT)) {
            std::lock_guard<std::mutex> lock(LibraryLock());
            Event e;
            bool skip = false;
            std::string why, ignored;
            const bool good = ReadEvent(root, c, place, &e, &skip, &why, &ignored);
            if (!ignored.empty() && notes) notes->push_back(Describe(c) + ": ignored: " + ignored);
            // An instance overridden (or cancelled) by its own VEVENT leaves the series either way.
            icalproperty* rid = icalcomponent_get_first_property(c, ICAL_RECURRENCEID_PROPERTY);
            if (rid) {
                icaltimetype t = icalproperty_get_recurrenceid(rid);
                time_t utc = 0;
                if (!t.is_date && RealDate(t) && ZoneOf(root, rid, &t) && ToUtc(t, &utc)) {
                    overridden.emplace_back(Text(icalcomponent_get_uid(c)), utc);
                } else if (!t.is_date || !RealDate(t)) {
                    if (notes) notes->push_back(Describe(c) + ": bad RECURRENCE-ID; skipped");
                    continue;
                }
                e.rules.clear();  // an override is one instance
                e.extra.clear();
            }
            if (!good) {
                if (notes) notes->push_back(Describe(c) + ": " + why + "; skipped");
                continue;
            }
            if (skip) continue;
            series.push_back(rid ? std::string() : Text(icalcomponent_get_uid(c)));
            events->list.push_back(std::move(e));
        }
    }
    for (const auto& o : overridden) {
        for (size_t i = 0; i < events->list.size(); ++i) {
            if (!series[i].empty() && series[i] == o.first) events->list[i].excluded.push_back(o.second);
        }
    }
    for (Event& e : events->list) std::sort(e.excluded.begin(), e.excluded.end());

    std::shared_ptr<IcsCalendar> calendar(new IcsCalendar());
    calendar->events_ = std::move(events);
    size_t sunless = 0;
    calendar->Index(
        from, to, cancel,
        [notes](const std::string& line) {
            if (notes) notes->push_back(line);
        },
        &sunless);
    if (sunless > 0 && notes) {
        notes->push_back(std::to_string(sunless) +
                         " occurrences give no action: the sun does not reach their event's altitude on "
                         "their dates (polar night or midnight sun)");
    }
    return calendar;
}

std::shared_ptr<const IcsCalendar> IcsCalendar::Reindexed(uint64_t from, uint64_t to,
                                                          const std::atomic<bool>* cancel) const {
    std::shared_ptr<IcsCalendar> calendar(new IcsCalendar());
    calendar->events_ = events_;
    calendar->Index(from, to, cancel, events_->later);
    return calendar;
}

bool IcsCalendar::Collect(uint64_t from, uint64_t to, const std::atomic<bool>* cancel, const Note& note,
                          std::vector<Occurrence>* found, size_t* sunless) const {
    auto byTime = [](const Occurrence& a, const Occurrence& b) {
        return a.time < b.time || (a.time == b.time && a.event < b.event);
    };
    bool cut = false;
    auto trim = [&] {
        std::sort(found->begin(), found->end(), byTime);
        if (found->size() > kMaxHeld) found->resize(kMaxHeld), cut = true;
    };
    std::vector<std::pair<time_t, uint64_t>> times;
    const auto deadline = std::chrono::steady_clock::now() + kMaxWindowTime +
                          kMoreTimePerEvent * static_cast<int64_t>(events_->list.size());
    size_t late = 0;
    for (size_t i = 0; i < events_->list.size(); ++i) {
        if (std::chrono::steady_clock::now() > deadline) {
            for (const Rule& rule : events_->list[i].rules) late += !rule.gaveUp->exchange(true);
        }
        if (!Expand(events_->list[i], from, to, cancel, note, &times, sunless)) break;
        for (const auto& t : times) found->push_back(Occurrence{t.second, static_cast<uint32_t>(i)});
        if (found->size() > 2 * kMaxHeld) trim();
    }
    trim();
    if (late && note) {
        note("expanding the calendar took too long; " + std::to_string(late) +
             " recurrence rules not yet expanded are given up");
    }
    if (cut && note) {
        note("more than " + std::to_string(kMaxHeld) + " instances from " + FormatLocalTime(from) + " to " +
             FormatLocalTime(to) + "; those after " + FormatLocalTime(found->back().time) + " are cut");
    }
    return !cut;
}

void IcsCalendar::Index(uint64_t from, uint64_t to, const std::atomic<bool>* cancel, const Note& note,
                        size_t* sunless) {
    from_ = from;
    to_ = to;
    index_.clear();
    wholeTo_ = to;
    if (!Collect(from, to, cancel, note, &index_, sunless) && !index_.empty()) {
        // The last instant kept may have lost some of its actions: the index ends before it, and later
        // requests are expanded for their own window.
        wholeTo_ = index_.back().time - 1;
        while (!index_.empty() && index_.back().time > wholeTo_) index_.pop_back();
    }
}

void IcsCalendar::AppendActions(uint64_t from, uint64_t to, std::string* json) const {
    std::vector<Occurrence> found;
    if (from >= from_ && to <= wholeTo_) {
        auto lo = std::lower_bound(index_.begin(), index_.end(), from,
                                   [](const Occurrence& o, uint64_t t) { return o.time < t; });
        auto hi = std::upper_bound(lo, index_.end(), to,
                                   [](uint64_t t, const Occurrence& o) { return t < o.time; });
        found.assign(lo, hi);
    } else {
        Collect(from, to, nullptr, events_->later, &found, nullptr);
    }
    for (const Occurrence& o : found) {
        if (json->size() > 0 && json->back() == '}') json->push_back(',');
        json->append("{\"date\":\"").append(FormatLocalTime(o.time)).append("\"");
        json->append(events_->list[o.event].members);
    }
}

const std::string& IcsCalendar::name() const {
    return events_->name;
}

size_t IcsCalendar::eventCount() const {
    return events_->list.size();
}

}  // namespace calendar_server
