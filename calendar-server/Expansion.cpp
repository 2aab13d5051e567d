// The one expansion behind every answer of actions: a location's stored one-off actions and its planned
// items (written as a calendar and expanded by the calendar reader, sun times included), or its iCalendar
// source's occurrences; then the closed days and skipped occurrences are marked.
#include <algorithm>

#include "CalendarServer.h"
#include "PlanStore.h"
#include "platform/Clock.h"

using nlohmann::json;

namespace calendar_server {
namespace {

// The days of planned items expanded ahead when their calendar is built (others are expanded on request).
constexpr uint64_t kPlanIndexDays = 31;

// The occurrences a calendar gives for [from, to], as the plug-in would be answered.
bool CalendarActions(const IcsCalendar& calendar, uint64_t from, uint64_t to, json* list) {
    std::string text = "[";
    calendar.AppendActions(from, to, &text);
    try {
        *list = json::parse(text + "]");
    } catch (const std::exception&) {
        return false;
    }
    return list->is_array();
}

}  // namespace

std::shared_ptr<const IcsCalendar> CalendarServer::PlanCalendar(int64_t location, std::string* why) {
    const uint64_t now = platform::LocalInstantNow();
    const uint64_t today = now - now % platform::kTicksPerDay;
    auto kept = planCalendars_.find(location);
    // Rebuilt each day, so the occurrences kept ready follow today.
    if (kept != planCalendars_.end() && kept->second &&
        kept->second->indexedFrom() + platform::kTicksPerDay == today)
        return kept->second;
    std::vector<Plan> plans;
    if (!PlanStore(db_).Plans(location, &plans))
        return *why = "cannot read the database: " + db_.LastError(), nullptr;
    if (plans.empty()) return planCalendars_[location] = nullptr;
    std::optional<Coordinates> place;
    Statement where(
        db_.handle(),
        "SELECT latitude, longitude FROM locations WHERE location_id = ? AND latitude IS NOT NULL "
        "AND longitude IS NOT NULL");
    where.Bind(location);
    if (where.Step()) place = Coordinates{where.Real(0), where.Real(1)};
    std::vector<std::string> notes;
    const std::string prefix = "location " + std::to_string(location) + ": planned items: ";
    auto calendar = IcsCalendar::Parse(
        PlanCalendarText(plans), today - platform::kTicksPerDay,
        today + (kPlanIndexDays + 1) * platform::kTicksPerDay - 1, &notes, why,
        [this, prefix](const std::string& line) { Note(prefix + line); }, nullptr, place ? &*place : nullptr);
    for (const std::string& n : notes) Note(prefix + n);
    if (!calendar) return *why = "cannot expand the planned items: " + *why, nullptr;
    return planCalendars_[location] = calendar;
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
            auto calendar = PlanCalendar(location, why);
            if (!calendar && !why->empty()) return 500;
            std::vector<Plan> plans;
            json list;
            if (calendar && (!store.Plans(location, &plans) || !CalendarActions(*calendar, from, to, &list)))
                return *why = "cannot expand the planned items", 500;
            for (const json& a : list) {
                const int64_t id = PlanOfSummary(a.value("name", std::string()));
                auto plan =
                    std::find_if(plans.begin(), plans.end(), [&](const Plan& p) { return p.id == id; });
                uint64_t time = 0;
                if (plan == plans.end() || !ParseLocalTime(a.value("date", std::string()), &time, nullptr))
                    continue;
                Occurrence o;
                o.time = time;
                o.action = json{{"name", plan->name},
                                {"macro", plan->macro},
                                {"macro_action", plan->macroAction},
                                {"macro_data", plan->macroData}};
                o.source = "database";
                o.plan = id;
                o.sun = plan->SunMarker();
                o.skipped = std::binary_search(plan->skips.begin(), plan->skips.end(),
                                               FormatLocalTime(time).substr(0, 10));
                found->push_back(std::move(o));
            }
            std::stable_sort(found->begin(), found->end(),
                             [](const Occurrence& x, const Occurrence& y) { return x.time < y.time; });
        }
    }
    if (source) {
        // A calendar's occurrences are worked out without holding the database.
        auto calendar = source->Current();
        if (!calendar) return *why = "the calendar of this location has not been read yet", 503;
        if (to > calendar->indexedTo()) source->Requested(to);
        json list;
        if (!CalendarActions(*calendar, from, to, &list)) return *why = "cannot expand the calendar", 500;
        for (json& a : list) {
            Occurrence o;
            if (!ParseLocalTime(a.value("date", std::string()), &o.time, nullptr)) continue;
            a.erase("date");
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
