// The one expansion behind every answer of actions: a location's stored one-off actions and its planned
// items (written as a calendar and expanded by the calendar reader, sun times included), or its iCalendar
// source's occurrences; then the closed days and skipped occurrences are marked. Calendars are expanded
// without holding the database, so that a long window never holds up the other requests.
#include <algorithm>
#include <map>
#include <optional>

#include "CalendarServer.h"
#include "PlanStore.h"
#include "platform/Clock.h"

using nlohmann::json;

namespace calendar_server {
namespace {

// The days of planned items expanded ahead when their calendar is built (others are expanded on request).
constexpr uint64_t kPlanIndexDays = 31;

const char* const kTooBusy =
    "the server is too busy to expand this calendar for that window; ask again later";

// The occurrences a calendar gives for [from, to], as the plug-in would be answered: 0, or the status that
// refuses the window (503 when its expansion was cut by time: a client keeps what it read before).
int CalendarActions(const IcsCalendar& calendar, uint64_t from, uint64_t to, json* list, bool sunMarkers,
                    std::string* why) {
    std::string text = "[";
    if (!calendar.AppendActions(from, to, &text, sunMarkers)) return *why = kTooBusy, 503;
    try {
        *list = json::parse(text + "]");
    } catch (const std::exception&) {
        return *why = "cannot expand the calendar", 500;
    }
    return list->is_array() ? 0 : (*why = "cannot expand the calendar", 500);
}

}  // namespace

struct CalendarServer::PlanIndex {
    uint64_t today = 0;                           // the day it was built on
    std::shared_ptr<const IcsCalendar> calendar;  // null when nothing is planned
    std::map<int64_t, Plan> plans;                // by id
};

std::shared_ptr<const CalendarServer::PlanIndex> CalendarServer::BuildPlanIndex(
    int64_t location, uint64_t today, std::vector<Plan> plans, const Coordinates* place, std::string* why) {
    auto index = std::make_shared<PlanIndex>();
    index->today = today;
    if (plans.empty()) return index;
    std::vector<std::string> notes;
    const std::string prefix = "location " + std::to_string(location) + ": planned items: ";
    index->calendar = IcsCalendar::Parse(
        PlanCalendarText(plans), today - platform::kTicksPerDay,
        today + (kPlanIndexDays + 1) * platform::kTicksPerDay - 1, &notes, why,
        [this, prefix](const std::string& line) { Note(prefix + line); }, nullptr, place);
    for (const std::string& n : notes) Note(prefix + n);
    if (!index->calendar) return *why = "cannot expand the planned items: " + *why, nullptr;
    for (Plan& p : plans) index->plans.emplace(p.id, std::move(p));
    return index;
}

bool CalendarServer::ClosedWithin(int64_t location, uint64_t from, uint64_t to) {
    Statement any(db_.handle(),
                  "SELECT 1 FROM closed_days WHERE location_id = ? AND start <= ? AND end >= ?");
    any.Bind(location).Bind(FormatLocalTime(to).substr(0, 10)).Bind(FormatLocalTime(from).substr(0, 10));
    return any.Step();
}

int CalendarServer::Expand(int64_t location, uint64_t from, uint64_t to, std::vector<Occurrence>* found,
                           std::string* why) {
    found->clear();
    std::vector<ClosedDays> closed;
    IcsSource* source = nullptr;
    std::shared_ptr<const PlanIndex> planned;
    bool build = false;
    std::vector<Plan> plans;
    std::optional<Coordinates> place;
    uint64_t writes = 0;
    const uint64_t now = platform::LocalInstantNow();
    const uint64_t today = now - now % platform::kTicksPerDay;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        if (!KnownLocation(location)) return *why = "no such location", 404;
        PlanStore store(db_);
        if (!store.Closed(location, &closed))
            return *why = "cannot read the database: " + db_.LastError(), 500;
        auto calendarSource = sources_.find(location);
        if (calendarSource != sources_.end()) {
            source = calendarSource->second.get();
        } else {
            Statement select(db_.handle(),
                             "SELECT name, macro, time, macro_action, macro_data FROM actions "
                             "WHERE location_id = ? AND time BETWEEN ? AND ? ORDER BY time, rowid");
            select.Bind(location).Bind(static_cast<int64_t>(from)).Bind(static_cast<int64_t>(to));
            while (select.Step()) {
                Occurrence o;
                o.time = static_cast<uint64_t>(select.Int(2));
                o.action = json{{"name", select.Text(0)},
                                {"macro", select.Text(1)},
                                {"macro_action", select.Int(3)},
                                {"macro_data", select.Text(4)}};
                o.source = "database";
                found->push_back(std::move(o));
            }
            if (!select.Done()) return *why = "cannot read the database: " + db_.LastError(), 500;
            // The kept plan, or its rows to build it from once the database is let go.
            auto kept = planIndexes_.find(location);
            if (kept != planIndexes_.end() && kept->second->today == today) {
                planned = kept->second;
            } else {
                if (!store.Plans(location, &plans))
                    return *why = "cannot read the database: " + db_.LastError(), 500;
                Statement where(
                    db_.handle(),
                    "SELECT latitude, longitude FROM locations WHERE location_id = ? AND latitude "
                    "IS NOT NULL AND longitude IS NOT NULL");
                where.Bind(location);
                if (where.Step()) place = Coordinates{where.Real(0), where.Real(1)};
                writes = planWrites_[location];
                build = true;
            }
        }
    }
    if (build) {
        planned = BuildPlanIndex(location, today, std::move(plans), place ? &*place : nullptr, why);
        if (!planned) return 500;
        // Kept only when no write came in meanwhile: it was built from the rows before that write.
        std::lock_guard<std::mutex> lock(mutex_);
        if (planWrites_[location] == writes) planIndexes_[location] = planned;
    }
    if (planned && planned->calendar) {
        json list;
        if (const int status = CalendarActions(*planned->calendar, from, to, &list, false, why))
            return status;
        for (const json& a : list) {
            const int64_t id = PlanOfSummary(a.value("name", std::string()));
            auto plan = planned->plans.find(id);
            uint64_t time = 0;
            if (plan == planned->plans.end() ||
                !ParseLocalTime(a.value("date", std::string()), &time, nullptr))
                continue;
            const Plan& p = plan->second;
            Occurrence o;
            o.time = time;
            o.action = json{{"name", p.name},
                            {"macro", p.macro},
                            {"macro_action", p.macroAction},
                            {"macro_data", p.macroData}};
            o.source = "database";
            o.plan = id;
            o.sun = p.SunMarker();
            o.skipped =
                std::binary_search(p.skips.begin(), p.skips.end(), FormatLocalTime(time).substr(0, 10));
            found->push_back(std::move(o));
        }
        std::stable_sort(found->begin(), found->end(),
                         [](const Occurrence& x, const Occurrence& y) { return x.time < y.time; });
    }
    if (source) {
        // A calendar's occurrences are worked out without holding the database.
        auto calendar = source->Current();
        if (!calendar) return *why = "the calendar of this location has not been read yet", 503;
        if (to > calendar->indexedTo()) source->Requested(to);
        json list;
        if (const int status = CalendarActions(*calendar, from, to, &list, true, why)) return status;
        for (json& a : list) {
            Occurrence o;
            if (!ParseLocalTime(a.value("date", std::string()), &o.time, nullptr)) continue;
            a.erase("date");
            if (a.contains("sun")) {
                o.sun = a["sun"].get<std::string>();
                a.erase("sun");
            }
            o.action = std::move(a);
            o.source = source->source();
            found->push_back(std::move(o));
        }
    }
    for (Occurrence& o : *found) {
        const std::string day = FormatLocalTime(o.time).substr(0, 10);
        for (const ClosedDays& c : closed) {
            if (c.start <= day && day <= c.end) {
                o.closed = c.label;
                break;
            }
        }
    }
    return 0;
}

}  // namespace calendar_server
