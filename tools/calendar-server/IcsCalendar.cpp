#include "IcsCalendar.h"

#include <libical/ical.h>

#include <algorithm>
#include <cctype>
#include <ctime>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>

#include "CalendarServer.h"
#include "SunTimes.h"
#include "platform/Clock.h"

namespace calendar_server {
namespace {

// The calendar library keeps shared state (loaded zones, their cached transitions), so every use of it
// goes through one lock, taken per event so that no request waits long for a calendar being read.
std::mutex& LibraryLock() {
    static std::mutex lock;
    return lock;
}

void QuietLibrary() {
    // Its default is to abort on malformed input.
    static std::once_flag once;
    std::call_once(once, [] { icalerror_set_errors_are_fatal(0); });
}

// An expansion window of one event never takes more steps than this, whatever its rule says.
constexpr int kMaxSteps = 200000;
// Zones differ from the local one by less than this, so a window widened by it holds every candidate.
constexpr uint64_t kZoneSlack = 2 * platform::kTicksPerDay;

struct Event {
    // The action's members after "date", as JSON text: a day's answer may hold thousands of them.
    std::string members;
    icaltimetype start;  // wall time in its zone (null zone: floating)
    time_t startUtc = 0;
    std::vector<icalrecurrencetype> rules;
    std::vector<time_t> extra;     // RDATE
    std::vector<time_t> excluded;  // EXDATE and overridden instances, sorted
    std::optional<SunPlan> sun;    // its time follows the sun on each occurrence's date
};

// Seconds since 1970 (UTC) of a wall time in its zone; floating times are the server's local time.
bool ToUtc(const icaltimetype& t, time_t* out) {
    if (t.zone) {
        *out = icaltime_as_timet_with_zone(t, t.zone);
        return true;
    }
    std::tm tm{};
    tm.tm_year = t.year - 1900;
    tm.tm_mon = t.month - 1;
    tm.tm_mday = t.day;
    tm.tm_hour = t.hour;
    tm.tm_min = t.minute;
    tm.tm_sec = t.second;
    tm.tm_isdst = -1;
    *out = std::mktime(&tm);
    return *out != static_cast<time_t>(-1) || (tm.tm_year == 69 && tm.tm_mon == 11 && tm.tm_mday == 31);
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

icaltimetype WallTime(uint64_t instant, const icaltimezone* zone) {
    platform::CalendarTime c;
    platform::InstantToCalendar(instant, &c);
    icaltimetype t = icaltime_null_time();
    t.year = c.year, t.month = c.month, t.day = c.day, t.hour = c.hour, t.minute = c.minute,
    t.second = c.second;
    t.zone = zone;
    return t;
}

std::string Text(const char* text) {
    return text ? text : "";
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
// rightly not an action (all-day, cancelled).
bool ReadEvent(icalcomponent* root, icalcomponent* c, const Coordinates* place, Event* e, bool* skip,
               std::string* why) {
    *skip = false;
    if (icalproperty* error = icalcomponent_get_first_property(c, ICAL_XLICERROR_PROPERTY)) {
        return *why = Text(icalproperty_get_xlicerror(error)), false;
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

    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_RRULE_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_RRULE_PROPERTY)) {
        const icalrecurrencetype rule = icalproperty_get_rrule(p);
        if (rule.freq == ICAL_NO_RECURRENCE) return *why = "bad recurrence rule", false;
        e->rules.push_back(rule);
    }
    // Extra and excluded dates without a zone of their own are in the event's.
    auto readTime = [&](icalproperty* p, icaltimetype t, std::vector<time_t>* into) -> bool {
        if (!RealDate(t)) return false;
        if (t.is_date) return true;  // an all-day date names no instant
        if (!icaltime_is_utc(t)) t.zone = e->start.zone;
        time_t utc = 0;
        if (!ZoneOf(root, p, &t) || !ToUtc(t, &utc)) return false;
        into->push_back(utc);
        return true;
    };
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_RDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_RDATE_PROPERTY)) {
        const icaldatetimeperiodtype rdate = icalproperty_get_rdate(p);
        const icaltimetype t = icaltime_is_null_time(rdate.time) ? rdate.period.start : rdate.time;
        if (!readTime(p, t, &e->extra)) return *why = "bad RDATE", false;
    }
    for (icalproperty* p = icalcomponent_get_first_property(c, ICAL_EXDATE_PROPERTY); p;
         p = icalcomponent_get_next_property(c, ICAL_EXDATE_PROPERTY)) {
        if (!readTime(p, icalproperty_get_exdate(p), &e->excluded)) return *why = "bad EXDATE", false;
    }
    return true;
}

// The clock-time occurrences of one event whose local start lies in [from, to].
void ExpandClock(const Event& e, uint64_t from, uint64_t to, std::vector<uint64_t>* out) {
    const size_t first = out->size();
    auto add = [&](time_t utc) {
        uint64_t local = 0;
        if (std::binary_search(e.excluded.begin(), e.excluded.end(), utc)) return;
        if (ToLocal(utc, &local) && local >= from && local <= to) out->push_back(local);
    };
    add(e.startUtc);
    for (time_t t : e.extra) add(t);
    if (!e.rules.empty()) {
        const icaltimetype low = WallTime(from > kZoneSlack ? from - kZoneSlack : 0, e.start.zone);
        const icaltimetype high = WallTime(to + kZoneSlack, e.start.zone);
        for (const icalrecurrencetype& rule : e.rules) {
            if (!icaltime_is_null_time(rule.until) && icaltime_compare(rule.until, low) < 0) continue;
            icalrecur_iterator* it = icalrecur_iterator_new(rule, e.start);
            if (!it) continue;
            // A rule with a count must be counted from its start; any other can begin at the window.
            if (rule.count == 0 && icaltime_compare(low, e.start) > 0) icalrecur_iterator_set_start(it, low);
            for (int step = 0; step < kMaxSteps; ++step) {
                const icaltimetype t = icalrecur_iterator_next(it);
                if (icaltime_is_null_time(t) || icaltime_compare(t, high) > 0) break;
                time_t utc = 0;
                if (icaltime_compare(t, low) >= 0 && ToUtc(t, &utc)) add(utc);
            }
            icalrecur_iterator_free(it);
        }
    }
    std::sort(out->begin() + static_cast<std::ptrdiff_t>(first), out->end());
    out->erase(std::unique(out->begin() + static_cast<std::ptrdiff_t>(first), out->end()), out->end());
}

// The occurrences of one event in [from, to]; a sun event's dates come from a window wide enough to hold
// every date whose sun time falls inside. *sunless counts its dates without the sun event.
void Expand(const Event& e, uint64_t from, uint64_t to, std::vector<uint64_t>* out,
            size_t* sunless = nullptr) {
    if (!e.sun) return ExpandClock(e, from, to, out);
    const uint64_t reach = SunReach(*e.sun);
    std::vector<uint64_t> clock;
    ExpandClock(e, from > reach ? from - reach : 0, to + reach, &clock);
    FollowSun(*e.sun, clock, from, to, out, sunless);
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

}  // namespace

struct IcsCalendar::Events {
    ~Events() {
        std::lock_guard<std::mutex> lock(LibraryLock());
        if (root) icalcomponent_free(root);
    }
    icalcomponent* root = nullptr;  // owns the zones the events point to
    std::string name;
    std::vector<Event> list;
};

IcsCalendar::~IcsCalendar() = default;

std::shared_ptr<const IcsCalendar> IcsCalendar::Parse(const std::string& text, uint64_t from, uint64_t to,
                                                      std::vector<std::string>* notes, std::string* error,
                                                      const Coordinates* place) {
    QuietLibrary();
    if (!EndsWhole(text)) return *error = "not a whole calendar (no END:VCALENDAR at its end)", nullptr;
    auto events = std::make_shared<Events>();
    {
        std::lock_guard<std::mutex> lock(LibraryLock());
        events->root = icalparser_parse_string(text.c_str());
    }
    if (!events->root || icalcomponent_isa(events->root) != ICAL_VCALENDAR_COMPONENT) {
        return *error = "not an iCalendar VCALENDAR", nullptr;
    }
    icalcomponent* root = events->root;
    std::vector<std::pair<std::string, time_t>> overridden;  // UID, instant
    std::vector<std::string> series;                         // per kept event: its UID, empty for an override
    {
        std::lock_guard<std::mutex> lock(LibraryLock());
        for (icalproperty* p = icalcomponent_get_first_property(root, ICAL_X_PROPERTY); p;
             p = icalcomponent_get_next_property(root, ICAL_X_PROPERTY)) {
            if (Text(icalproperty_get_x_name(p)) == "X-WR-CALNAME")
                events->name = Text(icalproperty_get_x(p));
        }
    }
    for (icalcomponent* c = icalcomponent_get_first_component(root, ICAL_VEVENT_COMPONENT); c;
         c = icalcomponent_get_next_component(root, ICAL_VEVENT_COMPONENT)) {
        std::lock_guard<std::mutex> lock(LibraryLock());
        Event e;
        bool skip = false;
        std::string why;
        const bool good = ReadEvent(root, c, place, &e, &skip, &why);
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
    for (const auto& o : overridden) {
        for (size_t i = 0; i < events->list.size(); ++i) {
            if (!series[i].empty() && series[i] == o.first) events->list[i].excluded.push_back(o.second);
        }
    }
    for (Event& e : events->list) std::sort(e.excluded.begin(), e.excluded.end());

    std::shared_ptr<IcsCalendar> calendar(new IcsCalendar());
    calendar->events_ = std::move(events);
    const size_t sunless = calendar->Index(from, to);
    if (sunless > 0 && notes) {
        notes->push_back(std::to_string(sunless) +
                         " occurrences give no action: the sun does not reach their event's altitude on "
                         "their dates (polar night or midnight sun)");
    }
    return calendar;
}

std::shared_ptr<const IcsCalendar> IcsCalendar::Reindexed(uint64_t from, uint64_t to) const {
    std::shared_ptr<IcsCalendar> calendar(new IcsCalendar());
    calendar->events_ = events_;
    calendar->Index(from, to);
    return calendar;
}

size_t IcsCalendar::Index(uint64_t from, uint64_t to) {
    from_ = from;
    to_ = to;
    index_.clear();
    size_t sunless = 0;
    std::vector<uint64_t> times;
    for (size_t i = 0; i < events_->list.size(); ++i) {
        times.clear();
        {
            std::lock_guard<std::mutex> lock(LibraryLock());
            Expand(events_->list[i], from, to, &times, &sunless);
        }
        for (uint64_t t : times) index_.push_back(Occurrence{t, static_cast<uint32_t>(i)});
    }
    std::stable_sort(index_.begin(), index_.end(),
                     [](const Occurrence& a, const Occurrence& b) { return a.time < b.time; });
    return sunless;
}

void IcsCalendar::AppendActions(uint64_t from, uint64_t to, std::string* json) const {
    std::vector<Occurrence> found;
    if (from >= from_ && to <= to_) {
        auto lo = std::lower_bound(index_.begin(), index_.end(), from,
                                   [](const Occurrence& o, uint64_t t) { return o.time < t; });
        auto hi = std::upper_bound(lo, index_.end(), to,
                                   [](uint64_t t, const Occurrence& o) { return t < o.time; });
        found.assign(lo, hi);
    } else {
        std::vector<uint64_t> times;
        for (size_t i = 0; i < events_->list.size(); ++i) {
            times.clear();
            {
                std::lock_guard<std::mutex> lock(LibraryLock());
                Expand(events_->list[i], from, to, &times);
            }
            for (uint64_t t : times) found.push_back(Occurrence{t, static_cast<uint32_t>(i)});
        }
        std::stable_sort(found.begin(), found.end(),
                         [](const Occurrence& a, const Occurrence& b) { return a.time < b.time; });
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
