#include "server/MCalendarRESTClient.h"

#include <cmath>
#include <cwchar>
#include <cwctype>
#include <limits>
#include <memory>
#include <stdexcept>
#include <nlohmann/json.hpp>

#include "calendar/MCalendarEnumVariable.h"
#include "calendar/MCalendarEvent.h"
#include "calendar/MCalendarStore.h"
#include "platform/Clock.h"
#include "server/MHttpClient.h"

using nlohmann::json;

namespace {

const wchar_t kAgent[] = L"WinHttpClient";
const wchar_t kJsonHeader[] = L"Content_Type: application/json";

// ---- Lenient reading of answers -------------------------------------------------------------------------

// A JSON number (or true / false) as a signed 32-bit integer. Integers keep their low 32 bits; fractions are
// cut toward zero, and values that no 32-bit integer can hold become the platform's "indefinite" integer.
int32_t ToInt32(const json& value) {
    switch (value.type()) {
        case json::value_t::number_integer:
            return static_cast<int32_t>(static_cast<uint32_t>(value.get<int64_t>()));
        case json::value_t::number_unsigned:
            return static_cast<int32_t>(static_cast<uint32_t>(value.get<uint64_t>()));
        case json::value_t::number_float: {
            const double d = value.get<double>();
            if (!std::isfinite(d) || d <= -2147483649.0 || d >= 2147483648.0) {
                return std::numeric_limits<int32_t>::min();
            }
            return static_cast<int32_t>(d);
        }
        case json::value_t::boolean:
            return value.get<bool>() ? 1 : 0;
        default:
            throw std::invalid_argument("not a number");
    }
}

// Each field is read in its own guard: a missing key, a value of another type or an element that is not an
// object leaves the field at its default.
void ReadInt(const json& element, const char* key, int32_t& field) {
    try {
        field = ToInt32(element.at(key));
    } catch (const std::exception&) {
    }
}

void ReadText(const json& element, const char* key, std::string& field) {
    try {
        field = element.at(key).get<std::string>();
    } catch (const std::exception&) {
    }
}

// Parses the body and calls `each` for every element under `key`: the items of an array, the values of an
// object, nothing for null, the value itself for any other scalar. A null root has no members; a root of
// any other non-object type is a type error.
template <class Each>
void ForEachElement(const std::string& body, const char* key, Each each) {
    const json root = json::parse(body, nullptr, true, false);
    if (root.is_null()) return;
    if (!root.is_object()) throw std::invalid_argument("answer is not an object");
    const auto it = root.find(key);
    if (it == root.end() || it->is_null()) return;
    if (it->is_array() || it->is_object()) {
        for (const json& element : *it) each(element);
    } else {
        each(*it);
    }
}

// The store receives a list only once it is complete; until then the list and its records belong here.
struct EventListOwner {
    std::unique_ptr<CalendarEventList> list{new CalendarEventList()};
};
struct LocationListOwner {
    std::unique_ptr<CalendarLocationList> list{new CalendarLocationList()};
};
struct VariableListOwner {
    std::unique_ptr<CalendarVariableList> list{new CalendarVariableList()};
    ~VariableListOwner() {
        if (list) list->DeleteAll();  // this list kind does not delete its records by itself
    }
};

void ReadLocations(const std::string& body, MCalendarStore* store) {
    LocationListOwner owner;
    ForEachElement(body, "locations", [&](const json& element) {
        std::unique_ptr<MCalendarLocation> location(new MCalendarLocation());
        ReadInt(element, "location_id", location->location_id);
        ReadText(element, "comment", location->comment);
        ReadText(element, "name", location->name);
        owner.list->Add(location.get());
        location.release();
    });
    store->SetLocations(owner.list.release());
}

void ReadActions(const std::string& body, MCalendarStore* store) {
    EventListOwner owner;
    ForEachElement(body, "calendaractions", [&](const json& element) {
        std::unique_ptr<MCalendarEvent> event(new MCalendarEvent());
        ReadText(element, "name", event->name);
        ReadText(element, "macro", event->macro);
        try {
            const std::string date = element.at("date").get<std::string>();
            if (!date.empty()) ParseEventTime(date.c_str(), event.get());
        } catch (const std::exception&) {
        }
        ReadInt(element, "macro_action", event->macro_action);
        ReadText(element, "macro_data", event->macro_data);
        owner.list->Add(event.get());
        event.release();
    });
    EventCompare compare;
    owner.list->Sort(&compare, 0);
    store->SetEvents(owner.list.release());
}

void ReadVariables(const std::string& body, int locationId, MCalendarStore* store) {
    VariableListOwner owner;
    ForEachElement(body, "variables", [&](const json& element) {
        int32_t varType = 0;
        std::string varData;
        ReadInt(element, "var_type", varType);
        ReadText(element, "var_data", varData);
        std::unique_ptr<MCalendarVariable> variable;
        if (varType == MCalendarVariable::kEnumType) {
            std::unique_ptr<MCalendarEnumVariable> enumerated(new MCalendarEnumVariable());
            enumerated->AppendItemsFromText(varData.c_str());
            variable = std::move(enumerated);
        } else {
            variable.reset(new MCalendarVariable());
        }
        variable->var_type = varType;
        ReadInt(element, "variable_id", variable->variable_id);
        ReadText(element, "name", variable->name);
        variable->location_id = locationId;
        owner.list->push_back(variable.get());
        variable.release();
    });
    store->SetVariables(owner.list.release());
}

// ---- Requests -------------------------------------------------------------------------------------------

// The path of a request, formatted as the server expects it, at most 199 characters.
template <class... Args>
std::wstring Format(const wchar_t* pattern, Args... args) {
    wchar_t buffer[200];
    const int n = std::swprintf(buffer, sizeof buffer / sizeof buffer[0], pattern, args...);
    return n < 0 ? std::wstring() : std::wstring(buffer, static_cast<size_t>(n));
}

// "Standard wide-text to long conversion" as the platform has it: base 10, leading blanks and a sign
// accepted, reading stops at the first non-digit, 0 without digits, and a 32-bit long that saturates.
int32_t ParsePort(const wchar_t* text) {
    const wchar_t* p = text;
    while (std::iswspace(static_cast<wint_t>(*p))) ++p;
    bool negative = false;
    if (*p == L'+' || *p == L'-') negative = *p++ == L'-';
    int64_t value = 0;
    for (; *p >= L'0' && *p <= L'9'; ++p) {
        value = value * 10 + (*p - L'0');
        if (value > 2147483648LL) value = 2147483648LL;  // enough to saturate either way
    }
    if (negative) return value >= 2147483648LL ? std::numeric_limits<int32_t>::min() : static_cast<int32_t>(-value);
    return value >= 2147483648LL ? std::numeric_limits<int32_t>::max() : static_cast<int32_t>(value);
}

}  // namespace

// One exchange with the server address as it stands when the request begins.
class MCalendarRESTClient::Exchange {
public:
    explicit Exchange(MCalendarRESTClient& owner)
        : client_(owner.GetHost(), owner.GetPort(), false, kAgent, L"", L"", L"", L"") {
        client_.SetBackend(owner.backend_.load());
    }
    MHttpClient& client() { return client_; }
    MHttpResponse response;

private:
    MHttpClient client_;
};

MCalendarRESTClient::MCalendarRESTClient(MCalendarStore* store) : host_(L"127.0.0.1"), store_(store) {}

MCalendarRESTClient::~MCalendarRESTClient() = default;

void MCalendarRESTClient::SetServerURL(const std::wstring& url) {
    platform::MLock lock(lock_);
    std::wstring rest = url.compare(0, 7, L"http://") == 0 ? url.substr(7) : url;
    port_ = kDefaultPort;
    const size_t colon = rest.find(L':');
    if (colon == std::wstring::npos) {
        host_ = rest;
        return;
    }
    host_ = rest.substr(0, colon);
    if (colon + 1 < rest.size()) port_ = ParsePort(rest.c_str() + colon + 1);
}

// Requests read the address under the lock too: a copy torn by a concurrent SetServerURL would be garbage.
std::wstring MCalendarRESTClient::GetHost() {
    platform::MLock lock(lock_);
    return host_;
}

int32_t MCalendarRESTClient::GetPort() {
    platform::MLock lock(lock_);
    return port_;
}

void MCalendarRESTClient::SetBackend(platform::IHttpBackend* backend) { backend_ = backend; }

bool MCalendarRESTClient::TestConnection() { return RefreshLocations(); }

bool MCalendarRESTClient::RefreshLocations() {
    try {
        Exchange x(*this);
        if (!x.client().HttpGet(L"/apiv1/location", L"", x.response)) return false;
        try {
            if (store_) ReadLocations(x.response.body, store_);
        } catch (const std::exception&) {
            // An unreadable answer leaves the store's list as it was; the exchange itself completed.
        }
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool MCalendarRESTClient::RefreshVariables(int locationId) {
    bool ok = false;
    try {
        Exchange x(*this);
        ok = x.client().HttpGet(Format(L"/apiv1/variable?locationid=%d", locationId), L"", x.response);
        if (ok && store_) ReadVariables(x.response.body, locationId, store_);
    } catch (...) {
    }
    return ok;
}

std::wstring MCalendarRESTClient::ActionsPath(int locationId, int lookaheadDays, uint64_t localInstant) {
    platform::CalendarTime today;
    platform::InstantToCalendar(localInstant, &today);
    if (lookaheadDays <= 1) {
        return Format(L"/apiv1/calendar/%d/actions?date=%04d-%02d-%02d", locationId, today.year, today.month,
                      today.day);
    }
    // A lookahead beyond the calendar's last day ends on that day rather than wrapping around.
    platform::CalendarTime last;
    last.year = 30827;
    last.month = 12;
    last.day = 31;
    uint64_t lastInstant = 0;
    platform::CalendarToInstant(last, &lastInstant);
    const uint64_t span = static_cast<uint64_t>(lookaheadDays) * platform::kTicksPerDay;
    const uint64_t endInstant = span > lastInstant - std::min(localInstant, lastInstant) ? lastInstant
                                                                                           : localInstant + span;
    platform::CalendarTime end;
    platform::InstantToCalendar(endInstant, &end);
    return Format(L"/apiv1/calendar/%d/actions?start=%04d-%02d-%02dT00:00:00&end=%04d-%02d-%02dT23:59:59",
                  locationId, today.year, today.month, today.day, end.year, end.month, end.day);
}

void MCalendarRESTClient::RefreshActions(int locationId, int lookaheadDays) {
    try {
        Exchange x(*this);
        const std::wstring path = ActionsPath(locationId, lookaheadDays, platform::LocalInstantNow());
        if (x.client().HttpGet(path, L"", x.response) && store_) ReadActions(x.response.body, store_);
    } catch (...) {
    }
}

bool MCalendarRESTClient::CreateVariable(int locationId, MCalendarVariable* variable) {
    return SendVariable(true, locationId, variable);
}

bool MCalendarRESTClient::UpdateVariable(int locationId, MCalendarVariable* variable) {
    return SendVariable(false, locationId, variable);
}

bool MCalendarRESTClient::SendVariable(bool create, int locationId, MCalendarVariable* variable) {
    if (!variable) return false;
    try {
        json object;
        if (!variable->ToJson(object)) return false;
        object["location_id"] = locationId;
        // Compact, members in key order, text as UTF-8; a name that is not UTF-8 fails here.
        const std::string body = object.dump();
        Exchange x(*this);
        return create ? x.client().HttpPost(L"/apiv1/variable", kJsonHeader, body, x.response)
                      : x.client().HttpPut(L"/apiv1/variable", kJsonHeader, body, x.response);
    } catch (const std::exception&) {
        return false;
    }
}

bool MCalendarRESTClient::DeleteVariable(int, int variableId) {
    try {
        Exchange x(*this);
        const std::wstring path = L"/apiv1/variable" + Format(L"/%d", variableId);
        return x.client().HttpDelete(path, L"", std::string(), x.response);
    } catch (const std::exception&) {
        return false;
    }
}
