#include "server/MCalendarRESTClient.h"

#include <algorithm>
#include <cwchar>
#include <cwctype>
#include <limits>
#include <memory>
#include <nlohmann/json.hpp>

#include "calendar/MCalendarEnumVariable.h"
#include "calendar/MCalendarEvent.h"
#include "calendar/MCalendarStore.h"
#include "platform/Clock.h"
#include "server/AnswerReader.h"
#include "server/MHttpClient.h"

using nlohmann::json;

namespace {

const wchar_t kAgent[] = L"WinHttpClient";
const wchar_t kJsonHeader[] = L"Content_Type: application/json";

// The store receives a list only once it is complete; until then the list and its records belong here.
struct VariableListOwner {
    std::unique_ptr<CalendarVariableList> list{new CalendarVariableList()};
    ~VariableListOwner() {
        if (list) list->DeleteAll();  // this list kind does not delete its records by itself
    }
};

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
    if (negative)
        return value >= 2147483648LL ? std::numeric_limits<int32_t>::min() : static_cast<int32_t>(-value);
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

    // The server took the request: the exchange completed with a 2xx status. An error answer's body
    // (often JSON itself) is never read as the list asked for.
    bool Accepted(bool exchanged, uint32_t* status) const {
        if (status) *status = response.status;
        return exchanged && IsSuccessStatus(response.status);
    }
    bool Get(const std::wstring& path, uint32_t* status = nullptr) {
        return Accepted(client_.HttpGet(path, L"", response), status);
    }

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

void MCalendarRESTClient::SetBackend(platform::IHttpBackend* backend) {
    backend_ = backend;
}

bool MCalendarRESTClient::TestConnection() {
    return RefreshLocations();
}

bool MCalendarRESTClient::RefreshLocations() {
    try {
        Exchange x(*this);
        if (!x.Get(L"/apiv1/location")) return false;
        std::unique_ptr<CalendarLocationList> list(new CalendarLocationList());
        if (!store_ || !ReadLocationsAnswer(x.response.body, list.get())) return false;
        store_->SetLocations(list.release());
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool MCalendarRESTClient::RefreshVariables(int locationId, uint32_t* status) {
    if (status) *status = 0;
    try {
        Exchange x(*this);
        if (!x.Get(Format(L"/apiv1/variable?locationid=%d", locationId), status)) return false;
        VariableListOwner owner;
        if (!store_ || !ReadVariablesAnswer(x.response.body, locationId, owner.list.get())) return false;
        store_->SetVariables(owner.list.release());
        return true;
    } catch (...) {
        return false;
    }
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
    const uint64_t span =
        static_cast<uint64_t>(std::min(lookaheadDays, kMaxLookaheadDays)) * platform::kTicksPerDay;
    const uint64_t endInstant =
        span > lastInstant - std::min(localInstant, lastInstant) ? lastInstant : localInstant + span;
    platform::CalendarTime end;
    platform::InstantToCalendar(endInstant, &end);
    return Format(L"/apiv1/calendar/%d/actions?start=%04d-%02d-%02dT00:00:00&end=%04d-%02d-%02dT23:59:59",
                  locationId, today.year, today.month, today.day, end.year, end.month, end.day);
}

void MCalendarRESTClient::RefreshActions(int locationId, int lookaheadDays) {
    std::unique_ptr<CalendarEventList> list;
    if (store_ && FetchActions(locationId, lookaheadDays, &list)) store_->SetEvents(list.release());
}

bool MCalendarRESTClient::FetchActions(int locationId, int lookaheadDays,
                                       std::unique_ptr<CalendarEventList>* out) {
    try {
        Exchange x(*this);
        const std::wstring path = ActionsPath(locationId, lookaheadDays, platform::LocalInstantNow());
        if (!out || !x.Get(path)) return false;
        std::unique_ptr<CalendarEventList> list(new CalendarEventList());
        if (!ReadActionsAnswer(x.response.body, list.get())) return false;
        EventCompare compare;
        list->Sort(&compare, 0);
        *out = std::move(list);
        return true;
    } catch (...) {
        return false;
    }
}

bool MCalendarRESTClient::CreateVariable(int locationId, MCalendarVariable* variable, uint32_t* status) {
    return SendVariable(true, locationId, variable, status);
}

bool MCalendarRESTClient::UpdateVariable(int locationId, MCalendarVariable* variable, uint32_t* status) {
    return SendVariable(false, locationId, variable, status);
}

bool MCalendarRESTClient::VariableBody(const MCalendarVariable* variable, int locationId, std::string* body) {
    if (!variable) return false;
    try {
        json object;
        if (!variable->ToJson(object)) return false;
        object["location_id"] = locationId;
        // Compact, members in key order, text as UTF-8; a name that is not UTF-8 fails here.
        *body = object.dump();
        return true;
    } catch (const std::exception&) {
        return false;
    }
}

bool MCalendarRESTClient::SendVariable(bool create, int locationId, MCalendarVariable* variable,
                                       uint32_t* status) {
    if (status) *status = 0;
    std::string body;
    if (!VariableBody(variable, locationId, &body)) return false;
    try {
        Exchange x(*this);
        return x.Accepted(create ? x.client().HttpPost(L"/apiv1/variable", kJsonHeader, body, x.response)
                                 : x.client().HttpPut(L"/apiv1/variable", kJsonHeader, body, x.response),
                          status);
    } catch (const std::exception&) {
        return false;
    }
}

bool MCalendarRESTClient::DeleteVariable(int, int variableId, uint32_t* status) {
    if (status) *status = 0;
    try {
        Exchange x(*this);
        const std::wstring path = L"/apiv1/variable" + Format(L"/%d", variableId);
        return x.Accepted(x.client().HttpDelete(path, L"", std::string(), x.response), status);
    } catch (const std::exception&) {
        return false;
    }
}
